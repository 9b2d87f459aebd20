#!/usr/bin/env bash
# Bad input against CompanyMain.exe under Wine: the configuration and identity files broken
# in the ways that exist on Windows. Each case names its outcome (the message, or the address
# handed to the browser); the driver checks that the program ends by itself with exit code 0,
# and nothing may be written beside the program. Prints one line per case and
# "N passed, N failed".
usage="$0 path/to/CompanyMain.exe"
source "$(dirname "$0")/lib.sh"

page='http://example.com/p'
page_b64=$(b64 "$page")
expected="$page?Id=MTIzNDU2Nzg5MA==&Name=%E6%97%A0&Type=UjAx&DeviceId=RDE=&other=&Version=$V"
good_company() { company 1234567890 R01 '\xce\xde' D1 '' ''; }

# The program folder's listing, to show nothing is written there.
listing() { (cd "$app" && find . -printf '%p %s %T@\n' | sort); }
run_and_expect() {  # "address" BYTES | "message" HEX
  listing >"$case_dir/before"
  if [ "$1" = address ]; then
    drive start a exit a
    expect_address "$2"
  else
    drive start a box a "$2" ok a exit a
    expect_launches 0
  fi
  listing >"$case_dir/after"
  cmp -s "$case_dir/before" "$case_dir/after" || problems+=("the program folder changed")
}

random_bytes() { python3 -c 'import random, sys; r = random.Random(20261208); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(65536)))'; }
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
good_company; : | config_file
run_and_expect message "$msg_no_address"; end_case

new_case "Config.ini a byte order mark alone"
good_company; printf '\xef\xbb\xbf' | config_file
run_and_expect message "$msg_no_address"; end_case

new_case "Config.ini 64 KiB of random bytes"
good_company; random_bytes | config_file
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

new_case "Config.ini UTF-16 LE with its byte order mark"
good_company
{ printf '\xff\xfe'; printf '[SysInfo]\r\nCompanyURL=%s\r\n' "$page_b64" | iconv -f UTF-8 -t UTF-16LE; } | config_file
run_and_expect address "$expected"; end_case

new_case "Config.ini duplicate sections and keys: the first wins"
good_company
printf '[SysInfo]\r\nCompanyURL=%s\r\nCompanyURL=%s\r\n[SysInfo]\r\nCompanyURL=%s\r\n' "$page_b64" \
  "$(b64 http://wrong.example/)" "$(b64 http://wrong2.example/)" | config_file
run_and_expect address "$expected"; end_case

new_case "Config.ini quoted value"
good_company; printf '[SysInfo]\r\nCompanyURL="%s"\r\n' "$page_b64" | config_file
run_and_expect address "$expected"; end_case

# ---- Company.ini -----------------------------------------------------------------------

new_case "Company.ini empty: every value empty"
config_url "$page_b64"; : >"$app/Config/Company.ini"
run_and_expect address "$page?Id=&Name=%E6%97%A0&Type=&DeviceId=&other=&Version=$V"; end_case

new_case "Company.ini 64 KiB of random bytes"
config_url "$page_b64"; random_bytes >"$app/Config/Company.ini"
run_and_expect address "$page?Id=&Name=%E6%97%A0&Type=&DeviceId=&other=&Version=$V"; end_case

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

new_case "Company.ini UTF-16 LE: read in the ANSI code page"
config_url "$page_b64"
{ printf '\xff\xfe'; printf '[Company]\r\nCompanyNum=9\r\nCompanyName=中文 酒店\r\n' | iconv -f UTF-8 -t UTF-16LE; } >"$app/Config/Company.ini"
run_and_expect address "$page?Id=OQ==&Name=%E4%B8%AD%E6%96%87+%E9%85%92%E5%BA%97&Type=&DeviceId=&other=&Version=$V"; end_case

new_case "program folder whose path holds blanks and Chinese characters"
odd="前台 程序"
mv "$app" "$prefix/drive_c/$odd"
app="$prefix/drive_c/$odd"
app_win="C:\\$odd"
good_company; config_url "$page_b64"
run_and_expect address "$expected"; end_case

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
