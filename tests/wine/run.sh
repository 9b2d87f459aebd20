#!/usr/bin/env bash
# The Wine suite of CompanyMain.exe.
#   tests/wine/run.sh build-win64/CompanyMain.exe [build-qt/CompanyMain]
# The test tools are taken from wine-tools/ beside the exe (the same CMake build makes them).
# With the Linux program given, the last case checks that both builds hand their browsers the
# same address, byte for byte. Needs wine64, xvfb, locales; prints one line per case and
# "N passed, N failed, N skipped"; exits non-zero on any failure.
usage="$0 path/to/CompanyMain.exe [path/to/linux/CompanyMain]"
source "$(dirname "$0")/lib.sh"

# ---- The page address -------------------------------------------------------------------

# address NAME LANG PREPARE PAGE EXPECTED [NUM TYPE NAME DEVICE UPLOAD OTHER]: a case: the
# configured PAGE (base64 written here) and the identity file of the six values (printf %b
# escapes; none without them); then PREPARE (a command, "-" for none) changes what it must.
# Started once, the program hands the browser exactly EXPECTED (printf %b escapes).
address() {
  new_case "address: $1" "$2"
  local prepare=$3 expected=$5
  config_url "$(b64 "$4")"
  shift 5
  [ $# -eq 0 ] || company "$@"
  [ "$prepare" = - ] || $prepare
  drive start a exit a
  expect_address "$expected"
  end_case
}
example="http://example.com/p?Id=MTIzNDU2Nzg5MA==&Name=%E6%97%A0&Type=UjAx&DeviceId=RDE=&other=&Version=$V"
thai=$(printf '\xe0\xb9\x84\xe0\xb8\x97\xe0\xb8\xa2')
num=123456789012345678901234567890123456789012345678901234567
a2046=$(repeat a 2046)

# Thai is not in code page 936: the profile must still be read, from a folder named in it.
lenient_in_thai_folder() {
  mkdir -p "$prefix/drive_c/$thai"
  mv "$app" "$prefix/drive_c/$thai/app"
  app=$prefix/drive_c/$thai/app
  app_win="C:\\$thai\\app"
  local encoded
  encoded=$(b64 'http://example.com/p')
  config_url "${encoded:0:5} *${encoded:5:7}	${encoded:12}"
}
# As Notepad saves it. Thai is not in code page 936: it arrives as "?", as an ANSI save would
# have it; the cut at 2047 bytes counts the code page's bytes, not UTF-8's.
utf8_identity() {
  printf '\xef\xbb\xbf[Company]\r\nCompanyNum=1234567890\r\nCompanyType=R01\r\n' >"$app/Config/Company.ini"
  printf 'CompanyName=中文 酒店\xe0\xb9\x84\r\nDeviceId=D1\r\nOtherInfo=xy%s文z\r\n' "$(repeat 中 1022)" \
    >>"$app/Config/Company.ini"
}
empty_section() { printf '[Company]\r\n' >"$app/Config/Company.ini"; }

address "the documented example (name in GBK, code page 936)" zh_CN.UTF-8 - 'http://example.com/p' \
  "$example" 1234567890 R01 '\xce\xde' D1 '' ''
# The page keeps its trailing blanks in front of "?Id="; name and other are trimmed first.
address "R02 takes the number from the upload account; blanks and symbols encoded" zh_CN.UTF-8 - \
  'http://h.example/q?x=1  ' \
  "http://h.example/q?x=1  ?Id=MTIzNDU2Nzg5MA==&Name=%E4%B8%AD%E6%96%87+%E5%90%8D&Type=UjAx&DeviceId=RC0y&other=a%7Eb+(R01)!&Version=$V" \
  ' 99 ' ' R02 ' '  \xd6\xd0\xce\xc4 \xc3\xfb  ' ' D-2 ' 'ABC1234567890XYZ' " a~b (R01)! "
address "blank name becomes 无; a 57-byte number keeps the encoder's CR LF" zh_CN.UTF-8 - \
  'https://example.com/company' \
  "https://example.com/company?Id=$(b64 "$num")\r\n&Name=%E6%97%A0&Type=cjAy&DeviceId=RDE=&other=&Version=$V" \
  "$num" r02 '   ' D1 'ABC1234567890XYZ' ''
address "Western code page 1252 reads the same bytes as Latin letters" en_US.UTF-8 - 'http://example.com/p' \
  "http://example.com/p?Id=MQ==&Name=%C3%8E%C3%9E&Type=UjAx&DeviceId=RDE=&other=%C3%A9&Version=$V" \
  1 R01 '\xce\xde' D1 '' '\xe9'
address "lenient base64 and a program folder the ANSI code page cannot spell" zh_CN.UTF-8 \
  lenient_in_thai_folder 'http://example.com/p' "$example" 1234567890 R01 '\xce\xde' D1 '' ''
# In GBK 中 is D6 D0 and 文 CE C4. The name's 2047th byte is the trail byte of 中 (itself in the
# lead-byte range) and stays; in the device and the other value it is the lead byte of 文,
# which goes with its character.
address "values cut at 2047 bytes drop a double-byte character the cut would split" zh_CN.UTF-8 - \
  'http://example.com/p' \
  "http://example.com/p?Id=MQ==&Name=x$(repeat %E4%B8%AD 1023)&Type=UjAx&DeviceId=$(b64_lines "$a2046")&other=xy$(repeat %E4%B8%AD 1022)&Version=$V" \
  1 R01 "x$(repeat '\xd6\xd0' 1023)\xce\xc4" "$a2046\xce\xc4" '' "xy$(repeat '\xd6\xd0' 1022)\xce\xc4z"
address "a UTF-8 identity file with its byte order mark reads as if saved in code page 936" zh_CN.UTF-8 \
  utf8_identity 'http://example.com/p' \
  "http://example.com/p?Id=MTIzNDU2Nzg5MA==&Name=%E4%B8%AD%E6%96%87+%E9%85%92%E5%BA%97%3F&Type=UjAx&DeviceId=RDE=&other=xy$(repeat %E4%B8%AD 1022)&Version=$V"
# A4 A4 is 中 in Big5: the other value shows that code page 950 is in force.
address "blank name is 无 in UTF-8 also in code page 950, which has no 无" zh_TW.UTF-8 - 'http://example.com/p' \
  "http://example.com/p?Id=MQ==&Name=%E6%97%A0&Type=UjAx&DeviceId=RDE=&other=%E4%B8%AD&Version=$V" \
  1 R01 '  ' D1 '' '\xa4\xa4'
address "a [Company] section without values is still an identity" zh_CN.UTF-8 empty_section \
  'http://example.com/p' "http://example.com/p?Id=&Name=%E6%97%A0&Type=&DeviceId=&other=&Version=$V"
# The identity file's path is 261 characters long, the configuration file's 260.
address "a program path of 258 characters" zh_CN.UTF-8 'program_path_length 258' 'http://example.com/p' \
  "$example" 1234567890 R01 '\xce\xde' D1 '' ''

# ---- The messages -----------------------------------------------------------------------

new_case "message: configuration file missing (modal, window hidden, nothing opened)"
company 1 R01 x D1 '' ''
drive start a box a "$msg_no_config" hidden a disabled a buttons a 1 ok a exit a
expect_launches 0
end_case

new_case "message: a folder named Config.ini is no configuration file"
company 1 R01 x D1 '' ''
mkdir "$app/Config/Config.ini"
drive start a box a "$msg_no_config" ok a exit a
expect_launches 0
end_case

new_case "message: page address that decodes to blanks only"
config_url "$(b64 '   ')"
company 1 R01 x D1 '' ''
drive start a box a "$msg_no_address" hidden a buttons a 1 ok a exit a
expect_launches 0
end_case

new_case "message: key missing from the configuration file"
printf '[Other]\r\nCompanyURL=%s\r\n' "$(b64 'http://example.com/p')" >"$app/Config/Config.ini"
company 1 R01 x D1 '' ''
drive start a box a "$msg_no_address" ok a exit a
expect_launches 0
end_case

new_case "message: no company identity record"
config_url "$(b64 'http://example.com/p')"
drive start a box a "$msg_no_identity" hidden a buttons a 1 ok a exit a
expect_launches 0
end_case

new_case "message: an identity file without a [Company] section is no identity"
config_url "$(b64 'http://example.com/p')"
printf '[Compnay]\r\nCompanyNum=1234567890\r\nCompanyType=R01\r\nCompanyName=x\r\n' \
  >"$app/Config/Company.ini"
drive start a box a "$msg_no_identity" ok a exit a
expect_launches 0
end_case

# ---- The browser ------------------------------------------------------------------------

remove_iexplore() {
  rm -f "$prefix/drive_c/windows/system32/iexplore.exe" \
    "$prefix/drive_c/Program Files/Internet Explorer/iexplore.exe"
  reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\iexplore.exe' /f
}

new_case "browser: without IExplore.exe the default browser gets the address"
remove_iexplore
config_url "$(b64 'http://example.com/p')"
company 1234567890 R01 '\xce\xde' D1 '' ''
drive start a exit a
expect_address "$example"
end_case

new_case "browser: no browser at all is reported"
remove_iexplore
for scheme in http https; do reg delete "HKCR\\$scheme" /f; done
config_url "$(b64 'http://example.com/p')"
company 1 R01 x D1 '' ''
drive start a box a "$msg_no_browser" buttons a 1 ok a exit a
expect_launches 0
end_case

new_case "browser: an address of another registered scheme never goes to its handler"
# The scheme's handler is the fake browser, and the shell does open such addresses (checked
# first): only the program itself can hold this one back.
remove_iexplore
reg add 'HKCR\companyprobe' /ve /d 'URL:companyprobe' /f
reg add 'HKCR\companyprobe' /v 'URL Protocol' /d '' /f
reg add 'HKCR\companyprobe\shell\open\command' /ve /d '"C:\fake\browser.exe" "%1"' /f
wine_run within 60 wine start companyprobe:check >/dev/null 2>&1
expect_launches 1
rm -f "$prefix/drive_c/browser.log"
config_url "$(b64 'companyprobe:open')"
company 1 R01 x D1 '' ''
drive start a box a "$msg_no_browser" ok a exit a
expect_launches 0
end_case

# ---- Single instance and the start-up show command ---------------------------------------

new_case "second copy while the first shows its window: first maximized, second refused"
config_url "$(b64 'http://example.com/p')"
company 1234567890 R01 '\xce\xde' D1 '' ''
drive start a min iconic a buttons a 1 start b zoomed a box b "$msg_running" nowindow b \
  buttons b 1 ok b exit b exit a
expect_address "$example"
end_case

new_case "second copy while the first shows a creation message: its hidden window is found"
company 1 R01 x D1 '' ''
drive start a box a "$msg_no_config" hidden a start b box b "$msg_running" zoomed a nowindow b \
  buttons a 1 buttons b 1 ok b exit b ok a exit a
expect_launches 0
end_case

new_case "third copy refused while a refused second copy shows its message"
company 1 R01 x D1 '' ''
drive start a box a "$msg_no_config" start b box b "$msg_running" ok a exit a \
  start c box c "$msg_running" nowindow c ok c exit c ok b exit b
expect_launches 0
end_case

new_case "minimized start opens nothing until restored, then normal and centred"
config_url "$(b64 'http://example.com/p')"
company 1234567890 R01 '\xce\xde' D1 '' ''
drive start a min watch a iconic a quiet a 3000 launches 0 restore a 128 143 1024 738 exit a \
  seen a 1
expect_address "$example"
end_case

new_case "minimized start on a screen smaller than the window: restored at the top-left" zh_CN.UTF-8 small
config_url "$(b64 'http://example.com/p')"
company 1234567890 R01 '\xce\xde' D1 '' ''
drive start a min iconic a restore a 0 0 1024 738 exit a
expect_launches 1
end_case

new_case "minimized start with a creation message: no other window of it gets a taskbar button, not even briefly"
company 1 R01 x D1 '' ''
drive start a min watch a box a "$msg_no_config" buttons a 1 ok a exit a seen a 1
expect_launches 0
end_case

# ---- The taskbar -------------------------------------------------------------------------
# On a desktop with Wine's taskbar: a message shown while no window of the program is on
# screen has one button, titled like the program, and clicking it brings the message back
# from under another window.

new_case "taskbar: a creation message has one button that brings it back from under a window"
shell_desktop
company 1 R01 x D1 '' ''
drive start a box a "$msg_no_config" buttons a 1 taskbar a 1 look message cover click a front a \
  ok a exit a
end_case

new_case "taskbar: a refused copy's message, and the first copy's window brought up under its own"
shell_desktop
config_url "$(b64 'http://example.com/p')"
drive start a box a "$msg_no_identity" taskbar a 1 start b box b "$msg_running" zoomed a \
  taskbar a 1 taskbar b 1 buttons a 1 buttons b 1 cover click b front b ok b exit b \
  click a front a ok a exit a
expect_launches 0
end_case

# ---- Linux and Windows agree ------------------------------------------------------------

if [ -n "$linux" ] && [ -x "$linux" ]; then
  new_case "cross-check: Linux (zh_CN.GBK) and Windows (code page 936) hand over the same bytes"
  page=$(printf 'http://\xc6\xf3\xd2\xb5.example/\xd2\xb3 ')
  config_url "$(b64 "$page")"
  # The device and the other value are cut at 2047 bytes (counted after their leading blanks),
  # where the lead byte of 文 (CE C4) stands: both builds must cut there alike (the cut case
  # above pins down how).
  company "  $num  " ' R02 ' ' \xd6\xd0 \xce\xc4~!* ' " dev/+= $(repeat a 2039)\xce\xc4 tail" \
    'UU-0123456789-tail' " \xb1\xb8 \xd7\xa2 & = ? $(repeat '\xd6\xd0' 1017)\xce\xc4 end"
  drive start a exit a
  expect_launches 1
  launched_params 1 A "$case_dir/windows"
  # The Linux program from a folder of its own, with the same files and a recording xdg-open.
  lin=$case_dir/linux
  mkdir -p "$lin/bin" "$lin/app"
  cp "$linux" "$lin/app/CompanyMain"
  cp "$(dirname "$linux")/CompanyMainWindow.so" "$lin/app/"
  cp -r "$app/Config" "$lin/app/Config"
  # Written whole, then named: the address is there once it is all there.
  printf '#!/bin/sh\nprintf "%%s" "$1" > "%s.part" && mv "%s.part" "%s"\n' "$lin/address" \
    "$lin/address" "$lin/address" >"$lin/bin/xdg-open"
  chmod +x "$lin/bin/xdg-open"
  DISPLAY=:$display PATH="$lin/bin:$PATH" LANG=zh_CN.GBK LC_ALL=zh_CN.GBK \
    XDG_RUNTIME_DIR="$lin" within 60 "$lin/app/CompanyMain" >/dev/null 2>&1
  # The program does not wait for a browser that takes its time: waited for here, 30 s at most.
  for i in $(seq 300); do [ -e "$lin/address" ] && break; sleep 0.1; done
  if [ "$(launches)" -ne 1 ]; then
    :  # already reported
  elif [ ! -s "$lin/address" ]; then
    problems+=("the Linux program handed nothing to xdg-open")
  elif ! cmp -s "$case_dir/windows" "$lin/address"; then
    problems+=("Windows $(od -c "$case_dir/windows" | head -c 300 | tr -s ' \n' ' ') Linux $(od -c "$lin/address" | head -c 300 | tr -s ' \n' ' ')")
  fi
  end_case
else
  skip_case "cross-check: Linux and Windows hand over the same bytes" "no Linux program given"
fi

finish
