; CompanyMain-Setup-<version>.exe: one setup for 64-bit and 32-bit Windows, per machine.
; makensis -DVERSION=1.0.0 -DBUILD64=<folder> -DBUILD32=<folder> -DOUTFILE=<exe>
;          [-DSIGNER=<command>]   (signs the uninstaller as it is written, and the setup)
;          [-DTARGET=amd64-unicode]  (the same setup as a 64-bit program; x86-unicode otherwise)
; Command line of the setup (all optional):
;   /S /URL=... /COMPANYNUM=... /COMPANYTYPE=... /COMPANYNAME=... /DEVICEID=... /UPLOADUSER=...
;   /OTHERINFO=... /D=<folder>
; Each option given changes that value alone, every other one is kept (/UPLOADUSER= with
; nothing after "=" clears it). The configuration page shows the installation's values and
; writes the ones changed on it. The setup and the uninstaller speak Simplified Chinese or
; English, as the user's Windows does (English for other languages).
; Command line of the uninstaller: /S, and /REMOVECONFIG to remove the configuration too (it
; stays otherwise).
!ifndef TARGET
  !define TARGET x86-unicode
!endif
Target ${TARGET}
Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include MUI2.nsh

!ifndef VERSION | BUILD64 | BUILD32 | OUTFILE
  !error "VERSION, BUILD64, BUILD32 and OUTFILE must be defined"
!endif

; The sizes of the structures CreateProcessW takes, as the target's compiler lays them out. In
; them a 32-bit member that a pointer follows is written as &i${NSIS_PTR_SIZE}: the member and
; the padding that aligns the pointer (the System plug-in packs members without padding).
!if ${NSIS_PTR_SIZE} == 8
  !define SIZEOF_SECURITY_ATTRIBUTES 24
  !define SIZEOF_STARTUPINFOW 104
!else
  !define SIZEOF_SECURITY_ATTRIBUTES 12
  !define SIZEOF_STARTUPINFOW 68
!endif

!define APP_TITLE "企业信息管理"
; The launcher's message for a PC without a company identity (src/launch/Messages.h).
!define NO_IDENTITY "读取企业身份信息失败,无法启动软件"
!define PUBLISHER "CompanyMain"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\CompanyMain"

Name "${APP_TITLE}"
OutFile "${OUTFILE}"
; $PROGRAMFILES64 is the 64-bit Program Files on 64-bit Windows and the only one elsewhere.
InstallDir "$PROGRAMFILES64\CompanyMain"
BrandingText "${APP_TITLE} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
!macro VERSION_KEYS LANG DESCRIPTION
  VIAddVersionKey /LANG=${LANG} "ProductName" "${APP_TITLE}"
  VIAddVersionKey /LANG=${LANG} "FileDescription" "${DESCRIPTION}"
  VIAddVersionKey /LANG=${LANG} "FileVersion" "${VERSION}"
  VIAddVersionKey /LANG=${LANG} "ProductVersion" "${VERSION}"
  VIAddVersionKey /LANG=${LANG} "CompanyName" "${PUBLISHER}"
  VIAddVersionKey /LANG=${LANG} "LegalCopyright" "${PUBLISHER}"
!macroend

!ifdef SIGNER
  !uninstfinalize '${SIGNER} "%1"'
  !finalize '${SIGNER} "%1"'
!endif

; The configuration, one set of variables per field: the value on the page or the command line,
; the installation's own (what show reported), whether it goes to the tool, the page's field.
!macro FIELD_VARS NAME
  Var ${NAME}
  Var Stored${NAME}
  Var Pass${NAME}
  Var ${NAME}Field
!macroend
!insertmacro FIELD_VARS Url
!insertmacro FIELD_VARS CompanyNum
!insertmacro FIELD_VARS CompanyType
!insertmacro FIELD_VARS CompanyName
!insertmacro FIELD_VARS DeviceId
!insertmacro FIELD_VARS UploadUser
!insertmacro FIELD_VARS OtherInfo
; The folder whose values the page shows.
Var ShownDir
; After the installation: what check reports (its last line) and its exit code.
Var FinishText
Var CheckCode
; The refusal happened before anything was copied.
Var BeforeCopy
; The page's check: what the tool refused, one sentence a line naming the field as the page
; labels it, and the first of those fields in the page's order (7: none).
Var Problems
Var FirstWrong
Var FirstWarned
; What the tool warned of (on the page and in check's answer), one sentence a line; in its
; answer the warnings run from WarningsStart to WarningsEnd.
Var Warnings
Var WarningsStart
Var WarningsEnd
; The finish page's note below its start box: what to do next, and the warnings.
Var FinishNote
; The folder page's text: it names the version an upgrade replaces.
Var DirText
; The finish page's address field.
Var FinishAddress
; The uninstaller removes the configuration too (its page's box, or /REMOVECONFIG); its page's
; text says what happens to it.
Var RemoveConfig
Var RemoveConfigBox
Var KeepLabel

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_DIRECTORYPAGE_TEXT_TOP "$DirText"
!insertmacro MUI_PAGE_DIRECTORY
Page custom ConfigurationPage ConfigurationPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "$(FinishTitle)"
!define MUI_FINISHPAGE_TEXT "$FinishText"
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_RUN "$INSTDIR\CompanyMain.exe"
!define MUI_FINISHPAGE_RUN_TEXT "$(FinishRun)"
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishPageShow
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.KeepPage un.KeepPageLeave
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the one for a Windows that speaks neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro VERSION_KEYS ${LANG_ENGLISH} "${APP_TITLE} Setup"
!insertmacro VERSION_KEYS ${LANG_SIMPCHINESE} "${APP_TITLE} 安装程序"

LangString ConfigTitle ${LANG_ENGLISH} "Configuration"
LangString ConfigTitle ${LANG_SIMPCHINESE} "配置"
LangString ConfigText ${LANG_ENGLISH} "The company page's address and the company's identity, as this PC has them. Only the values you change are written."
LangString ConfigText ${LANG_SIMPCHINESE} "本机现有的企业信息页面地址和企业身份。只写入改动过的值。"
LangString LabelUrl ${LANG_ENGLISH} "Page address (http/https)"
LangString LabelUrl ${LANG_SIMPCHINESE} "页面地址 (http/https)"
LangString LabelNum ${LANG_ENGLISH} "Company number"
LangString LabelNum ${LANG_SIMPCHINESE} "企业编号"
LangString LabelType ${LANG_ENGLISH} "Type code (e.g. R01)"
LangString LabelType ${LANG_SIMPCHINESE} "企业类型 (如 R01)"
LangString LabelName ${LANG_ENGLISH} "Company name"
LangString LabelName ${LANG_SIMPCHINESE} "企业名称"
LangString LabelDevice ${LANG_ENGLISH} "Device ID"
LangString LabelDevice ${LANG_SIMPCHINESE} "设备编号"
LangString LabelUpload ${LANG_ENGLISH} "Upload user (optional)"
LangString LabelUpload ${LANG_SIMPCHINESE} "上传用户 (可空)"
LangString LabelOther ${LANG_ENGLISH} "Other information (optional)"
LangString LabelOther ${LANG_SIMPCHINESE} "其他信息 (可空)"
LangString PageRefused ${LANG_ENGLISH} "Please correct these values to go on:$\r$\n$\r$\n$Problems$\r$\nNothing has been installed or changed yet."
LangString PageRefused ${LANG_SIMPCHINESE} "请改正以下各项后再继续:$\r$\n$\r$\n$Problems$\r$\n还没有安装或改动任何东西。"
LangString PageWarned ${LANG_ENGLISH} "Please note:$\r$\n$\r$\n$Warnings$\r$\nOK goes on with these values; Cancel stays on this page to change them."
LangString PageWarned ${LANG_SIMPCHINESE} "请注意:$\r$\n$\r$\n$Warnings$\r$\n按“确定”用这些值继续; 按“取消”留在此页修改。"
LangString Refused ${LANG_ENGLISH} "The configuration was refused:$\r$\n$\r$\n$R6$\r$\nNothing was installed or changed."
LangString Refused ${LANG_SIMPCHINESE} "配置被拒绝:$\r$\n$\r$\n$R6$\r$\n没有安装或改动任何东西。"
LangString NotWritten ${LANG_ENGLISH} "The configuration was not written:$\r$\n$\r$\n$R6$\r$\nThe programs are installed; run the setup again once the cause is removed."
LangString NotWritten ${LANG_SIMPCHINESE} "配置没有写入:$\r$\n$\r$\n$R6$\r$\n程序已安装; 请排除原因后重新运行安装程序。"
LangString Stopped ${LANG_ENGLISH} "Configuration not written (exit code $R7)"
LangString Stopped ${LANG_SIMPCHINESE} "配置没有写入 (退出代码 $R7)"
LangString ToolFailed ${LANG_ENGLISH} "CompanyMainConfig.exe could not be started."
LangString ToolFailed ${LANG_SIMPCHINESE} "CompanyMainConfig.exe 无法运行。"
LangString TooLong ${LANG_ENGLISH} "The values are too long for the setup (about 1000 characters in all): give them to the MSI or to CompanyMainConfig.exe."
LangString TooLong ${LANG_SIMPCHINESE} "这些值对安装程序来说太长 (总共约 1000 个字符): 请用 MSI 或 CompanyMainConfig.exe 设置。"
LangString ExitCode ${LANG_ENGLISH} "exit code"
LangString ExitCode ${LANG_SIMPCHINESE} "退出代码"
LangString FinishRun ${LANG_ENGLISH} "Start ${APP_TITLE}"
LangString FinishRun ${LANG_SIMPCHINESE} "启动${APP_TITLE}"
LangString FinishOpens ${LANG_ENGLISH} "${APP_TITLE} is installed. Each time it starts, it opens this address:"
LangString FinishOpens ${LANG_SIMPCHINESE} "${APP_TITLE}已安装。启动后将打开这个地址:"
LangString FinishNotYet ${LANG_ENGLISH} "${APP_TITLE} is installed, but it cannot open its page yet:"
LangString FinishNotYet ${LANG_SIMPCHINESE} "${APP_TITLE}已安装, 但还不能打开页面:"
LangString FinishNoIdentity ${LANG_ENGLISH} "${APP_TITLE} is installed, but this PC has no company identity yet, so it cannot open its page:"
LangString FinishNoIdentity ${LANG_SIMPCHINESE} "${APP_TITLE}已安装, 但本机还没有企业身份, 所以还不能打开页面:"
LangString FinishMessage ${LANG_ENGLISH} "Instead of the page, it shows this message:"
LangString FinishMessage ${LANG_SIMPCHINESE} "它将显示这条消息, 而不打开页面:"
LangString FinishEnterIdentity ${LANG_ENGLISH} "Enter the company number, type code and device ID in $\"${APP_TITLE} 设置$\" in the Start menu."
LangString FinishEnterIdentity ${LANG_SIMPCHINESE} "请在“开始”菜单的“${APP_TITLE} 设置”中填写企业编号、企业类型和设备编号。"
LangString Note ${LANG_ENGLISH} "Note:"
LangString Note ${LANG_SIMPCHINESE} "注意:"
LangString FinishTitle ${LANG_ENGLISH} "Setup is complete"
LangString FinishTitle ${LANG_SIMPCHINESE} "${APP_TITLE}安装完成"
LangString UpgradeDir ${LANG_ENGLISH} "Version $0 of ${APP_TITLE} is installed in this folder. Setup replaces it with version ${VERSION} and keeps its configuration. Choose another folder to install a separate copy."
LangString UpgradeDir ${LANG_SIMPCHINESE} "此文件夹中已安装${APP_TITLE} $0 版。安装程序将把它升级到 ${VERSION} 版, 并保留其配置。如需另装一份, 请选择其他文件夹。"
LangString NewDir ${LANG_ENGLISH} "Setup installs ${APP_TITLE} ${VERSION} in this folder. To install it elsewhere, choose another folder."
LangString NewDir ${LANG_SIMPCHINESE} "安装程序将把${APP_TITLE} ${VERSION} 安装到此文件夹。如需安装到其他位置, 请选择其他文件夹。"
LangString KeepTitle ${LANG_ENGLISH} "Configuration"
LangString KeepTitle ${LANG_SIMPCHINESE} "配置"
LangString KeepSubtitle ${LANG_ENGLISH} "What happens to this PC's page address and company identity."
LangString KeepSubtitle ${LANG_SIMPCHINESE} "本机的页面地址和企业身份如何处理。"
LangString KeepText ${LANG_ENGLISH} "The configuration stays in $INSTDIR\Config: the page address (Config.ini) and the company identity (Company.ini). A later installation in this folder opens the same page without asking again."
LangString KeepText ${LANG_SIMPCHINESE} "配置保留在 $INSTDIR\Config 中: 页面地址 (Config.ini) 和企业身份 (Company.ini)。以后安装到此文件夹时, 无需重新输入即可打开同一页面。"
LangString RemoveText ${LANG_ENGLISH} "The configuration in $INSTDIR\Config is removed with the programs: the page address (Config.ini) and the company identity (Company.ini). A later installation has to be given them again."
LangString RemoveText ${LANG_SIMPCHINESE} "$INSTDIR\Config 中的配置将随程序一起删除: 页面地址 (Config.ini) 和企业身份 (Company.ini)。以后安装时须重新输入。"
LangString KeepRemove ${LANG_ENGLISH} "Remove the configuration too"
LangString KeepRemove ${LANG_SIMPCHINESE} "同时删除配置"

; The value of a command-line option such as /URL=..., split as Windows splits a command line:
; /URL="http://a b/" and "/URL=http://a b/" both give http://a b/. (GetOptions would end the
; value at its first slash.) Stack: option in. Out: $R0 the value, $R1 "1" when the option is
; given (also with an empty value).
Function GetOption
  Pop $0
  System::Call 'kernel32::GetCommandLineW() p .r1'
  System::Call 'shell32::CommandLineToArgvW(p r1, *i .r2) p .r3'
  StrLen $4 $0
  StrCpy $R0 ""
  StrCpy $R1 ""
  ${If} $3 P<> 0
    ${For} $6 1 $2
      ${If} $6 == $2
        ${Break}
      ${EndIf}
      IntOp $7 $6 * ${NSIS_PTR_SIZE}
      IntPtrOp $7 $3 + $7
      System::Call '*$7(p .r1)'
      ; At most a string's length: a value cut here fills the tool's command line with what is
      ; left of it, and RunConfigTool refuses that.
      System::Call 'kernel32::lstrcpynW(w .r1, p r1, i ${NSIS_MAX_STRLEN})'
      StrCpy $7 $1 $4
      ${If} $7 == $0
        StrCpy $R0 $1 "" $4
        StrCpy $R1 1
      ${EndIf}
    ${Next}
    System::Call 'kernel32::LocalFree(p r3)'
  ${EndIf}
FunctionEnd

!macro GET_OPTION NAME OPTION
  Push "${OPTION}"
  Call GetOption
  StrCpy $${NAME} $R0
  StrCpy $Pass${NAME} $R1
!macroend

Function .onInit
  SetShellVarContext all
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; An upgrade goes where the earlier version is, unless /D says otherwise.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} $INSTDIR == "$PROGRAMFILES64\CompanyMain"
    StrCpy $INSTDIR $0
  ${EndIf}
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $0 != ""
    StrCpy $DirText "$(UpgradeDir)"
  ${Else}
    StrCpy $DirText "$(NewDir)"
  ${EndIf}
  ; Values given on the command line go to the tool as given (a silent run has no page).
  !insertmacro GET_OPTION Url "/URL="
  !insertmacro GET_OPTION CompanyNum "/COMPANYNUM="
  !insertmacro GET_OPTION CompanyType "/COMPANYTYPE="
  !insertmacro GET_OPTION CompanyName "/COMPANYNAME="
  !insertmacro GET_OPTION DeviceId "/DEVICEID="
  !insertmacro GET_OPTION UploadUser "/UPLOADUSER="
  !insertmacro GET_OPTION OtherInfo "/OTHERINFO="
  ; The configuration tool of this PC's architecture, to read and check the configuration
  ; before anything is installed.
  InitPluginsDir
  ${If} ${RunningX64}
    File "/oname=$PLUGINSDIR\CompanyMainConfig.exe" "${BUILD64}\CompanyMainConfig.exe"
  ${Else}
    File "/oname=$PLUGINSDIR\CompanyMainConfig.exe" "${BUILD32}\CompanyMainConfig.exe"
  ${EndIf}
FunctionEnd

; Quotes one argument the way programs split their command line: backslashes stay as they are
; unless a quote follows them. Stack: text in, quoted argument out.
Function QuoteArgument
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $1 '"'
  StrCpy $2 0
  StrCpy $4 ""
  ${Do}
    StrCpy $3 $0 1 $2
    ${If} $3 == ""
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
    ${If} $3 == "\"
      StrCpy $4 "$4\"
    ${ElseIf} $3 == '"'
      StrCpy $1 '$1$4$4\"'
      StrCpy $4 ""
    ${Else}
      StrCpy $1 "$1$4$3"
      StrCpy $4 ""
    ${EndIf}
  ${Loop}
  StrCpy $0 '$1$4$4"'
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

!macro QUOTE OUT TEXT
  Push `${TEXT}`
  Call QuoteArgument
  Pop ${OUT}
!macroend

; Runs the configuration tool with the arguments in $R9 against the installation folder; $R7
; gets its exit code, $R6 the start of what it said. Its whole output (UTF-8, as it writes to
; anything but a console) is in $PLUGINSDIR\tool.txt: nsExec would read it in the ANSI code
; page.
Function RunConfigTool
  !insertmacro QUOTE $0 $INSTDIR
  StrCpy $1 '"$PLUGINSDIR\CompanyMainConfig.exe" --dir $0 $R9'
  StrCpy $R6 ""
  StrCpy $R7 "error"
  ; A string holds ${NSIS_MAX_STRLEN} characters: a command line that fills one may have lost
  ; the end of a value, and must not run.
  StrLen $2 $1
  IntOp $3 ${NSIS_MAX_STRLEN} - 1
  ${If} $2 >= $3
    StrCpy $R6 "$(TooLong)"
    StrCpy $R7 2
    Return
  ${EndIf}
  ; An inheritable handle (SECURITY_ATTRIBUTES with bInheritHandle) for standard output and error.
  System::Call '*(&i${NSIS_PTR_SIZE} ${SIZEOF_SECURITY_ATTRIBUTES}, p 0, &i${NSIS_PTR_SIZE} 1) p .r2'
  System::Call 'kernel32::CreateFileW(w "$PLUGINSDIR\tool.txt", i 0x40000000, i 3, p r2, i 2, i 0x80, p 0) p .r3'
  ; STARTUPINFOW with STARTF_USESTDHANDLES (wShowWindow and cbReserved2, both 0, as one member
  ; before lpReserved2), and PROCESS_INFORMATION.
  System::Call '*(&i${NSIS_PTR_SIZE} ${SIZEOF_STARTUPINFOW}, p 0, p 0, p 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0x100, &i${NSIS_PTR_SIZE} 0, p 0, p 0, p r3, p r3) p .r4'
  System::Call '*(p 0, p 0, i 0, i 0) p .r5'
  ${If} $3 P<> -1
    ; CREATE_NO_WINDOW: no console flashes up.
    System::Call 'kernel32::CreateProcessW(p 0, w r1, p 0, p 0, i 1, i 0x08000000, p 0, p 0, p r4, p r5) i .r6'
    ${If} $6 <> 0
      System::Call '*$5(p .r7, p .r8)'
      System::Call 'kernel32::WaitForSingleObject(p r7, i -1)'
      System::Call 'kernel32::GetExitCodeProcess(p r7, *i .r9)'
      StrCpy $R7 $9
      System::Call 'kernel32::CloseHandle(p r7)'
      System::Call 'kernel32::CloseHandle(p r8)'
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r3)'
  ${EndIf}
  System::Free $2
  System::Free $4
  System::Free $5
  ; The start of the output, at most 1000 bytes (a string holds ${NSIS_MAX_STRLEN} characters).
  System::Call 'kernel32::CreateFileW(w "$PLUGINSDIR\tool.txt", i 0x80000000, i 3, p 0, i 3, i 0x80, p 0) p .r3'
  ${If} $3 P<> -1
    System::Alloc 1004
    Pop $4
    System::Call 'kernel32::ReadFile(p r3, p r4, i 1000, *i .r5, p 0)'
    System::Call 'kernel32::MultiByteToWideChar(i 65001, i 0, p r4, i -1, w .R6, i ${NSIS_MAX_STRLEN})'
    System::Free $4
    System::Call 'kernel32::CloseHandle(p r3)'
  ${EndIf}
  ${If} $R7 == "error"
    StrCpy $R6 "$(ToolFailed)"
    StrCpy $R7 3
  ${EndIf}
  DetailPrint "CompanyMainConfig.exe $R9: $R7"
FunctionEnd

; The tool's whole output as wide text in memory: $R5 points at it (0 when there is none; free
; it with System::Free), $R4 at its first line.
Function LoadToolOutput
  StrCpy $R5 0
  System::Call 'kernel32::CreateFileW(w "$PLUGINSDIR\tool.txt", i 0x80000000, i 3, p 0, i 3, i 0x80, p 0) p .r0'
  ${If} $0 P<> -1
    System::Call 'kernel32::GetFileSize(p r0, p 0) i .r1'
    IntOp $2 $1 + 1
    System::Alloc $2
    Pop $2
    System::Call 'kernel32::ReadFile(p r0, p r2, i r1, *i .r3, p 0)'
    ; At most one character per byte, and the terminating zero (the memory comes zeroed).
    IntOp $4 $3 + 1
    IntOp $4 $4 * 2
    System::Alloc $4
    Pop $R5
    System::Call 'kernel32::MultiByteToWideChar(i 65001, i 0, p r2, i r3, p R5, i r3)'
    System::Free $2
    System::Call 'kernel32::CloseHandle(p r0)'
  ${EndIf}
  StrCpy $R4 $R5
FunctionEnd

; The line at $R4 without its line end in $R3 (its first ${NSIS_MAX_STRLEN} - 1 characters);
; $R4 moves on to the next line, and is 0 after the last.
Function NextLine
  StrCpy $R3 ""
  ${If} $R4 P= 0
    Return
  ${EndIf}
  System::Call 'msvcrt::wcschr(p R4, i 10) p .r0'
  ${If} $0 P<> 0
    IntPtrOp $1 $0 - $R4
    IntOp $1 $1 / 2
    IntPtrOp $2 $0 + 2
  ${Else}
    System::Call 'kernel32::lstrlenW(p R4) i .r1'
    StrCpy $2 0
  ${EndIf}
  ${If} $1 > 0
    ; lstrcpynW counts the terminating zero.
    IntOp $1 $1 + 1
    ${If} $1 > ${NSIS_MAX_STRLEN}
      StrCpy $1 ${NSIS_MAX_STRLEN}
    ${EndIf}
    System::Call 'kernel32::lstrcpynW(w .R3, p R4, i r1)'
    StrCpy $0 $R3 1 -1
    ${If} $0 == "$\r"
      StrCpy $R3 $R3 -1
    ${EndIf}
  ${EndIf}
  StrCpy $R4 $2
FunctionEnd

; The value of a line "name=value" of show, in order.
!macro SHOWN NAME FIELD
  Call NextLine
  StrLen $0 "${FIELD}="
  StrCpy $1 $R3 $0
  ${If} $1 == "${FIELD}="
    StrCpy $Stored${NAME} $R3 "" $0
  ${EndIf}
!macroend

; The installation's values, as show reports them, for the page: each field shows the value
; given on the command line or else the installation's own.
Function ReadStored
  !macro CLEAR_STORED NAME
    StrCpy $Stored${NAME} ""
  !macroend
  !insertmacro CLEAR_STORED Url
  !insertmacro CLEAR_STORED CompanyNum
  !insertmacro CLEAR_STORED CompanyType
  !insertmacro CLEAR_STORED CompanyName
  !insertmacro CLEAR_STORED DeviceId
  !insertmacro CLEAR_STORED UploadUser
  !insertmacro CLEAR_STORED OtherInfo
  StrCpy $R9 "show"
  Call RunConfigTool
  ${If} $R7 == 0
    Call LoadToolOutput
    !insertmacro SHOWN Url url
    !insertmacro SHOWN CompanyNum number
    !insertmacro SHOWN CompanyType type
    !insertmacro SHOWN CompanyName name
    !insertmacro SHOWN DeviceId device-id
    !insertmacro SHOWN UploadUser upload-user
    !insertmacro SHOWN OtherInfo other
    System::Free $R5
  ${EndIf}
  !macro SHOW_FIELD NAME
    ${If} $Pass${NAME} != 1
      StrCpy $${NAME} $Stored${NAME}
    ${EndIf}
  !macroend
  !insertmacro SHOW_FIELD Url
  !insertmacro SHOW_FIELD CompanyNum
  !insertmacro SHOW_FIELD CompanyType
  !insertmacro SHOW_FIELD CompanyName
  !insertmacro SHOW_FIELD DeviceId
  !insertmacro SHOW_FIELD UploadUser
  !insertmacro SHOW_FIELD OtherInfo
FunctionEnd

; Labels sized for the longer English ones, "(optional)" included; the field ends a little
; before the page's right edge.
!macro FIELD NAME LABEL TOP
  ${NSD_CreateLabel} 0 ${TOP} 42% 10u "${LABEL}"
  Pop $0
  ${NSD_CreateText} 43% ${TOP} 56% 12u $${NAME}
  Pop $${NAME}Field
!macroend

Function ConfigurationPage
  ${If} $ShownDir != $INSTDIR
    Call ReadStored
    StrCpy $ShownDir $INSTDIR
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "$(ConfigTitle)" "$(ConfigText)"
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  !insertmacro FIELD Url "$(LabelUrl)" 0
  !insertmacro FIELD CompanyNum "$(LabelNum)" 18u
  !insertmacro FIELD CompanyType "$(LabelType)" 36u
  !insertmacro FIELD CompanyName "$(LabelName)" 54u
  !insertmacro FIELD DeviceId "$(LabelDevice)" 72u
  !insertmacro FIELD UploadUser "$(LabelUpload)" 90u
  !insertmacro FIELD OtherInfo "$(LabelOther)" 108u
  ; Back keeps what was typed, for when the user comes back to the page.
  GetFunctionAddress $0 ReadFields
  nsDialogs::OnBack $0
  ${NSD_SetFocus} $UrlField
  nsDialogs::Show
FunctionEnd

; What the fields hold; a value goes to the tool when it differs from the installation's.
Function ReadFields
  !macro READ_FIELD NAME
    ${NSD_GetText} $${NAME}Field $${NAME}
    StrCpy $Pass${NAME} ""
    ${If} $${NAME} S!= $Stored${NAME}
      StrCpy $Pass${NAME} 1
    ${EndIf}
  !macroend
  !insertmacro READ_FIELD Url
  !insertmacro READ_FIELD CompanyNum
  !insertmacro READ_FIELD CompanyType
  !insertmacro READ_FIELD CompanyName
  !insertmacro READ_FIELD DeviceId
  !insertmacro READ_FIELD UploadUser
  !insertmacro READ_FIELD OtherInfo
FunctionEnd

; The field of index $FirstWrong (in the page's order) takes the focus, its text selected.
Function FocusFirstWrong
  !macro FOCUS_WRONG NAME INDEX
    ${If} $FirstWrong == ${INDEX}
      ${NSD_SetFocus} $${NAME}Field
      SendMessage $${NAME}Field ${EM_SETSEL} 0 -1
    ${EndIf}
  !macroend
  !insertmacro FOCUS_WRONG Url 0
  !insertmacro FOCUS_WRONG CompanyNum 1
  !insertmacro FOCUS_WRONG CompanyType 2
  !insertmacro FOCUS_WRONG CompanyName 3
  !insertmacro FOCUS_WRONG DeviceId 4
  !insertmacro FOCUS_WRONG UploadUser 5
  !insertmacro FOCUS_WRONG OtherInfo 6
FunctionEnd

; The tool checks every value before the page is left: a refusal keeps the page, with the
; values as typed. What it warns of is shown too, and does not keep the page unless asked.
Function ConfigurationPageLeave
  Call ReadFields
  StrCpy $Problems ""
  StrCpy $Warnings ""
  StrCpy $FirstWrong 7
  StrCpy $FirstWarned 7
  Push "--dry-run --json"
  Call ConfigureWith
  ${If} $Problems != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(PageRefused)"
    Call FocusFirstWrong
    Abort
  ${EndIf}
  ${If} $Warnings != ""
  ${AndIf} ${Cmd} `MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "$(PageWarned)" IDCANCEL`
    StrCpy $FirstWrong $FirstWarned
    Call FocusFirstWrong
    Abort
  ${EndIf}
FunctionEnd

; A JSON string of the line $R3 from the character after its opening quote at $0: $3 gets its
; text (a line break as a blank), $0 moves past its closing quote.
Function ReadJsonString
  StrCpy $3 ""
  ${Do}
    StrCpy $1 $R3 1 $0
    IntOp $0 $0 + 1
    ${If} $1 == ""
    ${OrIf} $1 == '"'
      ${Break}
    ${EndIf}
    ${If} $1 == "\"
      StrCpy $1 $R3 1 $0
      IntOp $0 $0 + 1
      ${If} $1 S== "n"
      ${OrIf} $1 S== "r"
      ${OrIf} $1 S== "t"
        StrCpy $1 " "
      ${EndIf}
    ${EndIf}
    StrCpy $3 "$3$1"
  ${Loop}
FunctionEnd

; The field $2 (show's name for it) may be the first of those in VAR, by its index in the
; page's order.
!macro FIELD_BEFORE VAR NAME INDEX
  ${If} $2 S== "${NAME}"
  ${AndIf} ${VAR} > ${INDEX}
    StrCpy ${VAR} ${INDEX}
  ${EndIf}
!macroend
!macro FIRST_FIELD VAR
  !insertmacro FIELD_BEFORE ${VAR} url 0
  !insertmacro FIELD_BEFORE ${VAR} number 1
  !insertmacro FIELD_BEFORE ${VAR} type 2
  !insertmacro FIELD_BEFORE ${VAR} name 3
  !insertmacro FIELD_BEFORE ${VAR} device-id 4
  !insertmacro FIELD_BEFORE ${VAR} upload-user 5
  !insertmacro FIELD_BEFORE ${VAR} other 6
!macroend

; The warnings of the tool's --json answer at $R5 (LoadToolOutput): each one's sentence goes on
; a line of $Warnings, and its field may be the first warned of ($FirstWarned); WarningsStart
; and WarningsEnd bound their list in the answer (0: none).
Function ReadWarnings
  StrCpy $WarningsStart 0
  StrCpy $WarningsEnd 0
  StrCpy $2 '"warnings":['
  System::Call 'msvcrt::wcsstr(p R5, w r2) p .r1'
  ${If} $1 P= 0
    Return
  ${EndIf}
  StrCpy $WarningsStart $1
  System::Call 'kernel32::lstrcpynW(w .R3, p r1, i ${NSIS_MAX_STRLEN})'
  StrLen $0 $2
  ${Do}
    StrCpy $1 $R3 1 $0
    ${If} $1 == ""
    ${OrIf} $1 == "]"
      ${Break}
    ${EndIf}
    IntOp $0 $0 + 1
    ${If} $1 == '"'
      ; A name, and its text when it has one.
      Call ReadJsonString
      StrCpy $2 $3
      StrCpy $1 $R3 2 $0
      ${If} $1 == ':"'
        IntOp $0 $0 + 2
        Call ReadJsonString
        ${If} $2 S== "message"
          StrCpy $Warnings "$Warnings$3$\r$\n"
        ${ElseIf} $2 S== "field"
          StrCpy $2 $3
          !insertmacro FIRST_FIELD $FirstWarned
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${Loop}
  IntOp $1 $0 * 2
  IntPtrOp $WarningsEnd $WarningsStart + $1
FunctionEnd

; The warnings of the last --json run (tool.txt).
Function CollectWarnings
  Call LoadToolOutput
  Call ReadWarnings
  System::Free $R5
FunctionEnd

; The text of the answer's member named in $2 (its name in quotes, the colon and the opening
; quote: "address":") outside its warnings, in $3; "" when it has none.
Function ReadJsonValue
  StrCpy $3 ""
  System::Call 'msvcrt::wcsstr(p R5, w r2) p .r1'
  ${If} $1 P>= $WarningsStart
  ${AndIf} $1 P< $WarningsEnd
    System::Call 'msvcrt::wcsstr(p $WarningsEnd, w r2) p .r1'
  ${EndIf}
  ${If} $1 P<> 0
    StrLen $0 $2
    IntOp $0 $0 * 2
    IntPtrOp $1 $1 + $0
    System::Call 'kernel32::lstrcpynW(w .R3, p r1, i ${NSIS_MAX_STRLEN})'
    StrCpy $0 0
    Call ReadJsonString
  ${EndIf}
FunctionEnd

; What a refused --json run said (its output, tool.txt): each problem's sentence goes on a line
; of $Problems, its field may be the first wrong one; a refusal without problems (a file that
; cannot be read, say) adds its error.
Function CollectProblems
  Call LoadToolOutput
  StrCpy $4 ""
  StrCpy $5 ""
  ${Do}
    Call NextLine
    StrLen $9 $R3
    StrCpy $0 0
    ${DoWhile} $0 < $9
      StrCpy $1 $R3 9 $0
      ${If} $1 S== '"field":"'
        IntOp $0 $0 + 9
        Call ReadJsonString
        StrCpy $2 $3
        !insertmacro FIRST_FIELD $FirstWrong
        StrCpy $1 $R3 12 $0
        ${If} $1 S== ',"message":"'
          IntOp $0 $0 + 12
          Call ReadJsonString
          StrCpy $4 "$4$3$\r$\n"
        ${EndIf}
      ${Else}
        StrCpy $1 $R3 9 $0
        ${If} $1 S== '"error":"'
        ${AndIf} $5 == ""
          IntOp $0 $0 + 9
          Call ReadJsonString
          StrCpy $5 $3
        ${Else}
          IntOp $0 $0 + 1
        ${EndIf}
      ${EndIf}
    ${Loop}
  ${LoopUntil} $R4 P= 0
  System::Free $R5
  ${If} $4 == ""
    StrCpy $4 "$5$\r$\n"
    ${If} $5 == ""
      ; No JSON: the tool could not run, or the values did not fit a command line.
      StrCpy $4 "$R6$\r$\n"
    ${EndIf}
  ${EndIf}
  StrCpy $Problems "$Problems$4"
FunctionEnd

; Runs set-address and set-company with the values to pass, each command with the options on
; the stack before it (--dry-run --json on the page, --dry-run, or nothing); $R7 is the first
; exit code that is not 0, or 0. With --json both commands run, and each refusal's problems
; are collected (CollectProblems).
Function ConfigureWith
  Pop $R8
  StrCpy $R7 0
  StrCpy $R1 0
  ${If} $PassUrl == 1
    ; After --, an address such as --help is an address, and is checked as one.
    !insertmacro QUOTE $0 $Url
    StrCpy $R9 "$R8 set-address -- $0"
    Call RunConfigTool
    ${If} $R8 == "--dry-run --json"
      Call CollectWarnings
    ${EndIf}
    ${If} $R7 != 0
      ${If} $R8 != "--dry-run --json"
        Return
      ${EndIf}
      StrCpy $R1 $R7
      Call CollectProblems
    ${EndIf}
  ${EndIf}
  StrCpy $R2 ""
  !macro OPTION NAME OPTION
    ${If} $Pass${NAME} == 1
      !insertmacro QUOTE $0 $${NAME}
      StrCpy $R2 "$R2 ${OPTION} $0"
    ${EndIf}
  !macroend
  !insertmacro OPTION CompanyNum --number
  !insertmacro OPTION CompanyType --type
  !insertmacro OPTION CompanyName --name
  !insertmacro OPTION DeviceId --device-id
  !insertmacro OPTION UploadUser --upload-user
  !insertmacro OPTION OtherInfo --other
  ${If} $R2 != ""
    StrCpy $R9 "$R8 set-company$R2"
    Call RunConfigTool
    ${If} $R8 == "--dry-run --json"
      Call CollectWarnings
    ${EndIf}
    ${If} $R7 != 0
    ${AndIf} $R8 == "--dry-run --json"
      Call CollectProblems
    ${EndIf}
  ${EndIf}
  ${If} $R1 != 0
    StrCpy $R7 $R1
  ${EndIf}
FunctionEnd

; A refused or failed configuration stops the setup, with the tool's code as exit code.
Function ConfigurationFailed
  SetErrorLevel $R7
  DetailPrint $R6
  ; Also for silent runs, which show no message: what the tool said, in the user's temporary
  ; folder.
  FileOpen $0 "$TEMP\CompanyMain-Setup.log" w
  ${If} $0 != ""
    FileWriteUTF16LE /BOM $0 "CompanyMainConfig.exe $R9$\r$\n$(ExitCode) $R7$\r$\n$R6$\r$\n"
    FileClose $0
  ${EndIf}
  ${IfNot} ${Silent}
    ${If} $BeforeCopy == 1
      MessageBox MB_OK|MB_ICONSTOP "$(Refused)"
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP "$(NotWritten)"
    ${EndIf}
  ${EndIf}
  Abort "$(Stopped)"
FunctionEnd

; What check says of the installation, for the finish page: the address the launcher opens,
; or the message it shows instead (labelled in the setup's language: the launcher speaks
; Chinese), what to do then, and what the tool warns of.
Function ReadFinish
  StrCpy $R9 "--json check"
  Call RunConfigTool
  StrCpy $CheckCode $R7
  StrCpy $Warnings ""
  StrCpy $FinishNote ""
  StrCpy $3 ""
  StrCpy $FinishText "$(FinishNotYet)"
  Call LoadToolOutput
  ${If} $R5 P<> 0
    Call ReadWarnings
    ${If} $CheckCode == 0
      StrCpy $2 '"address":"'
      Call ReadJsonValue
      StrCpy $FinishAddress $3
      StrCpy $FinishText "$(FinishOpens)"
    ${Else}
      StrCpy $2 '"message":"'
      Call ReadJsonValue
      StrCpy $FinishAddress "$(FinishMessage)$\r$\n$3"
      ${If} $3 S== "${NO_IDENTITY}"
        StrCpy $FinishText "$(FinishNoIdentity)"
        StrCpy $FinishNote "$(FinishEnterIdentity)"
      ${ElseIf} $3 == ""
        ; A check that could not read the files says why instead.
        StrCpy $2 '"error":"'
        Call ReadJsonValue
        StrCpy $FinishAddress $3
      ${EndIf}
    ${EndIf}
    System::Free $R5
  ${EndIf}
  ; No answer (the tool could not run): what it said, or why it did not run.
  ${If} $3 == ""
    StrCpy $FinishAddress $R6
  ${EndIf}
  ${If} $Warnings != ""
    ${If} $FinishNote != ""
      StrCpy $FinishNote "$FinishNote$\r$\n$\r$\n"
    ${EndIf}
    StrCpy $FinishNote "$FinishNote$(Note) $Warnings"
  ${EndIf}
FunctionEnd

; The page's text is two lines at most; below it, the address (or the reason) in a read-only
; field: a label would take each & for a mnemonic and clip a long line.
Function FinishPageShow
  System::Call '*(i 0, i 0, i 195, i 20) p .r1'
  System::Call 'user32::MapDialogRect(p $mui.FinishPage, p r1)'
  System::Call '*$1(i, i, i .r2, i .r3)'
  System::Free $1
  System::Call 'user32::SetWindowPos(p $mui.FinishPage.Text, p 0, i 0, i 0, i r2, i r3, i 0x16)'
  nsDialogs::CreateControl EDIT ${DEFAULT_STYLES}|${WS_TABSTOP}|${WS_VSCROLL}|${ES_MULTILINE}|${ES_READONLY}|${ES_AUTOVSCROLL} ${WS_EX_CLIENTEDGE} 120u 66u 195u 40u "$FinishAddress"
  Pop $0
  ; Started now it would only show its message.
  ${If} $CheckCode != 0
    ${NSD_Uncheck} $mui.FinishPage.Run
  ${EndIf}
  ; Below the start box: what to do next and the warnings (an & in them is no mnemonic).
  ${If} $FinishNote != ""
    nsDialogs::CreateControl STATIC ${DEFAULT_STYLES}|${SS_NOPREFIX} ${WS_EX_TRANSPARENT} 120u 126u 195u 60u "$FinishNote"
    Pop $0
    SetCtlColors $0 "${MUI_TEXTCOLOR}" "${MUI_BGCOLOR}"
  ${EndIf}
FunctionEnd

Section "CompanyMain"
  ; Checked again, for a silent run has no page: a value refused stops the setup before
  ; anything is copied.
  StrCpy $BeforeCopy 1
  Push "--dry-run"
  Call ConfigureWith
  ${If} $R7 != 0
    Call ConfigurationFailed
  ${EndIf}
  StrCpy $BeforeCopy 0

  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "${BUILD64}\CompanyMain.exe"
    File "${BUILD64}\CompanyMainConfig.exe"
    File "${BUILD64}\CompanyMainSettings.exe"
  ${Else}
    File "${BUILD32}\CompanyMain.exe"
    File "${BUILD32}\CompanyMainConfig.exe"
    File "${BUILD32}\CompanyMainSettings.exe"
  ${EndIf}
  CreateDirectory "$INSTDIR\Config"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\${APP_TITLE}.lnk" "$INSTDIR\CompanyMain.exe" "" "$INSTDIR\CompanyMain.exe" 0
  CreateShortcut "$DESKTOP\${APP_TITLE}.lnk" "$INSTDIR\CompanyMain.exe" "" "$INSTDIR\CompanyMain.exe" 0
  ; The settings window, for the values months later, beside the launcher in the Start menu.
  CreateShortcut "$SMPROGRAMS\${APP_TITLE} 设置.lnk" "$INSTDIR\CompanyMainSettings.exe" "" "$INSTDIR\CompanyMain.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP_TITLE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\CompanyMain.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  ; Modify in Apps & Features opens the settings window.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "ModifyPath" '"$INSTDIR\CompanyMainSettings.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"

  ; Last, once the programs are in place; only the values given or changed.
  Push ""
  Call ConfigureWith
  ${If} $R7 != 0
    Call ConfigurationFailed
  ${EndIf}
  ${IfNot} ${Silent}
    Call ReadFinish
  ${EndIf}
SectionEnd

Function un.onInit
  SetShellVarContext all
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  StrCpy $RemoveConfig 0
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/REMOVECONFIG" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveConfig 1
  ${EndIf}
FunctionEnd

; Names the configuration that stays, with a box to remove it too (clear unless /REMOVECONFIG).
Function un.KeepPage
  !insertmacro MUI_HEADER_TEXT "$(KeepTitle)" "$(KeepSubtitle)"
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 40u "$(KeepText)"
  Pop $KeepLabel
  ${NSD_CreateCheckbox} 0 48u 100% 12u "$(KeepRemove)"
  Pop $RemoveConfigBox
  ${If} $RemoveConfig == 1
    ${NSD_Check} $RemoveConfigBox
  ${EndIf}
  Push $RemoveConfigBox
  Call un.KeepTextFollowsBox
  ${NSD_OnClick} $RemoveConfigBox un.KeepTextFollowsBox
  nsDialogs::Show
FunctionEnd

; The page's text says what happens to the configuration as the box (on the stack, as
; nsDialogs hands a click on) stands.
Function un.KeepTextFollowsBox
  Pop $0
  ${NSD_GetState} $0 $0
  ${If} $0 == ${BST_CHECKED}
    ${NSD_SetText} $KeepLabel "$(RemoveText)"
  ${Else}
    ${NSD_SetText} $KeepLabel "$(KeepText)"
  ${EndIf}
FunctionEnd

Function un.KeepPageLeave
  ${NSD_GetState} $RemoveConfigBox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $RemoveConfig 1
  ${Else}
    StrCpy $RemoveConfig 0
  ${EndIf}
FunctionEnd

; The configuration (Config\ with its files) stays unless asked otherwise: a reinstallation or
; a newer version finds it as it was. An empty Config folder goes with the rest.
Section "Uninstall"
  ${If} $RemoveConfig == 1
    Delete "$INSTDIR\Config\Config.ini"
    Delete "$INSTDIR\Config\Company.ini"
  ${EndIf}
  Delete "$SMPROGRAMS\${APP_TITLE}.lnk"
  Delete "$SMPROGRAMS\${APP_TITLE} 设置.lnk"
  Delete "$DESKTOP\${APP_TITLE}.lnk"
  Delete "$INSTDIR\CompanyMain.exe"
  Delete "$INSTDIR\CompanyMainConfig.exe"
  Delete "$INSTDIR\CompanyMainSettings.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR\Config"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
