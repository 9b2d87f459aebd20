@echo off
rem Runs the configuration tool of this PC's CompanyMain with the arguments given, for the
rem start-up scripts of Group Policy and the scripts of Intune and Configuration Manager:
rem   companymain-config.cmd set-address -- http://example.com/company/info.aspx
rem   companymain-config.cmd set-company --device-id %COMPUTERNAME%
rem   companymain-config.cmd --dry-run set-address -- http://example.com/company/info.aspx
rem (After --, an address that starts with - is an address, checked as one.)
rem The tool leaves the files as they are when they already hold the values, so the script can
rem run at every start. It prints the tool's JSON ("changed": true or false) and ends with the
rem tool's exit code: 0 written or nothing to change, 2 a value refused, 3 a file not written;
rem and 4 when CompanyMain is not installed.
setlocal EnableExtensions
set "folder="
rem The setup records its folder (also one chosen with /D=) in the 64-bit view of the registry
rem on 64-bit Windows; the MSIs install into Program Files.
for /f "tokens=2,*" %%a in ('reg query "HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\CompanyMain" /v InstallLocation /reg:64 2^>nul ^| find "REG_SZ"') do set "folder=%%b"
if not defined folder for /f "tokens=2,*" %%a in ('reg query "HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\CompanyMain" /v InstallLocation 2^>nul ^| find "REG_SZ"') do set "folder=%%b"
if defined folder if not exist "%folder%\CompanyMainConfig.exe" set "folder="
if not defined folder if defined ProgramW6432 if exist "%ProgramW6432%\CompanyMain\CompanyMainConfig.exe" set "folder=%ProgramW6432%\CompanyMain"
if not defined folder if exist "%ProgramFiles%\CompanyMain\CompanyMainConfig.exe" set "folder=%ProgramFiles%\CompanyMain"
if not defined folder if defined ProgramFiles(x86) if exist "%ProgramFiles(x86)%\CompanyMain\CompanyMainConfig.exe" set "folder=%ProgramFiles(x86)%\CompanyMain"
if not defined folder (
  echo {"changed":false,"error":"CompanyMain is not installed on this PC"}
  exit /b 4
)
"%folder%\CompanyMainConfig.exe" --json %*
exit /b %errorlevel%
