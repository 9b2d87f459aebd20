#!/usr/bin/env bash
# CompanyMainConfig.exe under Wine: for random identities and addresses in several code pages,
# the tool writes the configuration, its check prints an address, and the real launcher hands
# the fake browser exactly that address; refused input and the launcher's messages; one value
# changed alone, values an MSI hands over in the registry, files written over existing ones or
# left untouched, the user's language.
#   tests/wine/tool.sh build-win64/CompanyMain.exe
# The tool is taken from beside the exe. Prints one line per case and
# "N passed, N failed, N skipped".
usage="$0 path/to/CompanyMain.exe"
source "$(dirname "$0")/lib.sh"
tool_exe=$(dirname "$exe")/CompanyMainConfig.exe
[ -f "$tool_exe" ] || { echo "missing $tool_exe" >&2; exit 2; }

# tool_case NAME [LANG]: a fresh case with the tool beside the program.
tool_case() {
  new_case "tool: $1" "${2:-zh_CN.UTF-8}"
  cp "$tool_exe" "$app/CompanyMainConfig.exe"
}

# tool ARG...: runs the tool in C:\app; its standard output (UTF-8 when redirected) in
# $case_dir/tool.out, its standard error in $case_dir/tool.err; returns its exit code.
tool() {
  wine_run within 60 wine 'C:\app\CompanyMainConfig.exe' "$@" >"$case_dir/tool.out" 2>"$case_dir/tool.err"
}
said() { head -c 300 "$case_dir/tool.out" "$case_dir/tool.err"; }

# expect_status WHAT CODE ARG...: runs the tool and notes a different exit code.
expect_status() {
  local what=$1 code=$2
  shift 2
  tool "$@"
  local status=$?
  [ "$status" -eq "$code" ] || problems+=("$what: exit code $status, expected $code: $(said)")
}

# json_field FIELD: from the JSON in $case_dir/tool.out; what the file holds instead, when it is
# not JSON.
json_field() { py json-field "$case_dir/tool.out" "$1"; }

# shown: the stored values as show --json prints them, one "name=value" per line, sorted.
shown() {
  tool --json show
  py shown "$case_dir/tool.out" 2>/dev/null || echo "(no JSON)"
}
stamp() { stat -c '%i %y' "$app/Config/Config.ini" "$app/Config/Company.ini"; }

for entry in "zh_CN.UTF-8 cp936 11" "zh_TW.UTF-8 cp950 12" "en_US.UTF-8 cp1252 13"; do
  read -r lang codec seed <<<"$entry"
  n=0
  while IFS=$'\t' read -r url number type name device upload other; do
    n=$((n + 1))
    tool_case "check and launcher agree, code page ${codec#cp}, case $n" "$lang"
    [ "$name" = - ] && name=''
    [ "$upload" = - ] && upload=''
    expect_status set-address 0 set-address "$url"
    expect_status set-company 0 set-company --number "$number" --type "$type" --name "$name" \
      --device-id "$device" --upload-user "$upload" --other "$other"
    expect_status check 0 check --json
    json_field address >"$case_dir/checked"
    drive start a exit a
    expect_launches 1
    if [ "$(launches)" -eq 1 ]; then
      launched_params 1 W "$case_dir/got"
      cmp -s "$case_dir/checked" "$case_dir/got" ||
        problems+=("check said $(head -c 200 "$case_dir/checked") launcher opened $(head -c 200 "$case_dir/got")")
    fi
    end_case
  done < <(py random-cases "$codec" "$seed" 4)
done

# ---- Refused input and the launcher's messages ----------------------------------------------

refused() {  # name expected-code arg...
  local name=$1 code=$2
  shift 2
  tool_case "$name"
  config_url "$(b64 'http://kept.example/')"
  cp "$app/Config/Config.ini" "$case_dir/kept"
  expect_status "$1" "$code" "$@"
  cmp -s "$case_dir/kept" "$app/Config/Config.ini" || problems+=("Config.ini changed")
  end_case
}
refused "a file:// address is refused" 2 set-address 'file:///C:/Windows/notepad.exe'
refused "a program path is refused" 2 set-address 'C:\Windows\notepad.exe'
refused "a blank address is refused" 2 set-address '   '
refused "an address longer than the launcher reads is refused" 2 set-address "http://x/$(repeat p 1525)"
refused "a name code page 936 cannot hold is refused" 2 set-company --number 1 --type R01 \
  --name '한국' --device-id D1

message_case() {  # name hex-of-message: files prepared by the caller
  # Standard output alone: the JSON.
  expect_status check 1 check --json
  [ "$(json_field message | od -An -tx1 -v | tr -d ' \n')" = "$2" ] ||
    problems+=("check said $(json_field message); on standard error: $(head -c 300 "$case_dir/tool.err")")
  drive start a box a "$2" ok a exit a
  expect_launches 0
  end_case
}
tool_case "check says the launcher's message: no configuration file"
company 1 R01 x D1 '' ''
message_case "no configuration" "$msg_no_config"

tool_case "check says the launcher's message: no identity section"
config_url "$(b64 'http://example.com/p')"
printf '[Compnay]\r\nCompanyNum=1\r\n' >"$app/Config/Company.ini"
message_case "no identity" "$msg_no_identity"

# ---- Changing an installation --------------------------------------------------------------

tool_case "one value changed alone, every other kept; blank required values refused"
expect_status "set-address" 0 set-address 'http://example.com/p'
expect_status "set-company" 0 set-company --number 1234567890 --type R02 --name '无锡 "湖畔" 酒店' \
  --device-id D1 --upload-user 'dom\' --other '备注 100% \'
before=$(shown)
expect_status "set-company --device-id" 0 set-company --device-id D2
[ "$(shown)" = "${before/device-id=D1/device-id=D2}" ] || problems+=("after --device-id D2: $(shown | tr '\n' ' ')")
grep -qx 'upload-user=dom\\' <<<"$before" || problems+=("stored: $(tr '\n' ' ' <<<"$before")")
grep -qx 'other=备注 100% \\' <<<"$before" || problems+=("stored: $(tr '\n' ' ' <<<"$before")")
cp "$app/Config/Company.ini" "$case_dir/kept"
for option in --number --type --device-id; do
  expect_status "$option ''" 2 set-company "$option" ''
  grep -q -- "$option" "$case_dir/tool.err" || problems+=("$option '': $(head -c 200 "$case_dir/tool.err")")
done
cmp -s "$case_dir/kept" "$app/Config/Company.ini" || problems+=("a refused value changed Company.ini")
expect_status "--name ''" 0 set-company --name '' --other ''
grep -qx 'name=' <<<"$(shown)" || problems+=("the name was not cleared")
end_case

tool_case "a value kept exactly: written under code page 936, another changed under 1252"
expect_status "set-company under 936" 0 set-company --number 1 --type R01 --name '某某酒店 北楼' \
  --device-id D1 --other '前台 1'
case_lang=en_US.UTF-8
expect_status "set-company under 1252" 0 --json set-company --device-id D2
grep -qF '"fields":["DeviceId"]' "$case_dir/tool.out" || problems+=("reported $(said)")
now=$(shown)
for line in 'name=某某酒店 北楼' 'other=前台 1' 'device-id=D2'; do
  grep -qxF "$line" <<<"$now" || problems+=("not kept: $line ($(tr '\n' ' ' <<<"$now"))")
done
end_case

tool_case "files written over existing ones, a killed write's temporary file removed; the same values leave them untouched"
mkdir -p "$app/Config"
printf half >"$app/Config/.Config.ini.companymain-config-4242"
printf theirs >"$app/Config/Config.ini.new-4242"
for url in 'http://first.example/' 'http://second.example/'; do
  expect_status "set-address $url" 0 set-address "$url"
done
expect_status "set-company" 0 set-company --number 1 --type R01 --device-id D1
expect_status "set-company again" 0 set-company --number 2 --type R01 --device-id D1
now=$(shown)
grep -qx 'url=http://second.example/' <<<"$now" || problems+=("Config.ini was not replaced: $now")
grep -qx 'number=2' <<<"$now" || problems+=("Company.ini was not replaced: $now")
before=$(stamp)
expect_status "the same address" 0 --json set-address 'http://second.example/'
[ "$(json_field changed)" = false ] || problems+=("the same address: $(cat "$case_dir/tool.out")")
expect_status "the same identity" 0 --json set-company --number 2
[ "$(json_field changed)" = false ] || problems+=("the same identity: $(cat "$case_dir/tool.out")")
[ "$(stamp)" = "$before" ] || problems+=("files rewritten: $before / $(stamp)")
expect_status "a dry run" 0 --json --dry-run set-company --number 3
[ "$(json_field changed)" = true ] || problems+=("dry run: $(cat "$case_dir/tool.out")")
[ "$(stamp)" = "$before" ] || problems+=("the dry run wrote")
leftovers=$(ls -A "$app/Config" | grep -v -x -e Config.ini -e Company.ini -e Config.ini.new-4242)
[ -z "$leftovers" ] || problems+=("left in Config: $leftovers")
[ -f "$app/Config/Config.ini.new-4242" ] || problems+=("another program's file was removed")
end_case

# Wine 8 makes no junction or symbolic link (mklink does nothing, FSCTL_SET_REPARSE_POINT is not
# supported): a Unix link stands for one, which Windows calls would show only by the path it
# leads to. A file of another Unix user is owned by ANONYMOUS LOGON, not an administrator.
tool_case "a link, another user's folder or hard-linked file in Config is refused" en_US.UTF-8
company 1 R01 x D1 '' ''
mkdir "$prefix/drive_c/other"
mv "$app/Config/Company.ini" "$prefix/drive_c/other/Company.ini"
cp "$prefix/drive_c/other/Company.ini" "$case_dir/kept"
refused_as() {  # what the message says after "Cannot write ...Company.ini: "
  expect_status "set-company" 3 set-company --number 2
  grep -qF "Cannot write C:\\app\\Config\\Company.ini: $1" <<<"$(program_said "$case_dir/tool.err")" ||
    problems+=("said $(head -c 300 "$case_dir/tool.err")")
  cmp -s "$case_dir/kept" "$prefix/drive_c/other/Company.ini" || problems+=("the file behind was written")
}
ln -s ../../other/Company.ini "$app/Config/Company.ini"
refused_as 'C:\app\Config\Company.ini leads to C:\other\Company.ini by a link'
rm "$app/Config/Company.ini"
if chown nobody "$prefix/drive_c/other/Company.ini" "$app/Config" 2>/dev/null; then
  refused_as 'C:\app\Config belongs to NT AUTHORITY\ANONYMOUS LOGON, '
  chown "$(id -u)" "$app/Config"
  ln "$prefix/drive_c/other/Company.ini" "$app/Config/Company.ini"
  refused_as 'C:\app\Config\Company.ini has other names (hard links) and belongs to NT AUTHORITY'
else
  echo "  (not root: no file of another user to show)"
fi
end_case

tool_case "a folder at the writer lock's path is named, not the file to write" en_US.UTF-8
config_url "$(b64 'http://kept.example/')"
cp "$app/Config/Config.ini" "$case_dir/kept"
mkdir "$app/Config/.companymain-config.lock"
expect_status "set-address" 3 set-address 'http://new.example/'
grep -qF 'Cannot use the writer lock C:\app\Config\.companymain-config.lock: not a regular file.' \
  <<<"$(program_said "$case_dir/tool.err")" || problems+=("said $(head -c 300 "$case_dir/tool.err")")
cmp -s "$case_dir/kept" "$app/Config/Config.ini" || problems+=("Config.ini changed")
end_case

# One value changed in place, every other byte kept (the cases every platform's tool shares,
# tests/e2e/harness.py): the tool in a session of a code page that cannot hold what the file
# holds, the launcher of the front desk's session opening the page after.
harness() { python3 "$wine_dir/../e2e/harness.py" "$@"; }
mapfile -t edit_cases < <(harness edit-cases)
for n in "${!edit_cases[@]}"; do
  tool_case "a change in place: ${edit_cases[n]}"
  { IFS=$'\t' read -r -a args; read -r case_lang; read -r desk; read -r file; read -r code; } \
    < <(harness edit-case "$n" "$app/Config")
  expect_status "${args[*]}" "$code" "${args[@]/#@values/C:\\app\\values.json}"
  case_lang=$desk
  drive start a exit a
  expect_launches 1
  : >"$case_dir/got"
  [ "$(launches)" -eq 1 ] && launched_params 1 W "$case_dir/got"
  said=$(harness edit-verify "$n" "$app/Config/$file" "$case_dir/got")
  [ -z "$said" ] || problems+=("$said")
  end_case
done

tool_case "--from-registry takes an MSI's values from the registry exactly; another type of value is a read failure"
expect_status "set-company" 0 set-company --number 1234567890 --type R01 --device-id D1
# As Windows Installer writes them: each value in double quotes, "" for none given.
printf '%s\r\n' 'REGEDIT4' '' '[HKEY_LOCAL_MACHINE\SOFTWARE\CompanyMain\Setup]' \
  '"URL"="\"http://example.com/p?q=%41\\\""' '"COMPANYNUM"="\"\""' '"COMPANYNAME"="\"某某 \"酒店\" \\\""' \
  '"UPLOADUSER"="\"dom\\\""' '"OTHERINFO"=dword:00000001' | iconv -f UTF-8 -t GBK >"$app/values.reg"
wine_run within 60 wine regedit /s 'C:\app\values.reg' >/dev/null 2>&1
settle
expect_status "set-address" 0 --from-registry 'SOFTWARE\CompanyMain\Setup' set-address
grep -qx 'url=http://example.com/p?q=%41\\' <<<"$(shown)" || problems+=("address: $(shown | tr '\n' ' ')")
expect_status "set-company" 3 --from-registry 'SOFTWARE\CompanyMain\Setup' set-company
grep -q 'OTHERINFO' "$case_dir/tool.err" || problems+=("the failure does not name OTHERINFO: $(head -c 300 "$case_dir/tool.err")")
reg delete 'HKLM\SOFTWARE\CompanyMain\Setup' /v OTHERINFO /f
settle
expect_status "set-company" 0 --from-registry 'SOFTWARE\CompanyMain\Setup' set-company
now=$(shown)
for line in 'number=1234567890' 'name=某某 "酒店" \' 'device-id=D1' 'upload-user=dom\' 'other='; do
  grep -qxF "$line" <<<"$now" || problems+=("not stored: $line ($(tr '\n' ' ' <<<"$now"))")
done
expect_status "no such key" 3 --from-registry 'SOFTWARE\CompanyMain\None' set-company
end_case

# The user's language: Chinese where Windows speaks it, English elsewhere.
for entry in "zh_CN.UTF-8|错误: 页面地址为空。|用法:" "en_US.UTF-8|Error: The page address is empty.|Usage:"; do
  IFS='|' read -r lang refused usage <<<"$entry"
  tool_case "speaks the language of $lang" "$lang"
  expect_status "a blank address" 2 set-address ' '
  [ "$(program_said "$case_dir/tool.err")" = "$refused" ] || problems+=("said $(head -c 200 "$case_dir/tool.err")")
  expect_status "--help" 0 --help
  grep -q "^$usage" <<<"$(head -1 "$case_dir/tool.out")" || problems+=("--help: $(head -1 "$case_dir/tool.out")")
  grep -q 'Version=5.0.0.0' "$case_dir/tool.out" || problems+=("--help does not name Version=5.0.0.0")
  grep -q -e '--from-registry' "$case_dir/tool.out" || problems+=("--help does not offer --from-registry")
  end_case
done

# ---- Our writer against the platform's ------------------------------------------------------

count=300
tool_case "our writer and the platform's make changes that read the same, $count random files"
py ini-edits "$app/d" 27 "$count"
# One Windows process for the tool's changes, one for the platform's and the readings.
printf '@for /L %%%%i in (1,1,%d) do @C:\\app\\CompanyMainConfig.exe --dir C:\\app\\d\\%%%%i\\a --values-from C:\\app\\d\\%%%%i\\values.json set-company >>C:\\app\\d\\tool.log 2>&1\r\n' \
  "$count" >"$app/edit.bat"
wine_run within 900 wine cmd /c 'C:\app\edit.bat' >/dev/null 2>&1
wine_run within 300 wine 'C:\tools\driver.exe' - profiles 'C:\app\d' "$count" >"$case_dir/profiles.out" 2>&1 ||
  problems+=("$(tail -c 300 "$case_dir/profiles.out")")
grep -q 'Error' "$app/d/tool.log" && problems+=("the tool refused: $(grep -m 3 Error "$app/d/tool.log")")
said=$(py dumps-differing "$app/d" "$count")
echo "  $count files, $said"
[[ $said == "0 differences;"* ]] || problems+=("$said")
end_case

# ---- Our reader against the platform's ------------------------------------------------------

linux_tool=${COMPANYMAIN_CONFIG:-$(dirname "$exe")/../build/companymain-config}
if [ ! -x "$linux_tool" ]; then
  skip_case "tool: our INI reader agrees with the platform's" "no Linux tool at $linux_tool"
else
  count=500
  tool_case "our INI reader agrees with the platform's, $count random files"
  # COMPANYMAIN_INI_ALL=1 adds the section lines where Wine's reader departs from Windows'.
  py ini-files "$app/d" 22 "$count" ${COMPANYMAIN_INI_ALL:+all}
  for n in $(seq "$count"); do
    LANG=zh_CN.GBK LC_ALL=zh_CN.GBK "$linux_tool" --dir "$app/d/$n" --json show >"$app/d/$n/linux.json"
  done
  # One Windows process runs them all: a Wine start for each would take minutes.
  # A run that fails leaves its exit code beside its output (call expands it when it runs).
  printf '@for /L %%%%i in (1,1,%d) do @C:\\app\\CompanyMainConfig.exe --dir C:\\app\\d\\%%%%i --json show >C:\\app\\d\\%%%%i\\win.json || call echo exit code %%%%errorlevel%%%% >C:\\app\\d\\%%%%i\\win.code\r\n' \
    "$count" >"$app/show.bat"
  wine_run within 900 wine cmd /c 'C:\app\show.bat' >/dev/null 2>&1
  said=$(py differing "$app/d" "$count")
  echo "  $count files, $said"
  [[ $said == "0 differences;"* ]] || problems+=("$said")
  end_case
fi

finish
