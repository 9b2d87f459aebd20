#!/usr/bin/env bash
# The Windows packages under Wine, in a 64-bit and a 32-bit prefix: the setup (its 64-bit and
# its 32-bit path) and the MSI of each architecture are installed silently with a
# configuration, checked (files, shortcuts, the Uninstall entry), started from the Start-menu
# shortcut (the fake browser must get the exact address), refused a bad address (nothing may
# change), given one value alone (every other one stays), upgraded by a 1.0.1 build that keeps
# the configuration, and uninstalled (only the Config folder with its two files may stay). The
# setup's pages are driven as a user would, in English and in Chinese; MSI values that a command
# line would have to quote must reach the files exactly. The 64-bit prefix has no 32-bit
# cmd.exe: nothing of the x64 MSI may need it. The portable zips are run as copied by hand. All
# packages are built signed with a throw-away certificate; the signatures are verified, and a
# file with one byte changed must fail.
# Where Wine cannot start 32-bit programs (asked once), the cases that need one are skipped:
# the 32-bit prefix, and the shipped setup, a 32-bit program; the same setup built for amd64
# then goes through the setup's case in the 64-bit prefix instead.
#   tests/wine/packages.sh build-win64/CompanyMain.exe
# The 32-bit test tools come from build-win32/wine-tools. Prints one line per case and
# "N passed, N failed, N skipped".
usage="$0 path/to/build-win64/CompanyMain.exe"
source "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
tools32=$root/build-win32/wine-tools
for tool in companymain-driver.exe fake-browser.exe; do
  [ -f "$tools32/$tool" ] || { echo "missing $tools32/$tool (build the windows-x86 preset)" >&2; exit 2; }
done

# use_arch win64|win32: the Wine loader for prefixes of that architecture. lib.sh takes the
# 64-bit one for everything; a 32-bit prefix needs the 32-bit one.
loader64=${WINELOADER:-}
path64=$PATH
if [ -x /usr/lib/wine/wine ]; then
  mkdir -p "$work/bin32"
  printf '#!/bin/sh\nexec /usr/lib/wine/wine "$@"\n' >"$work/bin32/wine"
  chmod +x "$work/bin32/wine"
fi
use_arch() {
  export WINEARCH=$1
  if [ "$1" = win32 ] && [ -x /usr/lib/wine/wine ]; then
    export WINELOADER=/usr/lib/wine/wine PATH="$work/bin32:$path64"
  else
    PATH=$path64
    if [ -n "$loader64" ]; then export WINELOADER=$loader64; else unset WINELOADER; fi
  fi
}

# ---- The packages: 1.0.0 signed, 1.0.1 for the upgrade ----------------------------------

echo "building the packages..."
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=CompanyMain test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/sign.key" -out "$work/sign.crt" \
  >/dev/null 2>&1 || { echo "openssl could not make a certificate" >&2; exit 2; }
dist=$work/dist
version=$(sed -n 's/^ *set(COMPANYMAIN_VERSION \([0-9.][0-9.]*\))$/\1/p' "$root/CMakeLists.txt")
SIGN_CERT=$work/sign.crt SIGN_KEY=$work/sign.key timeout 1800 bash "$root/scripts/package-windows.sh" \
  --dist "$dist" --amd64-setup >"$work/package.log" 2>&1 || { cat "$work/package.log"; exit 1; }
timeout 1800 bash "$root/scripts/package-windows.sh" --version 1.0.1 --dist "$dist" --amd64-setup \
  >"$work/package2.log" 2>&1 || { cat "$work/package2.log"; exit 1; }
setup=CompanyMain-Setup-$version.exe
setup2=CompanyMain-Setup-1.0.1.exe

can_run_32bit "$tools32/companymain-driver.exe"
if [ $run32 = yes ]; then
  echo "preparing a 32-bit Wine prefix..."
  template32=$work/template32
  use_arch win32
  make_template "$template32" win32 "$tools32"
  use_arch win64
else
  echo "$why32: the cases that need one are skipped"
fi

# ---- Signatures ---------------------------------------------------------------------------

verify() {  # file
  timeout 60 osslsigncode verify -CAfile "$work/sign.crt" -in "$1" >"$case_dir/verify.out" 2>&1
}

new_case "signatures: every program, the setup and the MSIs verify against the certificate"
for arch in win64 win32; do
  python3 -m zipfile -e "$dist/CompanyMain-$version-$arch.zip" "$work/zip/$arch"
done
signed=("$dist/$setup" "$dist/CompanyMain-Setup-$version-amd64.exe" "$dist/CompanyMain-$version-x64.msi"
  "$dist/CompanyMain-$version-x86.msi")
for arch in win64 win32; do
  signed+=("$work/zip/$arch/CompanyMain/CompanyMain.exe" "$work/zip/$arch/CompanyMain/CompanyMainConfig.exe"
    "$work/zip/$arch/CompanyMain/CompanyMainSettings.exe")
done
for file in "${signed[@]}"; do
  verify "$file" || problems+=("$(basename "$file"): $(grep -i -m1 -E 'fail|error|mismatch' "$case_dir/verify.out")")
  grep -q -i 'sha256' "$case_dir/verify.out" || problems+=("$(basename "$file") not signed with SHA-256")
done
for file in "$dist/CompanyMain-Setup-1.0.1.exe" "$dist/CompanyMain-1.0.1-x64.msi"; do
  verify "$file" && problems+=("$(basename "$file") built without a certificate is signed")
done
end_case

new_case "signatures: one byte changed in a signed program, setup or MSI fails verification"
for file in "$dist/CompanyMain-$version-x64.msi" "$dist/$setup" \
  "$work/zip/win64/CompanyMain/CompanyMain.exe"; do
  cp "$file" "$case_dir/flipped"
  size=$(stat -c %s "$case_dir/flipped")
  offset=$((size / 3))
  byte=$(od -An -tu1 -j "$offset" -N1 "$case_dir/flipped" | tr -d ' ')
  printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
    dd of="$case_dir/flipped" bs=1 seek="$offset" conv=notrunc status=none
  cmp -s "$file" "$case_dir/flipped" && problems+=("$(basename "$file"): no byte changed")
  verify "$case_dir/flipped" && problems+=("$(basename "$file") with byte $offset changed still verifies")
done
end_case

new_case "SHA256SUMS in the dist folder lists the packages of both builds, and each checks"
listed=$(sed 's/^[0-9a-f]\{64\}  //' "$dist/SHA256SUMS" | tr '\n' ' ')
made=$(cd "$dist" && ls CompanyMain-* | LC_ALL=C sort | tr '\n' ' ')
[ "$listed" = "$made" ] || problems+=("SHA256SUMS lists [$listed], the folder holds [$made]")
# Five packages of each version, and the setup built for amd64 of each (--amd64-setup).
[ "$(wc -l <"$dist/SHA256SUMS")" -eq 12 ] || problems+=("$(wc -l <"$dist/SHA256SUMS") lines, expected 12")
(cd "$dist" && sha256sum --strict --quiet -c SHA256SUMS) >"$case_dir/sums.out" 2>&1 ||
  problems+=("sha256sum -c: $(head -c 300 "$case_dir/sums.out")")
end_case

# ---- Helpers for an installed copy -------------------------------------------------------

# The address the launcher must hand the fake browser for the configuration written below.
name_sent='%E6%9F%90%E6%9F%90+%E9%85%92%E5%BA%97'
address="http://example.com/company/info.aspx?x=1?Id=$(b64 1234567890)&Name=$name_sent&Type=UjAx&DeviceId=$(b64 D-01)&other=$(printf 'a%%7Eb')&Version=$V"
url=http://example.com/company/info.aspx?x=1
options=(/URL=$url /COMPANYNUM=1234567890 /COMPANYTYPE=R01 "/COMPANYNAME=某某 酒店" /DEVICEID=D-01
  /UPLOADUSER= /OTHERINFO=a~b)
# What the installed tool's show prints for them, and the address once the device id is D-02.
shown=("url=$url" number=1234567890 type=R01 "name=某某 酒店" device-id=D-01 upload-user= other=a~b)
shown_d2=("${shown[@]/device-id=D-01/device-id=D-02}")
address_d2=${address/$(b64 D-01)/$(b64 D-02)}
# The address a run again or an upgrade gives.
url2=http://example.com/company/info2.aspx?x=1
properties=()
# msiexec takes an empty value as PROPERTY="" (which Wine's command line cannot pass): left out.
for option in "${options[@]}"; do [ "${option#*=}" ] && properties+=("${option#/}"); done

# package_case NAME ARCH(win64|win32) [LANG]: a fresh prefix of that architecture, without the
# program.
package_case() {
  new_case "$1" "${3:-zh_CN.UTF-8}"
  case_arch=$2
  use_arch "$2"
  if [ "$2" = win32 ]; then
    rm -rf "$prefix"
    copy_prefix "$template32" "$prefix"
  else
    # A 64-bit Windows without its 32-bit command interpreter (Server Core without WOW64, ARM64
    # Windows): no custom action of the x64 MSI may run it.
    rm -f "$prefix/drive_c/windows/syswow64/cmd.exe"
  fi
  wine_user=$(cd "$prefix/drive_c/users" && ls | grep -v -x Public | head -1)
  rm -rf "$app"
  install_dir=$prefix/drive_c/Program\ Files/CompanyMain
  cp "$dist"/*.exe "$dist"/*.msi "$prefix/drive_c/"
}

# run_wine PROGRAM ARG...: runs a Windows program in the case's prefix, waits for every process
# it started, and returns its exit code.
run_wine() {
  wine_run within 300 wine "$@" >>"$case_dir/wine.out" 2>&1
  local status=$?
  settle
  return $status
}

expect_files() {  # name...: exactly these entries in the installation folder (Config: its files)
  local want got
  want=$(printf '%s\n' "$@" | sort)
  got=$( (cd "$install_dir" 2>/dev/null && find . -mindepth 1 | sed 's|^\./||' | sort))
  [ "$got" = "$want" ] || problems+=("installation folder holds [$(echo $got)], expected [$(echo $want)]")
}

expect_machine() {  # x64|x86
  local file
  for file in CompanyMain.exe CompanyMainConfig.exe CompanyMainSettings.exe; do
    [ "$(py machine "$install_dir/$file" 2>/dev/null)" = "$1" ] || problems+=("$file is not $1")
  done
  # Opened from the Start menu, the settings window flashes no console; the tool keeps its
  # console and its redirected output for scripts.
  [ "$(py subsystem "$install_dir/CompanyMainSettings.exe")" = gui ] || problems+=("CompanyMainSettings.exe is no windows program")
  [ "$(py subsystem "$install_dir/CompanyMainConfig.exe")" = console ] || problems+=("CompanyMainConfig.exe is no console program")
}

# The shortcuts: 企业信息管理.lnk in the Start menu and on the desktop, each pointing at the
# program, and 企业信息管理 设置.lnk beside the first, pointing at the settings window. Per machine where Wine puts them so; the MSI's land in the user's folders under Wine.
shortcut_dirs() {
  local c=$prefix/drive_c
  printf '%s\n' "$c/ProgramData/Microsoft/Windows/Start Menu/Programs" "$c/users/Public/Desktop" \
    "$c/users/$wine_user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs" "$c/users/$wine_user/Desktop"
}
start_menu_link() {
  local dir
  for dir in "$(shortcut_dirs | sed -n 1p)" "$(shortcut_dirs | sed -n 3p)"; do
    [ -f "$dir/企业信息管理.lnk" ] && { echo "$dir/企业信息管理.lnk"; return; }
  done
}
expect_shortcuts() {  # count expected (3: the launcher's two and the settings window's; 0 after the uninstallation)
  local links=() dir want
  while IFS= read -r dir; do
    [ -d "$dir" ] || continue
    while IFS= read -r -d '' link; do links+=("$link"); done < <(find "$dir" -maxdepth 1 -iname '*.lnk' -print0)
  done < <(shortcut_dirs)
  [ ${#links[@]} -eq "$1" ] || problems+=("${#links[@]} shortcuts, expected $1: ${links[*]##*/}")
  for link in "${links[@]}"; do
    case $(basename "$link") in
      企业信息管理.lnk) want='C:\Program Files\CompanyMain\CompanyMain.exe' ;;
      # In the Start menu, beside the launcher's.
      '企业信息管理 设置.lnk') want='C:\Program Files\CompanyMain\CompanyMainSettings.exe'
        [ -f "$(dirname "$link")/企业信息管理.lnk" ] || problems+=("the settings shortcut is not beside the launcher's") ;;
      *) problems+=("shortcut named $(basename "$link")"); continue ;;
    esac
    target=$(py lnk "$link" 2>&1)
    [ "$target" = "$want" ] || problems+=("$(basename "$link") points at $target")
  done
}

# The Uninstall entry: uninstall_value KEY NAME (KEY "CompanyMain" or "name=企业信息管理").
uninstall_value() {
  settle
  local view=64
  [ "$case_arch" = win32 ] && view=32
  py uninstall "$prefix" "$view" "$1" | sed -n "s/^$2=//p"
}
# expect_value KEY NAME=VALUE|NAME~PATTERN|NAME>NUMBER: the value is VALUE, matches PATTERN (grep
# -i), or is a number greater than NUMBER.
expect_value() {
  local name=${2%%[=~>]*} got
  local op=${2:${#name}:1} want=${2:${#name}+1}
  got=$(uninstall_value "$1" "$name")
  case $op in
    =) [ "$got" = "$want" ] ;;
    '~') grep -q -i -- "$want" <<<"$got" ;;
    *) [ "$got" -gt "$want" ] 2>/dev/null ;;
  esac || problems+=("Uninstall $name is \"$got\", expected $op \"$want\"")
}

# start_from_shortcut [ADDRESS]: starts the program the way the user does, from the Start-menu
# shortcut, and expects the exact address (by default $address) at the fake browser.
start_from_shortcut() {
  local link
  link=$(start_menu_link)
  [ -n "$link" ] || { problems+=("no Start-menu shortcut to start from"); return; }
  rm -f "$prefix/drive_c/browser.log"
  wine_run within 60 wine start /unix "$link" >>"$case_dir/wine.out" 2>&1
  expect_address "${1:-$address}"
  settle
}

installed_tool() { wine_run within 60 wine 'C:\Program Files\CompanyMain\CompanyMainConfig.exe' "$@"; }
# expect_shown LINE...: the installed tool's show prints exactly these lines (field=value): the
# values as the launcher reads them.
expect_shown() {
  local want got status
  installed_tool show >"$case_dir/show" 2>"$case_dir/show.err"
  status=$?
  want=$(printf '%s\n' "$@")
  got=$(tr -d '\r' <"$case_dir/show")
  [ $status -eq 0 ] && [ "$got" = "$want" ] ||
    problems+=("show (exit code $status) prints [$(printf '%s|' "$got")], expected [$(printf '%s|' "$want")]; on standard error: $(head -c 300 "$case_dir/show.err")")
}

# setup_log: what the setup wrote into the user's temporary folder, as UTF-8 on one line.
setup_log() {
  iconv -f UTF-16 -t UTF-8 "$prefix/drive_c/users/$wine_user/Temp/CompanyMain-Setup.log" 2>&1 | tr '\r\n' '  '
}

# drive_setup STEP...: the driver's steps for the setup's dialogs (texts in hex), within a
# limit. A failing step fails the case with what was on screen (a screenshot in $SCREENSHOTS
# when that is set).
drive_setup() {
  look_while wine_run within 240 wine 'C:\tools\driver.exe' 'C:\none' "$@" >"$case_dir/driver.out" 2>&1
  local status=$? out
  out=$(tr -d '\r' <"$case_dir/driver.out")
  if [ $status -ne 0 ] || ! grep -q '^ok' <<<"$out" || grep -q '^FAIL' <<<"$out"; then
    if [ -n "${SCREENSHOTS:-}" ]; then
      DISPLAY=:$case_display import -window root \
        "$SCREENSHOTS/$(printf '%s' "$case_name" | tr -c 'A-Za-z0-9' _ | cut -c1-60).png" 2>/dev/null
    fi
    problems+=("driver status $status: $(grep -E '^FAIL' <<<"$out" | head -c 800)$(tail -n 2 <<<"$out" | head -c 300)")
    # What the setup left on screen ends here, not at the next wait for the prefix.
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  fi
}

save_config() { rm -rf "$case_dir/config.saved" && cp -a "$install_dir/Config" "$case_dir/config.saved"; }
expect_kept() {  # path...: each (Config, or a file in it) as save_config saw it
  local path
  for path; do
    diff -r "$case_dir/config.saved${path#Config}" "$install_dir/$path" >/dev/null 2>&1 ||
      problems+=("$path changed")
  done
}
expect_tool_version() {  # version: the installed configuration tool reports it
  installed_tool --version >"$case_dir/version" 2>&1
  grep -q "companymain-config $1" "$case_dir/version" || problems+=("after the upgrade: $(head -1 "$case_dir/version")")
}
expect_uninstalled() {  # Uninstall key: only the configuration stays
  expect_files Config Config/Config.ini Config/Company.ini
  expect_kept Config
  expect_shortcuts 0
  [ -z "$(uninstall_value "$1" DisplayName)" ] || problems+=("the Uninstall entry stayed")
  # Nor the values an MSI handed over to the tool.
  ! grep -q -i '^\[Software\\\\\(Wow6432Node\\\\\)\{0,1\}CompanyMain' "$prefix/system.reg" ||
    problems+=("a registry key Software\\CompanyMain stayed")
}

# What installers and the wider system keep in the installation's files beside our values:
# another key and another section in each. Every channel changes its lines in place.
add_extras() {
  printf 'ServerIP=10.0.0.5\r\n\r\n[Upload]\r\nInterval=30\r\n' >>"$install_dir/Config/Config.ini"
  printf 'RoomCount=180\r\n[Printer]\r\nName=HP\r\n' | iconv -f UTF-8 -t UTF-16LE >>"$install_dir/Config/Company.ini"
}
expect_extras() {  # what: after which write
  grep -q $'ServerIP=10.0.0.5\r$' "$install_dir/Config/Config.ini" &&
    grep -q $'^\[Upload\]\r$' "$install_dir/Config/Config.ini" ||
    problems+=("$1 lost Config.ini's other key or section: $(head -c 200 "$install_dir/Config/Config.ini" | od -c | head -3 | tr -s ' \n' ' ')")
  local company
  company=$(iconv -f UTF-16 -t UTF-8 "$install_dir/Config/Company.ini" 2>/dev/null)
  grep -q $'^RoomCount=180\r$' <<<"$company" && grep -q $'^\[Printer\]\r$' <<<"$company" ||
    problems+=("$1 lost Company.ini's other key or section: $(head -c 300 <<<"$company")")
}

# ---- One package's life: the setup and each MSI -----------------------------------------

# life NAME ARCH: a package's life in a fresh prefix: installed silently with the values, started
# from its shortcut; one value given alone (the same package run again) changes it alone to D-02;
# the newer version keeps the configuration, and when it is given the device id upgraded_id
# changes that alone; the uninstallation leaves only the configuration. The run again (the
# MSI's: url_one) or the upgrade (the setup's) gives the address url2 as well: every write keeps
# the files' other keys and sections. The package's data: commands install, one_value, upgrade,
# uninstall; upgraded_id; url_one; files; key and entries (see expect_value); signed_files;
# before, adds (its channel's own steps); kept (by the upgrade).
life() {
  package_case "$1" "$2"
  local machine=x64 entry file
  [ "$2" = win32 ] && machine=x86
  [ -z "$before" ] || $before
  run_wine "${install[@]}" || problems+=("install exit code $?")
  expect_files "${files[@]}"
  expect_machine $machine
  expect_shortcuts 3
  for entry in "${entries[@]}"; do expect_value "$key" "$entry"; done
  for file in "${signed_files[@]}"; do verify "$install_dir/$file" || problems+=("$file is not signed"); done
  start_from_shortcut
  expect_shown "${shown[@]}"
  local shown_up=("${shown[@]/device-id=D-01/device-id=$upgraded_id}")
  add_extras
  run_wine "${one_value[@]}" || problems+=("${one_value[*]}: exit code $?")
  url_now=${url_one:-$url}
  expect_shown "${shown_d2[@]/#url=*/url=$url_now}"
  expect_extras "the run again"
  save_config
  [ -z "$adds" ] || $adds
  run_wine "${upgrade[@]}" || problems+=("upgrade exit code $?")
  expect_kept "${kept[@]}"
  save_config
  expect_value "$key" DisplayVersion=1.0.1
  expect_shown "${shown_up[@]/#url=*/url=$url2}"
  expect_extras "the upgrade"
  expect_tool_version 1.0.1
  expect_shortcuts 3
  local address_up=${address/$(b64 D-01)/$(b64 "$upgraded_id")}
  start_from_shortcut "${address_up/"$url?Id="/"$url2?Id="}"
  run_wine "${uninstall[@]}" || problems+=("uninstall exit code $?")
  expect_uninstalled "$key"
  end_case
}

# A value refused on a PC without the program: the setup stops before anything is copied.
setup_refused_on_new_pc() {
  local status
  run_wine "C:\\$first" /S /URL=ftp://example.com/p "${options[@]:1}"
  status=$?
  [ $status -eq 2 ] || problems+=("refused address on a new PC: setup exit code $status, expected 2")
  [ -e "$install_dir" ] && problems+=("a refused setup copied: $(cd "$install_dir" && find . | tr '\n' ' ')")
  grep -q 'http:// \(or\|或\) https://' <<<"$(setup_log)" || problems+=("the log does not give the tool's reason: $(setup_log)")
}

# A refused address: the setup ends with the tool's code, and nothing of the configuration
# changes. Its log holds what the tool said (the tool's output reached the setup). A write
# that fails gives its own code. In the 64-bit prefix, more than a string of the setup holds:
# refused, not written cut.
setup_refusals() {
  local status said
  run_wine "C:\\$first" /S /URL=ftp://example.com/p
  status=$?
  [ $status -eq 2 ] || problems+=("refused address: setup exit code $status, expected 2: $(setup_log)")
  expect_kept Config
  # An address that looks like an option is an address, refused as one.
  run_wine "C:\\$first" /S /URL=--help
  status=$?
  [ $status -eq 2 ] || problems+=("the address --help: setup exit code $status, expected 2: $(setup_log)")
  expect_kept Config
  mkdir -p "$prefix/drive_c/scratch"
  installed_tool --dir 'C:\scratch' set-address ftp://example.com/p >/dev/null 2>"$case_dir/said"
  said=$(program_said "$case_dir/said" | head -1)
  [ -n "$said" ] && grep -q -F -- "$said" <<<"$(setup_log)" ||
    problems+=("the setup's log lacks the tool's message \"$said\": $(setup_log | head -c 300)")
  if [ "$case_arch" = win64 ]; then
    run_wine "C:\\$first" /S "/OTHERINFO=$(repeat x 1100)"
    status=$?
    [ $status -eq 2 ] || problems+=("a value too long: setup exit code $status, expected 2: $(setup_log)")
    expect_kept Config
  fi
}

# setup_case NAME ARCH SETUP SETUP2: the setup's life, SETUP2 the newer version of SETUP.
setup_case() {
  first=$3
  install=("C:\\$3" /S "${options[@]}") one_value=("C:\\$3" /S /DEVICEID=D-02) upgraded_id=D-02
  upgrade=("C:\\$4" /S "/URL=$url2") url_one=
  uninstall=("C:\\Program Files\\CompanyMain\\Uninstall.exe" /S)
  files=(CompanyMain.exe CompanyMainConfig.exe CompanyMainSettings.exe Uninstall.exe Config Config/Config.ini Config/Company.ini)
  key=CompanyMain signed_files=(Uninstall.exe) adds=setup_refusals kept=(Config/Company.ini)
  entries=(DisplayName=企业信息管理 "DisplayVersion=$version" Publisher=CompanyMain
    'UninstallString="C:\Program Files\CompanyMain\Uninstall.exe"'
    'QuietUninstallString="C:\Program Files\CompanyMain\Uninstall.exe" /S'
    'DisplayIcon=C:\Program Files\CompanyMain\CompanyMain.exe,0' NoModify= NoRepair=1 'EstimatedSize>100'
    'ModifyPath="C:\Program Files\CompanyMain\CompanyMainSettings.exe"')
  # The script's logic is the same in both prefixes: once is enough.
  before=
  [ "$2" = win64 ] && before=setup_refused_on_new_pc
  life "$1: silent install with a configuration, shortcuts, Uninstall entry, start; one value changed alone" "$2"
}

# The shipped setup is a 32-bit program, in both prefixes. Where Wine cannot start it, the
# same script built for amd64 shows the setup's logic in the 64-bit prefix.
if [ $run32 = yes ]; then
  for arch in win64 win32; do setup_case "setup on $arch" $arch "$setup" "$setup2"; done
  ui_setup=$setup ui_setup2=$setup2
else
  for arch in win64 win32; do skip_case "setup on $arch" "$why32"; done
  ui_setup=CompanyMain-Setup-$version-amd64.exe ui_setup2=CompanyMain-Setup-1.0.1-amd64.exe
  setup_case "setup built for amd64 on win64" win64 "$ui_setup" "$ui_setup2"
fi

# The setup as a user runs it: its pages in the language of Windows, the configuration page
# checked by the tool before anything is copied, the finish page.
# In English Windows runs in code page 1252: a name it can hold.
address_en=${address/"Name=$name_sent"/Name=Lakeside+Hotel}
query_warning_en='The page address already holds a query (after "?"): the launcher adds "?Id=..." behind it, and the web system does not read Id after a second "?".'
query_warning_zh='页面地址中已有查询部分 ("?" 之后的部分): 启动程序会在其后再加上 "?Id=...", 而网页系统不会读取第二个 "?" 之后的 Id。'
package_case "setup, interactive, English: an empty page on a new PC, a refusal stays on the page before anything is copied, the finish page starts the program" win64 en_US.UTF-8
cjk_font
drive_setup run s "$(hex "C:\\$ui_setup")" \
  dialog s "$(hex 'Choose Install Location')" field s 0 "$(hex 'C:\Program Files\CompanyMain')" press s 1 \
  dialog s "$(hex Configuration)" focus s 0 field s 0 "" field s 1 "" field s 4 "" field s 6 "" \
  type s 0 "$(hex "$url")" type s 2 "$(hex R01)" type s 3 "$(hex 'Lakeside Hotel')" type s 4 "$(hex D-01)" \
  type s 6 "$(hex 'a~b')" press s 1 \
  alert s "$(hex 'Company number must be given: this computer holds no company identity yet.')" focus s 1 \
  dialog s "$(hex Configuration)" field s 0 "$(hex "$url")" field s 2 "$(hex R01)" field s 1 "" \
  nofile "$(hex 'C:\Program Files\CompanyMain')" \
  type s 1 "$(hex 1234567890)" press s 1 \
  alerted s "$(hex "$query_warning_en")" look page-warning alert s "$(hex "$query_warning_en")" \
  dialog s "$(hex 'Start 企业信息管理')" shows s "$(hex "$address_en")" checked s "$(hex 'Start 企业信息管理')" 1 \
  shows s "$(hex "Note: $query_warning_en")" look finish-warning press s 1 ended s 0
# The page speaks in its fields: no option of the tool, no exit code.
! grep -q -e '--number' -e '(exit code' "$case_dir/driver.out" ||
  problems+=("the page's refusal names an option or an exit code: $(grep -A3 'message box' "$case_dir/driver.out" | head -c 300)")
expect_address "$address_en"
expect_shown "${shown[@]/name=某某 酒店/name=Lakeside Hotel}"
drive_setup run w "$(hex '"C:\Program Files\CompanyMain\CompanyMainSettings.exe"')" \
  dialog w "$(hex 'Company number')" field w 1 "$(hex 1234567890)" field w 3 "$(hex 'Lakeside Hotel')" \
  field w 4 "$(hex D-01)" shows w "$(hex "$address_en")" press w 2 ended w 0
# The uninstaller speaks English too (run in place, where it does not copy itself away).
drive_setup run u "$(hex '"C:\Program Files\CompanyMain\Uninstall.exe" _?=C:\Program Files\CompanyMain')" \
  dialog u "$(hex 'Uninstall 企业信息管理')" press u 2 ended u 1
# Gone through, it names the configuration it keeps, and keeps it unless its box is ticked.
save_config
drive_setup run u "$(hex '"C:\Program Files\CompanyMain\Uninstall.exe" _?=C:\Program Files\CompanyMain')" \
  dialog u "$(hex 'Uninstall 企业信息管理')" press u 1 \
  dialog u "$(hex 'Remove the configuration too')" shows u "$(hex 'C:\Program Files\CompanyMain\Config')" \
  check u "$(hex 'Remove the configuration too')" shows u "$(hex 'is removed with the programs')" look uninstall-remove \
  check u "$(hex 'Remove the configuration too')" shows u "$(hex 'The configuration stays in')" \
  checked u "$(hex 'Remove the configuration too')" 0 press u 1 \
  dialog u "$(hex 'Uninstallation Complete')" press u 1 ended u 0
expect_kept Config
[ -e "$install_dir/CompanyMain.exe" ] && problems+=("the interactive uninstaller left CompanyMain.exe")
# Silently, /REMOVECONFIG takes the configuration too (installed again first, keeping it).
run_wine "C:\\$ui_setup" /S || problems+=("setup exit code $?")
run_wine "C:\\Program Files\\CompanyMain\\Uninstall.exe" /S /REMOVECONFIG || problems+=("uninstaller exit code $?")
[ -e "$install_dir" ] && problems+=("/REMOVECONFIG left $(cd "$install_dir" && find . | tr '\n' ' ')")
# A new PC given the address alone: the finish page names the missing identity and where to
# enter it, and labels the launcher's message as such.
drive_setup run s "$(hex "C:\\$ui_setup")" dialog s "$(hex 'Choose Install Location')" press s 1 \
  dialog s "$(hex Configuration)" type s 0 "$(hex "$url")" press s 1 alert s "$(hex "$query_warning_en")" \
  dialog s "$(hex 'Start 企业信息管理')" shows s "$(hex 'this PC has no company identity yet')" \
  shows s "$(hex 'device ID in "企业信息管理 设置" in the Start menu')" \
  shows s "$(hex $'Instead of the page, it shows this message:\r\n')$msg_no_identity" look finish-no-identity press s 1 ended s 0
end_case

package_case "setup, interactive, Chinese: an upgrade's page shows the installation's values, a refusal keeps what was typed, one value changed alone" win64
cjk_font
run_wine "C:\\$ui_setup" /S "${options[@]}" || problems+=("setup exit code $?")
drive_setup run s "$(hex "C:\\$ui_setup2")" \
  dialog s "$(hex 选择安装位置)" shows s "$(hex "已安装企业信息管理 $version 版")" \
  field s 0 "$(hex 'C:\Program Files\CompanyMain')" press s 1 \
  dialog s "$(hex 配置)" field s 0 "$(hex "$url")" field s 1 "$(hex 1234567890)" field s 2 "$(hex R01)" \
  field s 3 "$(hex '某某 酒店')" field s 4 "$(hex D-01)" field s 5 "" field s 6 "$(hex 'a~b')" \
  type s 4 "$(hex D-02)" type s 0 "$(hex ftp://example.com/p)" press s 1 \
  alert s "$(hex '页面地址须以 http:// 或 https:// 开头')" focus s 0 \
  dialog s "$(hex 配置)" field s 0 "$(hex ftp://example.com/p)" field s 4 "$(hex D-02)" \
  type s 0 "$(hex "$url")" press s 1 \
  dialog s "$(hex 启动企业信息管理)" shows s "$(hex "$address_d2")" shows s "$(hex "注意: $query_warning_zh")" \
  look finish-warning press s 1 ended s 0
expect_address "$address_d2"
expect_shown "${shown_d2[@]}"
expect_value CompanyMain DisplayVersion=1.0.1
# Months later, the settings window of the Start menu (Modify in Apps & Features opens the same
# program, ModifyPath above): the stored values; the device id changed alone; then the number
# and the device id blanked, refused in one message naming both, the focus on 企业编号, nothing
# written; the address the launcher then opens. The files' other keys and sections stay.
add_extras
save_config
drive_setup run w "$(hex '"C:\Program Files\CompanyMain\CompanyMainSettings.exe"')" \
  dialog w "$(hex 企业编号)" field w 0 "$(hex "$url")" field w 1 "$(hex 1234567890)" \
  field w 2 "$(hex R01)" field w 3 "$(hex '某某 酒店')" field w 4 "$(hex D-02)" field w 5 "" \
  field w 6 "$(hex 'a~b')" shows w "$(hex "$address_d2")" focus w 0 \
  type w 4 "$(hex D-03)" press w 1 shows w "$(hex "${address_d2/$(b64 D-02)/$(b64 D-03)}")" \
  shows w "$(hex "DeviceId=D-03")" \
  type w 1 "" type w 4 "" press w 1 \
  alert w "$(hex $'企业编号不能为空: 没有它网页系统无法识别企业。\r\n设备编号不能为空')" focus w 1 \
  press w 2 ended w 0
expect_shown "${shown[@]/device-id=D-01/device-id=D-03}"
# Company.ini alone was written, and in it the device id alone changed.
expect_kept Config/Config.ini
[ "$(installed_tool show | tr -d '\r' | grep -c -v -x -F -f <(printf '%s\n' "${shown_d2[@]}"))" = 1 ] ||
  problems+=("the settings window changed more than the device id")
expect_extras "the settings window's save"
drive_setup run u "$(hex '"C:\Program Files\CompanyMain\Uninstall.exe" _?=C:\Program Files\CompanyMain')" \
  dialog u "$(hex '卸载 企业信息管理')" press u 2 ended u 1
drive_setup run u "$(hex '"C:\Program Files\CompanyMain\Uninstall.exe" _?=C:\Program Files\CompanyMain')" \
  dialog u "$(hex '卸载 企业信息管理')" press u 1 \
  dialog u "$(hex 同时删除配置)" check u "$(hex 同时删除配置)" shows u "$(hex 中的配置将随程序一起删除)" look uninstall-remove press u 1 \
  dialog u "$(hex 卸载完成)" press u 1 ended u 0
[ -e "$install_dir/Config" ] && problems+=("the ticked box left $(cd "$install_dir/Config" && find . | tr '\n' ' ')")
# A new PC given the address alone, after an identity begun without its number (refused by the
# fields' names), and its warning: the finish page as in English.
drive_setup run s "$(hex "C:\\$ui_setup")" dialog s "$(hex 选择安装位置)" press s 1 \
  dialog s "$(hex 配置)" type s 0 "$(hex "$url")" type s 2 "$(hex R01)" press s 1 alerted s "$(hex '企业编号必须填写: 本机还没有企业身份。')" \
  look page-refusal alert s "$(hex 设备编号必须填写)" dialog s "$(hex 配置)" type s 2 "" press s 1 \
  alerted s "$(hex "$query_warning_zh")" look page-warning alert s "$(hex "$query_warning_zh")" \
  dialog s "$(hex 启动企业信息管理)" shows s "$(hex 本机还没有企业身份)" shows s "$(hex '“企业信息管理 设置”中填写')" \
  shows s "$(hex $'它将显示这条消息, 而不打开页面:\r\n')$msg_no_identity" look finish-no-identity press s 1 ended s 0
end_case

# ---- The fleet script (deploy/windows) --------------------------------------------------

# fleet ARG...: deploy/windows/companymain-config.cmd run by cmd, as a start-up script runs it;
# its output in $case_dir/fleet.out (errors in fleet.err), its exit code returned.
fleet() {
  wine_run within 120 wine cmd /c 'C:\companymain-config.cmd' "$@" >"$case_dir/fleet.out" 2>"$case_dir/fleet.err"
  local status=$?
  settle
  return $status
}
# fleet_changed: what the JSON says of "changed" (true or false), or what the script printed.
fleet_changed() { py json-field "$case_dir/fleet.out" changed; }
config_state() {  # each file's inode, time (to the nanosecond) and content
  local file
  for file in Config.ini Company.ini; do
    stat -c "$file %i %y" "$fleet_dir/Config/$file" && sha256sum <"$fleet_dir/Config/$file"
  done
}
expect_fleet() {  # what: exit code, "changed", then which files changed (none, Config.ini, ...)
  local what=$1 code=$2 changed=$3 files=$4 status got before=$case_dir/state.before
  shift 4
  config_state >"$before"
  fleet "$@"
  status=$?
  [ "$status" -eq "$code" ] ||
    problems+=("$what: exit code $status, expected $code: $(head -c 300 "$case_dir/fleet.out") $(tail -c 300 "$case_dir/fleet.err")")
  [ -z "$changed" ] || [ "$(fleet_changed)" = "$changed" ] || problems+=("$what: changed is $(fleet_changed), expected $changed")
  got=$(diff <(paste - - <"$before") <(config_state | paste - -) | sed -n 's/^> \([^ ]*\) .*/\1/p' | tr '\n' ' ')
  [ "$got" = "$files" ] || problems+=("$what: files written [$got], expected [$files]")
}

package_case "fleet script on win64: finds the setup's chosen folder, changes one value, again nothing" win64
fleet_dir=$prefix/drive_c/Fleet/CompanyMain
cp "$root/deploy/windows/companymain-config.cmd" "$prefix/drive_c/"
# /D= (last, unquoted) chooses the folder: the script must find it through the registry. The
# setup is the shipped one where Wine starts 32-bit programs, else the same built for amd64.
run_wine "C:\\$ui_setup" /S "${options[@]}" '/D=C:\Fleet\CompanyMain' || problems+=("setup exit code $?")
[ -f "$fleet_dir/Config/Company.ini" ] || problems+=("the setup did not install into C:\\Fleet\\CompanyMain")
expect_fleet "a new address" 0 true "Config.ini " set-address http://example.com/company/new.aspx
expect_fleet "the same address again" 0 false "" set-address http://example.com/company/new.aspx
expect_fleet "a dry run of another device id" 0 true "" --dry-run set-company --device-id D-02
expect_fleet "another device id" 0 true "Company.ini " set-company --device-id D-02
# From a session in code page 1252 the name the setup wrote under 936 is kept: the address the
# shortcut opens below still carries it.
case_lang=en_US.UTF-8
expect_fleet "a device id under code page 1252" 0 true "Company.ini " set-company --device-id D-03
case_lang=zh_CN.UTF-8
expect_fleet "the device id back under code page 936" 0 true "Company.ini " set-company --device-id D-02
expect_fleet "the same device id again" 0 false "" set-company --device-id D-02
expect_fleet "a refused address" 2 "" "" set-address ftp://example.com/p
expect_fleet "an address that looks like an option, after --" 2 "" "" set-address -- --help
start_from_shortcut "${address_d2/info.aspx?x=1/new.aspx}"
run_wine "C:\\Fleet\\CompanyMain\\Uninstall.exe" /S || problems+=("uninstaller exit code $?")
expect_fleet "no installation" 4 false "" set-address http://example.com/company/new.aspx
end_case

# ---- The MSIs -----------------------------------------------------------------------------

# The fleet script finds an MSI's installation in Program Files; a value it has stays.
msi_fleet() {
  cp "$root/deploy/windows/companymain-config.cmd" "$prefix/drive_c/"
  fleet_dir=$install_dir
  expect_fleet "the fleet script on the MSI's installation" 0 false "" set-address "$url_now"
}

# What Wine's msiexec cannot show: on Windows a run of an installed product is a maintenance
# run that reinstalls no component unless the package asks for it. The package's own tables,
# read as the MSI documentation defines their conditions.
new_case "msi tables: a run again given a value reinstalls with the machine's registry values rewritten, before costing; one without values, or a removal, writes nothing"
for machine in x64 x86; do
  said=$(py msi-runs "$dist/CompanyMain-$version-$machine.msi" 2>&1) || problems+=("$machine: $said")
  [ -z "$said" ] || problems+=("$machine: $said")
done
end_case

for arch in win64 win32; do
  machine=x64
  [ $arch = win32 ] && machine=x86
  msi=CompanyMain-$version-$machine.msi
  msi2=CompanyMain-1.0.1-$machine.msi
  name_refused="msi $machine: a refused address rolls the whole installation back"
  name_life="msi $machine: silent install with properties, the same MSI again and an upgrade each given one value change it alone, the fleet script finds it, uninstall"
  if [ $arch = win32 ] && [ $run32 = no ]; then
    skip_case "$name_refused" "$why32"
    skip_case "$name_life" "$why32"
    continue
  fi
  package_case "$name_refused" $arch
  run_wine msiexec /i "C:\\$msi" /qn URL=ftp://example.com/p COMPANYNUM=1 && problems+=("msiexec succeeded")
  [ -e "$install_dir" ] && problems+=("left behind: $(cd "$install_dir" && find . | tr '\n' ' ')")
  expect_shortcuts 0
  [ -z "$(uninstall_value name=企业信息管理 DisplayName)" ] || problems+=("an Uninstall entry stayed")
  end_case

  # The same MSI run again given one value changes that value alone (a maintenance run, which
  # the package turns into a reinstallation that rewrites the values' registry key); the newer
  # version given one value replaces the older one and changes that value alone.
  install=(msiexec /i "C:\\$msi" /qn "${properties[@]}") url_one=$url2
  one_value=(msiexec /i "C:\\$msi" /qn DEVICEID=D-02 "URL=$url2")
  upgrade=(msiexec /i "C:\\$msi2" /qn DEVICEID=D-03) upgraded_id=D-03 uninstall=(msiexec /x "C:\\$msi2" /qn)
  files=(CompanyMain.exe CompanyMainConfig.exe CompanyMainSettings.exe Config Config/Config.ini Config/Company.ini)
  key=name=企业信息管理 signed_files=() before= adds=msi_fleet kept=(Config/Config.ini)
  entries=("DisplayVersion=$version" Publisher=CompanyMain NoModify=1 NoRepair=1 'UninstallString~^MsiExec.exe /X{')
  life "$name_life" $arch
done

# Values a command line would have to quote. Wine's msiexec drops every double quote of its
# command line (Windows reads "" in a quoted value as one): a value with quotes comes from the
# package's Property table instead, as a transform would give it.
package_case "msi x64: values reach the files exactly (a backslash at the end, quotes, %, blanks, Chinese, brackets)" win64
run_wine msiexec /i "C:\\CompanyMain-$version-x64.msi" /qn 'URL=http://example.com/p?q=%41\' \
  COMPANYNUM=1234567890 COMPANYTYPE=R01 'COMPANYNAME=某某酒店\' 'DEVICEID=D 1' 'UPLOADUSER=dom\' \
  'OTHERINFO=备注\' || problems+=("msiexec exit code $?")
exact=('url=http://example.com/p?q=%41\' number=1234567890 type=R01 'name=某某酒店\' 'device-id=D 1'
  'upload-user=dom\' 'other=备注\')
expect_shown "${exact[@]}"
cp "$dist/CompanyMain-1.0.1-x64.msi" "$prefix/drive_c/quoted.msi"
other='说 "你好" [ProductName] 100%\'
msibuild "$prefix/drive_c/quoted.msi" -q "INSERT INTO Property (Property, Value) VALUES ('OTHERINFO', '$other')" ||
  problems+=("msibuild could not set OTHERINFO")
run_wine msiexec /i 'C:\quoted.msi' /qn || problems+=("upgrade exit code $?")
expect_shown "${exact[@]:0:6}" "other=$other"
end_case

# ---- The portable zips --------------------------------------------------------------------

for arch in win64 win32; do
  name="zip $arch: the programs and an empty Config folder, configured and run by hand"
  if [ $arch = win32 ] && [ $run32 = no ]; then
    skip_case "$name" "$why32"
    continue
  fi
  package_case "$name" $arch
  listing=$(python3 -m zipfile -l "$dist/CompanyMain-$version-$arch.zip" | awk 'NR > 1 {print $1}' | sort | tr '\n' ' ')
  [ "$listing" = "CompanyMain/ CompanyMain/CompanyMain.exe CompanyMain/CompanyMainConfig.exe CompanyMain/CompanyMainSettings.exe CompanyMain/Config/ " ] ||
    problems+=("zip holds: $listing")
  python3 -m zipfile -e "$dist/CompanyMain-$version-$arch.zip" "$prefix/drive_c/"
  tool_run() { run_wine 'C:\CompanyMain\CompanyMainConfig.exe' "$@" || problems+=("tool $1: exit code $?"); }
  tool_run set-address http://example.com/company/info.aspx?x=1
  tool_run set-company --number 1234567890 --type R01 --name '某某 酒店' --device-id D-01 --other a~b
  rm -f "$prefix/drive_c/browser.log"
  wine_run within 60 wine 'C:\CompanyMain\CompanyMain.exe' >>"$case_dir/wine.out" 2>&1
  expect_address "$address"
  end_case
done

finish
