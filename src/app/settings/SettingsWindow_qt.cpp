// The settings window on Linux (Qt Widgets, the desktop's own look): the seven values, Save,
// and what the launcher then opens. The work is TSettings's; this shows it.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>
#include <utility>

#include "settings/SettingsWindow.h"
#include "qt/MessageBox_qt.h"

namespace {

// A read-only text field whose text can be selected and copied.
QPlainTextEdit* ShownText(int lines) {
  auto* text = new QPlainTextEdit;
  text->setReadOnly(true);
  text->setFixedHeight(
      text->fontMetrics().lineSpacing() * lines +
      2 * (text->frameWidth() + static_cast<int>(text->document()->documentMargin())));
  return text;
}

class TSettingsWindowQt final : public QDialog {
 public:
  explicit TSettingsWindowQt(TSettings& settings) : settings_(settings), texts_(settings.Texts()) {
    setWindowTitle(QStringFromUtf8(texts_.title));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(QStringFromUtf8(texts_.intro));
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* form = new QFormLayout;
    for (std::size_t i = 0; i < kSettingsFieldCount; ++i) {
      fields_[i] = new QLineEdit;
      fields_[i]->setMinimumWidth(360);
      // The label is the field's name for a screen reader too.
      auto* label = new QLabel(QStringFromUtf8(texts_.labels[i]));
      label->setBuddy(fields_[i]);
      form->addRow(label, fields_[i]);
    }
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox;
    QPushButton* save =
        buttons->addButton(QStringFromUtf8(texts_.save), QDialogButtonBox::ActionRole);
    save->setDefault(true);
    auto* close = buttons->addButton(QStringFromUtf8(texts_.close), QDialogButtonBox::RejectRole);
    close->setAutoDefault(false);
    connect(save, &QPushButton::clicked, this, [this] { Save(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    sent_ = ShownText(7);
    address_ = ShownText(4);
    for (const auto& [text, field] : {std::pair{texts_.sent, sent_}, {texts_.address, address_}}) {
      auto* label = new QLabel(QStringFromUtf8(text));
      label->setBuddy(field);
      layout->addWidget(label);
      layout->addWidget(field);
    }
    warnings_ = new QLabel;
    warnings_->setWordWrap(true);
    layout->addWidget(warnings_);

    const std::string failure = ShowStored();
    ShowLaunch();
    if (!failure.empty()) Tell(QMessageBox::Critical, failure);
    fields_[0]->setFocus();
    fields_[0]->selectAll();
  }

  // Close, Escape and the title bar's close button alike.
  void reject() override {
    if (!isEnabled()) return;  // a save is under way
    const std::string question = settings_.CloseQuestion(Shown());
    if (!question.empty()) {
      QMessageBox box(QMessageBox::Question, QStringFromUtf8(texts_.title),
                      QStringFromUtf8(question), QMessageBox::Discard | QMessageBox::Cancel, this);
      box.setDefaultButton(QMessageBox::Cancel);
      if (box.exec() != QMessageBox::Discard) return;
    }
    QDialog::reject();
  }

 private:
  void Tell(QMessageBox::Icon icon, const std::string& text) {
    QMessageBox box(icon, QStringFromUtf8(texts_.title), QStringFromUtf8(text), QMessageBox::Ok,
                    this);
    // The tool's commands and the address can be copied from it.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
  }

  TSettingsValues Shown() const {
    TSettingsValues shown;
    for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
      shown[i] = fields_[i]->text().toStdString();
    return shown;
  }

  std::string ShowStored() {
    const TSettingsLoad load = settings_.Load();
    for (std::size_t i = 0; i < kSettingsFieldCount; ++i)
      fields_[i]->setText(QStringFromUtf8(load.values[i]));
    return load.failure;
  }

  void ShowLaunch() {
    const TSettingsLaunch launch = settings_.Launch();
    QString sent;
    for (const auto& [name, value] : launch.sent)
      sent += QStringFromUtf8(name) + "=" + QStringFromUtf8(value) + "\n";
    sent_->setPlainText(sent.trimmed());
    address_->setPlainText(QStringFromUtf8(launch.shown));
    QString warnings;
    for (const TSettingsProblem& warning : launch.warnings)
      warnings += QStringFromUtf8(warning.text) + "\n";
    warnings_->setText(warnings.trimmed());
    warnings_->setVisible(!warnings.isEmpty());
  }

  void Save() {
    // Not to be touched while polkit asks for the password.
    setEnabled(false);
    const TSettingsSave saved = settings_.Save(Shown());
    setEnabled(true);
    switch (saved.kind) {
      case TSettingsSave::Kind::Refused:
        Tell(QMessageBox::Warning, saved.message);
        fields_[saved.focus]->setFocus();
        fields_[saved.focus]->selectAll();
        return;
      case TSettingsSave::Kind::Failed:
        // Nothing else runs: the window keeps the values as typed and what it showed.
        Tell(QMessageBox::Critical, saved.message);
        return;
      case TSettingsSave::Kind::Saved:
      case TSettingsSave::Kind::Unchanged:
        break;
    }
    Tell(QMessageBox::Information, saved.message);
    if (saved.kind == TSettingsSave::Kind::Saved) {
      if (const std::string failure = ShowStored(); !failure.empty())
        Tell(QMessageBox::Critical, failure);
      ShowLaunch();
    }
  }

  TSettings& settings_;
  TSettingsTexts texts_;
  std::array<QLineEdit*, kSettingsFieldCount> fields_{};
  QPlainTextEdit* sent_ = nullptr;
  QPlainTextEdit* address_ = nullptr;
  QLabel* warnings_ = nullptr;
};

}  // namespace

int RunSettingsWindow(TConfigToolSystem& system, TSettingsWriter& writer) {
  TSettings settings(system, writer);
  TSettingsWindowQt window(settings);
  window.exec();
  return 0;
}
