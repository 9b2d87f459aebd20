# Sourced: the files that hold the tool's messages, and how they are found in them (the
# English source texts in _("...") and Translate("..."), and the values' words in N_("...")).
catalog_sources=(src/inputs/InstallationFiles.h
                 src/app/tool/Check.cpp src/app/tool/CommandLine.cpp src/app/tool/Commands.cpp
                 src/app/tool/ConfigChange_posix.cpp src/app/tool/ToolSystem_posix.cpp
                 src/app/tool/ConfigChange_win.cpp src/app/tool/ToolSystem_win.cpp
                 src/app/settings/Settings.cpp)

extract_messages() {  # source-root: the template on standard output
  (cd "$1" && xgettext --language=C++ --from-code=UTF-8 --keyword=_ --keyword=N_ --keyword=Translate \
    --no-location --no-wrap --package-name=companymain-config -o - "${catalog_sources[@]}")
}
