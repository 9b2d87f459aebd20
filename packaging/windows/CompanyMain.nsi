; CompanyMain-Setup-<version>.exe: one setup for 64-bit and 32-bit Windows, per machine.
; makensis -DVERSION=1.0.0 -DBUILD64=<folder> -DBUILD32=<folder> -DOUTFILE=<exe>
;          [-DSIGNER=<command>]   (signs the uninstaller as it is written, and the setup)
;          [-DTARGET=amd64-unicode]  (the same setup as a 64-bit program; x86-unicode otherwise)
; Command line of the setup (all optional):
;   /S /URL=... /COMPANYNUM=... /COMPANYTYPE=... /COMPANYNAME=... /DEVICEID=... /UPLOADUSER=...
;   /OTHERINFO=... /D=<folder>
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
!define PUBLISHER "CompanyMain"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\CompanyMain"

Name "${APP_TITLE}"
OutFile "${OUTFILE}"
; $PROGRAMFILES64 is the 64-bit Program Files on 64-bit Windows and the only one elsewhere.
InstallDir "$PROGRAMFILES64\CompanyMain"
BrandingText "${APP_TITLE} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "${APP_TITLE}"
VIAddVersionKey /LANG=2052 "FileDescription" "${APP_TITLE} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "${PUBLISHER}"

!ifdef SIGNER
  !uninstfinalize '${SIGNER} "%1"'
  !finalize '${SIGNER} "%1"'
!endif

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
Page custom ConfigurationPage ConfigurationPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

; The configuration to write; all empty keeps what an earlier installation wrote.
Var Url
Var CompanyNum
Var CompanyType
Var CompanyName
Var DeviceId
Var UploadUser
Var OtherInfo
; The page's edit fields.
Var UrlField
Var NumField
Var TypeField
Var NameField
Var DeviceField
Var UploadField
Var OtherField

; The value of a command-line option such as /URL=..., split as Windows splits a command line:
; /URL="http://a b/" and "/URL=http://a b/" both give http://a b/. (GetOptions would end the
; value at its first slash.) Stack: option in, value out ("" when it is not given).
Function GetOption
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  System::Call 'kernel32::GetCommandLineW() p .r1'
  System::Call 'shell32::CommandLineToArgvW(p r1, *i .r2) p .r3'
  StrLen $4 $0
  StrCpy $5 ""
  ${If} $3 P<> 0
    ${For} $6 1 $2
      ${If} $6 == $2
        ${Break}
      ${EndIf}
      IntOp $7 $6 * ${NSIS_PTR_SIZE}
      IntPtrOp $7 $3 + $7
      System::Call '*$7(p .r1)'
      System::Call '*$1(&w${NSIS_MAX_STRLEN} .r1)'
      StrCpy $7 $1 $4
      ${If} $7 == $0
        StrCpy $5 $1 "" $4
      ${EndIf}
    ${Next}
    System::Call 'kernel32::LocalFree(p r3)'
  ${EndIf}
  StrCpy $0 $5
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

!macro GET_OPTION OUT NAME
  Push "${NAME}"
  Call GetOption
  Pop ${OUT}
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
  !insertmacro GET_OPTION $Url "/URL="
  !insertmacro GET_OPTION $CompanyNum "/COMPANYNUM="
  !insertmacro GET_OPTION $CompanyType "/COMPANYTYPE="
  !insertmacro GET_OPTION $CompanyName "/COMPANYNAME="
  !insertmacro GET_OPTION $DeviceId "/DEVICEID="
  !insertmacro GET_OPTION $UploadUser "/UPLOADUSER="
  !insertmacro GET_OPTION $OtherInfo "/OTHERINFO="
FunctionEnd

Function ConfigurationPage
  !insertmacro MUI_HEADER_TEXT "配置" "企业信息页面地址和企业身份。全部留空则保留已有的配置。"
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 2u 30% 10u "页面地址 (http/https)"
  ${NSD_CreateText} 31% 0 69% 12u $Url
  Pop $UrlField
  ${NSD_CreateLabel} 0 20u 30% 10u "企业编号"
  ${NSD_CreateText} 31% 18u 69% 12u $CompanyNum
  Pop $NumField
  ${NSD_CreateLabel} 0 38u 30% 10u "企业类型"
  ${NSD_CreateText} 31% 36u 69% 12u $CompanyType
  Pop $TypeField
  ${NSD_CreateLabel} 0 56u 30% 10u "企业名称"
  ${NSD_CreateText} 31% 54u 69% 12u $CompanyName
  Pop $NameField
  ${NSD_CreateLabel} 0 74u 30% 10u "设备编号"
  ${NSD_CreateText} 31% 72u 69% 12u $DeviceId
  Pop $DeviceField
  ${NSD_CreateLabel} 0 92u 30% 10u "上传用户 (可空)"
  ${NSD_CreateText} 31% 90u 69% 12u $UploadUser
  Pop $UploadField
  ${NSD_CreateLabel} 0 110u 30% 10u "其他信息 (可空)"
  ${NSD_CreateText} 31% 108u 69% 12u $OtherInfo
  Pop $OtherField
  nsDialogs::Show
FunctionEnd

Function ConfigurationPageLeave
  ${NSD_GetText} $UrlField $Url
  ${NSD_GetText} $NumField $CompanyNum
  ${NSD_GetText} $TypeField $CompanyType
  ${NSD_GetText} $NameField $CompanyName
  ${NSD_GetText} $DeviceField $DeviceId
  ${NSD_GetText} $UploadField $UploadUser
  ${NSD_GetText} $OtherField $OtherInfo
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

; Runs CompanyMainConfig.exe with the arguments in $R9 against the folder in $R8; $R7 gets its
; exit code, $R6 what it printed. Its output (UTF-8, as it writes to anything but a console) goes
; to a file read back as UTF-8: nsExec would read it in the ANSI code page.
Function RunConfigTool
  !insertmacro QUOTE $0 $R8
  StrCpy $1 '"$INSTDIR\CompanyMainConfig.exe" --dir $0 $R9'
  StrCpy $R6 ""
  StrCpy $R7 "error"
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
  ; The output, at most 1000 bytes (a string holds ${NSIS_MAX_STRLEN} characters).
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
    StrCpy $R6 "CompanyMainConfig.exe 无法运行。"
    StrCpy $R7 3
  ${EndIf}
  DetailPrint "CompanyMainConfig.exe $R9: $R7"
FunctionEnd

; Writes the configuration given on the command line or the page, with the configuration tool,
; whose rules are the launcher's. Both commands run first against a scratch folder: a value
; the tool refuses stops the setup before either file of the installation has changed.
Function WriteConfiguration
  StrCpy $R5 ""
  ${If} $Url != ""
    !insertmacro QUOTE $0 $Url
    StrCpy $R5 "set-address $0"
  ${EndIf}
  StrCpy $R4 ""
  ${If} "$CompanyNum$CompanyType$CompanyName$DeviceId$UploadUser$OtherInfo" != ""
    !insertmacro QUOTE $0 $CompanyNum
    !insertmacro QUOTE $1 $CompanyType
    !insertmacro QUOTE $2 $CompanyName
    !insertmacro QUOTE $3 $DeviceId
    !insertmacro QUOTE $4 $UploadUser
    !insertmacro QUOTE $5 $OtherInfo
    StrCpy $R4 "set-company --number $0 --type $1 --name $2 --device-id $3 --upload-user $4 --other $5"
  ${EndIf}
  ${If} "$R5$R4" == ""
    Return
  ${EndIf}
  InitPluginsDir
  CreateDirectory "$PLUGINSDIR\check"
  ${ForEach} $R3 0 1 + 1
    ${If} $R3 == 0
      StrCpy $R8 "$PLUGINSDIR\check"
    ${Else}
      StrCpy $R8 $INSTDIR
    ${EndIf}
    ${If} $R5 != ""
      StrCpy $R9 $R5
      Call RunConfigTool
      ${If} $R7 != 0
        Goto failed
      ${EndIf}
    ${EndIf}
    ${If} $R4 != ""
      StrCpy $R9 $R4
      Call RunConfigTool
      ${If} $R7 != 0
        Goto failed
      ${EndIf}
    ${EndIf}
  ${Next}
  Return
failed:
  SetErrorLevel $R7
  DetailPrint $R6
  ; Also for silent runs, which show no message: what the tool said, in the user's temporary
  ; folder.
  FileOpen $0 "$TEMP\CompanyMain-Setup.log" w
  ${If} $0 != ""
    FileWriteUTF16LE /BOM $0 "CompanyMainConfig.exe $R9$\r$\n退出代码 $R7$\r$\n$R6$\r$\n"
    FileClose $0
  ${EndIf}
  IfSilent +2
    MessageBox MB_OK|MB_ICONSTOP "配置没有写入 (CompanyMainConfig.exe 退出代码 $R7):$\r$\n$\r$\n$R6$\r$\n程序已安装; 请改正页面地址或企业信息后重新运行安装程序。"
  Abort "配置没有写入 (退出代码 $R7)"
FunctionEnd

Section "CompanyMain"
  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "${BUILD64}\CompanyMain.exe"
    File "${BUILD64}\CompanyMainConfig.exe"
  ${Else}
    File "${BUILD32}\CompanyMain.exe"
    File "${BUILD32}\CompanyMainConfig.exe"
  ${EndIf}
  CreateDirectory "$INSTDIR\Config"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\${APP_TITLE}.lnk" "$INSTDIR\CompanyMain.exe" "" "$INSTDIR\CompanyMain.exe" 0
  CreateShortcut "$DESKTOP\${APP_TITLE}.lnk" "$INSTDIR\CompanyMain.exe" "" "$INSTDIR\CompanyMain.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP_TITLE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\CompanyMain.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"

  ; Last, so that a configuration refused leaves a complete installation behind.
  Call WriteConfiguration
SectionEnd

Function un.onInit
  SetShellVarContext all
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

; The configuration (Config\ with its files) stays: a reinstallation or a newer version finds
; it as it was. An empty Config folder goes with the rest.
Section "Uninstall"
  Delete "$SMPROGRAMS\${APP_TITLE}.lnk"
  Delete "$DESKTOP\${APP_TITLE}.lnk"
  Delete "$INSTDIR\CompanyMain.exe"
  Delete "$INSTDIR\CompanyMainConfig.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR\Config"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
