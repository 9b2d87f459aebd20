#include "inputs/ConfigFolder.h"

#include "common/ProgramFolder.h"
#include "inputs/InstallationFiles.h"

TProgramConfigFolder::TProgramConfigFolder() : TProgramConfigFolder(ProgramFolder()) {}

TProgramConfigFolder::TProgramConfigFolder(std::string programFolder)
    : programFolder_(std::move(programFolder)) {}

std::string TProgramConfigFolder::PathOf(std::string_view fileName) {
  if (programFolder_.empty()) return {};
  return programFolder_ + std::string(kConfigFolderName) + PathSeparator() + std::string(fileName);
}

void TSectionReading::Start(std::string_view start) {
  encoding_ = IniEncodingOf(start);
  const TCodePage& text = encoding_ == TIniEncoding::Ansi ? ansi_ : unicode_;
  decoder_.emplace(text);
  // Text in another code page than the launcher's is read to be kept: no cut the launcher's
  // own reading (kIniValueMax characters of UTF-16, three bytes each at most) would not make.
  scanner_.emplace(section_, keys_, text, &text == &ansi_ ? kIniValueMax : 3 * kIniValueMax);
  Feed(start);
}

bool TSectionReading::Feed(std::string_view bytes) {
  text_.clear();
  decoder_->Feed(bytes, text_);
  return scanner_->Feed(text_);
}

std::optional<bool> TSectionReading::FeedZeros(std::uint64_t count) {
  const auto nuls = decoder_->NulsOfZeroBytes(count);
  if (!nuls) return std::nullopt;
  return scanner_->FeedNuls(*nuls);
}

TFileRead TSectionReading::Finish() {
  text_.clear();
  decoder_->Finish(text_);
  scanner_->Feed(text_);
  TFileRead read;
  read.state = TFileRead::State::Read;
  read.encoding = encoding_;
  read.values = scanner_->Finish();
  return read;
}
