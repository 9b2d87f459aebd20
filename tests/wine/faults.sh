#!/usr/bin/env bash
# Bad input against CompanyMain.exe under Wine: the configuration and identity files broken
# in the ways that exist on Windows. Each case names its outcome (the message, or the address
# handed to the browser); the driver checks that the program ends by itself with exit code 0,
# and nothing may be written beside the program. Prints one line per case and
# "N passed, N failed, N skipped".
usage="$0 path/to/CompanyMain.exe"
source "$(dirname "$0")/lib.sh"

page='http://example.com/p'
page_b64=$(b64 "$page")
expected="$page?Id=MTIzNDU2Nzg5MA==&Name=%E6%97%A0&Type=UjAx&DeviceId=RDE=&other=&Version=$V"
good_company() { company 1234567890 R01 '\xce\xde' D1 '' ''; }

# The program folder's listing, to show nothing is written there.
listing() { (cd "$app" && find . -printf '%p %s %T@\n' | sort); }
# run_and_expect "address" BYTES | "message" HEX [unix]
# With "unix" the program is started from its Unix path, as Wine's loader still does where
# CreateProcess refuses the path (260 characters and more); the driver then finds it by name.
run_and_expect() {
  listing >"$case_dir/before"
  if [ "${3:-}" = unix ]; then
    (cd / && wine_run timeout -k 10 60 wine "$app/CompanyMain.exe" >"$case_dir/wine.out" 2>&1) &
    local started=$!
    [ "$1" = message ] && drive attach a box a "$2" ok a exit a
    wait $started
    local status=$?
    if [ $status -eq 124 ] || [ $status -eq 137 ]; then
      hung 60 "CompanyMain.exe from its Unix path"
    elif [ $status -ne 0 ]; then
      problems+=("wine ended with status $status: $(head -c 200 "$case_dir/wine.out")")
    fi
    if [ "$1" = address ]; then expect_address "$2"; else expect_launches 0; fi
  elif [ "$1" = address ]; then
    drive start a exit a
    expect_address "$2"
  else
    drive start a box a "$2" ok a exit a
    expect_launches 0
  fi
  listing >"$case_dir/after"
  cmp -s "$case_dir/before" "$case_dir/after" || problems+=("the program folder changed")
}

# The longest program path (in characters) from which Wine starts a program in this case's
# prefix: the fake browser, named as the program, tried at each length.
deepest_program_path() {
  local low=2000 high=4200 middle
  starts() {
    local chain
    chain=$(path_chain "$1" p)
    # Beyond the Unix path limit these fail, and so does the start.
    mkdir -p "$prefix/drive_c/${chain//\\//}" 2>/dev/null
    cp "$tools/fake-browser.exe" "$prefix/drive_c/${chain//\\//}/CompanyMain.exe" 2>/dev/null
    wine_run within 30 env --chdir=/ wine "$prefix/drive_c/${chain//\\//}/CompanyMain.exe" >/dev/null 2>&1
    local status=$?
    rm -rf "$prefix/drive_c/$(printf '%0150d' 0 | tr 0 p)"
    [ $status -eq 0 ]
  }
  starts $low || { problems+=("Wine started nothing from a path of $low characters"); return; }
  starts $high && { problems+=("Wine started a program from a path of $high characters"); return; }
  while [ $((high - low)) -gt 1 ]; do
    middle=$(((low + high) / 2))
    if starts $middle; then low=$middle; else high=$middle; fi
  done
  rm -f "$prefix/drive_c/browser.log"
  deepest=$low
}

# make_file KIND PATH: a broken file of the kind every suite shares (tests/e2e/harness.py).
make_file() { python3 "$(dirname "$0")/../e2e/harness.py" make-file "$1" "$2"; }
# A CompanyURL value of LENGTH: the page, then characters the decoder skips, with "/x" in
# base64 beyond the 2047th character, where the reader must cut.
long_url_value() {
  python3 - "$1" "$page_b64" <<'PY'
import sys
length, head = int(sys.argv[1]), sys.argv[2].encode()
value = head + b"*" * (2047 - len(head)) + b"L3g="
value += b"*" * max(0, length - len(value))
sys.stdout.buffer.write(value[:length] if length <= 2047 else value)
PY
}
config_file() { cat >"$app/Config/Config.ini"; }

# ---- Config.ini ------------------------------------------------------------------------

new_case "Config.ini empty"
good_company; make_file empty "$app/Config/Config.ini"
run_and_expect message "$msg_no_address"; end_case

new_case "Config.ini a byte order mark alone"
good_company; make_file bom-UTF-8 "$app/Config/Config.ini"
run_and_expect message "$msg_no_address"; end_case

new_case "Config.ini 64 KiB of random bytes"
good_company; make_file random "$app/Config/Config.ini"
run_and_expect message "$msg_no_address"; end_case

new_case "Config.ini 10 MiB before the section"
good_company
{ seq -f ';%06g filler line of a large file' 300000 | sed 's/$/\r/'; printf '[SysInfo]\r\nCompanyURL=%s\r\n' "$page_b64"; } | config_file
run_and_expect address "$expected"; end_case

new_case "Config.ini one 1 MiB line, cut at 2047 characters"
good_company; { printf '[SysInfo]\r\nCompanyURL='; long_url_value 1048576; printf '\r\n'; } | config_file
run_and_expect address "$expected"; end_case

for length in 2046 2047 4096; do
  new_case "Config.ini value of $length characters"
  good_company; { printf '[SysInfo]\r\nCompanyURL='; long_url_value $length; printf '\r\n'; } | config_file
  run_and_expect address "$expected"; end_case
done

# with_mark FORM: the text on standard input in FORM (UTF-8, UTF-16LE, UTF-16BE) with its
# byte order mark.
with_mark() { printf '\xef\xbb\xbf' | iconv -f UTF-8 -t "$1"; iconv -f UTF-8 -t "$1"; }
marks="UTF-8 UTF-16LE UTF-16BE"

for form in $marks; do
  new_case "Config.ini $form with its byte order mark"
  good_company
  printf '[SysInfo]\r\nCompanyURL=%s\r\n' "$page_b64" | with_mark "$form" | config_file
  run_and_expect address "$expected"; end_case
done

new_case "Config.ini duplicate sections and keys: the first wins"
good_company
printf '[SysInfo]\r\nCompanyURL=%s\r\nCompanyURL=%s\r\n[SysInfo]\r\nCompanyURL=%s\r\n' "$page_b64" \
  "$(b64 http://wrong.example/)" "$(b64 http://wrong2.example/)" | config_file
run_and_expect address "$expected"; end_case

new_case "Config.ini quoted value"
good_company; printf '[SysInfo]\r\nCompanyURL="%s"\r\n' "$page_b64" | config_file
run_and_expect address "$expected"; end_case

# ---- Company.ini -----------------------------------------------------------------------

# Without a [Company] section there is no identity, whatever else the file holds.
new_case "Company.ini empty: no identity"
config_url "$page_b64"; make_file empty "$app/Config/Company.ini"
run_and_expect message "$msg_no_identity"; end_case

for form in $marks; do
  new_case "Company.ini the $form byte order mark alone: no identity"
  config_url "$page_b64"; make_file "bom-$form" "$app/Config/Company.ini"
  run_and_expect message "$msg_no_identity"; end_case
done

new_case "Company.ini 64 KiB of random bytes: no identity"
config_url "$page_b64"; make_file random "$app/Config/Company.ini"
run_and_expect message "$msg_no_identity"; end_case

new_case "Company.ini section name misspelt: no identity"
config_url "$page_b64"
printf '[Compnay]\r\nCompanyNum=1234567890\r\nCompanyName=x\r\n' >"$app/Config/Company.ini"
run_and_expect message "$msg_no_identity"; end_case

new_case "Company.ini UTF-16 LE without its byte order mark: no identity"
config_url "$page_b64"
printf '[Company]\r\nCompanyNum=1234567890\r\n' | iconv -f UTF-8 -t UTF-16LE >"$app/Config/Company.ini"
run_and_expect message "$msg_no_identity"; end_case

for length in 2046 2047 2048 4096; do
  new_case "Company.ini values of $length characters"
  config_url "$page_b64"
  company "$(head -c "$length" /dev/zero | tr '\0' 7)" R01 '\xce\xde' D1 '' ''
  kept=$((length < 2047 ? length : 2047))
  run_and_expect address "$page?Id=$(head -c "$kept" /dev/zero | tr '\0' 7 | base64 -w76 | sed 's/$/\r/' | tr -d '\n' | sed 's/\r$//; s/\r/\\r\\n/g')&Name=%E6%97%A0&Type=UjAx&DeviceId=RDE=&other=&Version=$V"
  end_case
done

new_case "Company.ini values of blanks only"
config_url "$page_b64"; company '   ' '  ' '"   "' ' ' '' ' '
run_and_expect address "$page?Id=&Name=%E6%97%A0&Type=&DeviceId=&other=&Version=$V"; end_case

# Read as if saved in code page 936: Thai, which it lacks, arrives as "?"; the cut at 2047
# bytes falls on the lead byte of 文 in code page 936 and drops it.
for form in $marks; do
  new_case "Company.ini $form with its byte order mark: read in the ANSI code page"
  config_url "$page_b64"
  printf '[Company]\r\nCompanyNum=9\r\nCompanyName=中文 酒店\xe0\xb9\x84\r\nOtherInfo=xy%s文z\r\n' \
    "$(repeat 中 1022)" | with_mark "$form" >"$app/Config/Company.ini"
  run_and_expect address "$page?Id=OQ==&Name=%E4%B8%AD%E6%96%87+%E9%85%92%E5%BA%97%3F&Type=&DeviceId=&other=xy$(repeat %E4%B8%AD 1022)&Version=$V"
  end_case
done

new_case "program folder whose path holds blanks and Chinese characters"
odd="前台 程序"
mv "$app" "$prefix/drive_c/$odd"
app="$prefix/drive_c/$odd"
app_win="C:\\$odd"
good_company; config_url "$page_b64"
run_and_expect address "$expected"; end_case

# ---- Long program paths ----------------------------------------------------------------

# At 257 characters the identity file's path reaches 260, at 258 the configuration file's.
for length in 257 258 259; do
  new_case "program path of $length characters"
  good_company; config_url "$page_b64"; program_path_length $length
  run_and_expect address "$expected"; end_case
done

for length in 260 1024 4000; do
  new_case "program path of $length characters, started from its Unix path"
  good_company; config_url "$page_b64"; program_path_length $length
  run_and_expect address "$expected" unix; end_case
done

# Where the program still starts but its identity file (three characters deeper) is out of
# Wine's reach, the message names that file: never an empty identity.
new_case "program path as deep as Wine starts a program: the identity file cannot be read"
good_company; config_url "$page_b64"
deepest=
deepest_program_path
if [ -n "$deepest" ]; then
  program_path_length "$deepest"
  run_and_expect message "$msg_no_identity" unix
fi
end_case

# ---- Code pages without 无 -------------------------------------------------------------

# 无 is sent in UTF-8 whatever the code page. The other value shows which code page is in
# force: A4 A4 is 中 in Big5 (950), E9 is é in 1252 (which Wine also takes for C).
for setting in "zh_TW.UTF-8 \xa4\xa4 %E4%B8%AD" "en_US.UTF-8 \xe9 %C3%A9" "C \xe9 %C3%A9"; do
  read -r locale other sent <<<"$setting"
  new_case "blank name in the $locale locale" "$locale"
  config_url "$page_b64"; company 1234567890 R01 '   ' D1 '' "$other"
  run_and_expect address "$page?Id=MTIzNDU2Nzg5MA==&Name=%E6%97%A0&Type=UjAx&DeviceId=RDE=&other=$sent&Version=$V"
  end_case
done

finish
