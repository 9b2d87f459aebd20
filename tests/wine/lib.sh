# The machinery of the Wine suites (sourced): a template prefix copied for every case, two
# Xvfb screens, the program's files, the driver that plays the user, and the fake browser's
# log. The sourcing script sets its usage line in $usage and calls these functions.
set -uo pipefail

if [ $# -lt 1 ] || [ ! -f "$1" ]; then
  echo "usage: $usage" >&2
  exit 2
fi
exe=$(realpath "$1")
wine_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# py COMMAND ARG...: the suites' Python helpers (winetest.py).
py() { python3 "$wine_dir/winetest.py" "$@"; }
linux=${2:+$(realpath "$2")}
tools=$(dirname "$exe")/wine-tools
for tool in companymain-driver.exe fake-browser.exe; do
  [ -f "$tools/$tool" ] || { echo "missing $tools/$tool (build the windows preset)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/companymain-wine.XXXXXX)
xvfb_pids=()
cleanup() {
  # Every process of the suite's prefixes (wineservers live on after their programs).
  local pid
  for pid in $(prefix_pids "$work/"); do kill -KILL "$pid" 2>/dev/null; done
  for p in "${xvfb_pids[@]}"; do kill "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# Every command names its prefix and display: none of the caller's are used, let alone ended.
unset WINEPREFIX DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all
# The fake browser stands in for Internet Explorer; no Mono or Gecko installers, no menus.
export WINEDLLOVERRIDES="iexplore.exe=n;mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
# The 64-bit loader itself: where wine32 is installed too, the "wine" command starts the 32-bit
# one, which hands a 64-bit program on through the shell and fails for long Unix paths.
# Wine also starts the programs' own children through WINELOADER; a "wine" of ours first on
# PATH reaches commands run through timeout too.
if [ -x /usr/lib/wine/wine64 ]; then
  export WINELOADER=/usr/lib/wine/wine64
  mkdir -p "$work/bin"
  printf '#!/bin/sh\nexec %s "$@"\n' "$WINELOADER" >"$work/bin/wine"
  chmod +x "$work/bin/wine"
  export PATH="$work/bin:$PATH"
fi

# ---- Time limits ----------------------------------------------------------------------------
# Every program a case starts runs with a limit. When it passes, the case fails with what was
# on screen, the processes of its prefix end, and the suite goes on.

# prefix_pids PREFIX: the processes started with WINEPREFIX=PREFIX (or, for PREFIX ending in
# "/", anything under it), the wineserver among them.
prefix_pids() {
  local pattern
  pattern="^WINEPREFIX=$(printf '%s' "$1" | sed 's/[][\.*^$]/\\&/g')"
  [ "${1%/}" != "$1" ] || pattern+='$'
  grep -l -z -e "$pattern" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3
}

# end_prefix [PREFIX]: ends every process of the prefix (the case's by default): its wineserver
# kills them; what is left after that, or if the server does not answer, is killed by its id.
end_prefix() {
  local dir=${1:-$prefix} pid
  [ -n "$dir" ] || return 0
  WINEPREFIX=$dir timeout 30 wineserver -k >/dev/null 2>&1
  for pid in $(prefix_pids "$dir"); do kill -KILL "$pid" 2>/dev/null; done
  # The server's socket is named after the prefix folder's inode, which the next case's prefix,
  # made at the same path, usually gets again: a server still ending would take its programs.
  WINEPREFIX=$dir timeout 30 wineserver -w >/dev/null 2>&1
}

# on_screen PREFIX DISPLAY: one line of what the display shows: the windows of the prefix with
# their texts (through the test driver, when the prefix has it), the names of the other visible
# windows, and a screenshot kept after the suite (in $SCREENSHOTS, else
# /tmp/companymain-screens; named with the suite's process id, as suites run side by side).
on_screen() {
  local dir=$1 screen=$2 shots=${SCREENSHOTS:-/tmp/companymain-screens} shot windows
  mkdir -p "$shots"
  shot=$shots/$(date +%H%M%S)-$$-$(printf '%s' "${case_name:-setup}" | tr -c 'A-Za-z0-9' _ | cut -c1-60).png
  DISPLAY=$screen timeout 30 import -window root "$shot" >/dev/null 2>&1 || shot="(no screenshot)"
  rm -f "$work/windows.out"
  if [ -f "$dir/drive_c/tools/driver.exe" ]; then
    # Into a file: a wineserver started now would hold a pipe open.
    DISPLAY=$screen WINEPREFIX=$dir timeout -k 5 60 wine 'C:\tools\driver.exe' - windows \
      >"$work/windows.out" 2>/dev/null
    windows=$(tr -d '\r' <"$work/windows.out" | sed -n 's/^window //p' | head -c 1500 | tr '\n' ';')
  fi
  local x
  x=$(DISPLAY=$screen timeout 30 xdotool search --onlyvisible --name . 2>/dev/null | head -20 |
    while read -r id; do DISPLAY=$screen timeout 10 xdotool getwindowname "$id" 2>/dev/null; done |
    sort -u | tr '\n' ';')
  printf 'windows: %s X windows: %s screenshot: %s' "${windows:-(none listed)}" "${x:-(none)}" "$shot"
}

# hung LIMIT WHAT [SCREEN]: the case fails: WHAT still ran after LIMIT seconds, with SCREEN (what
# was on screen then; looked at now when not given); the prefix's processes end. The prefix and
# display are the command's (WINEPREFIX, DISPLAY), else the case's.
hung() {
  local dir=${WINEPREFIX:-$prefix} screen=${DISPLAY:-:${case_display:-$display}}
  problems+=("$2: still running after $1 s; ${3:-$(on_screen "$dir" "$screen")}")
  end_prefix "$dir"
}

# within SECONDS COMMAND...: COMMAND with a time limit; past it, see hung (status 124). Give
# the prefix and display as the command's environment (wine_run within ..., or
# WINEPREFIX=... within ...). The screen is looked at before the command is ended: a Windows
# program's windows go with its process.
within() {
  local limit=$1 seen=$work/seen.$BASHPID.$RANDOM
  shift
  "$@" &
  local command=$!
  (
    trap 'kill "$nap" 2>/dev/null; exit 0' TERM
    sleep "$limit" &
    nap=$!
    wait "$nap"
    on_screen "${WINEPREFIX:-$prefix}" "${DISPLAY:-:${case_display:-$display}}" >"$seen.part"
    mv "$seen.part" "$seen"
    kill -TERM "$command" 2>/dev/null
    sleep 10
    kill -KILL "$command" 2>/dev/null
  ) </dev/null >/dev/null 2>&1 &
  local watch=$!
  wait "$command"
  local status=$?
  kill -TERM "$watch" 2>/dev/null
  wait "$watch"
  if [ -e "$seen" ] || [ -e "$seen.part" ]; then
    hung "$limit" "$(printf '%s' "$*" | head -c 200)" "$(cat "$seen" 2>/dev/null || echo '(the screen was being looked at)')"
    rm -f "$seen" "$seen.part"
    return 124
  fi
  return $status
}

# settle [PREFIX]: waits for every program of the prefix (the case's by default) to end, as
# wineserver -w does, within a limit.
settle() {
  WINEPREFIX=${1:-$prefix} within 120 wineserver -w
}

# Wine takes its ANSI code page from the Unix locale: zh_CN.UTF-8 gives 936, zh_TW.UTF-8 950,
# en_US.UTF-8 (and C) 1252. The Linux program reads its code page from a GBK locale.
source "$wine_dir/../locales.sh"
locales zh_CN.UTF-8 zh_CN.GBK zh_TW.UTF-8 en_US.UTF-8

# Two screens of their own: a large one, and one smaller than the window. Each server picks a
# free display number and reports it once it accepts clients; -noreset keeps it from resetting
# (and refusing clients meanwhile) whenever its last client leaves.
start_xvfb() {  # size; prints the display number
  local fifo=$work/displayfd.$RANDOM
  mkfifo "$fifo"
  Xvfb -displayfd 3 -noreset -screen 0 "$1" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pids+=($!)
  local number
  read -r -t 30 number <"$fifo"
  rm -f "$fifo"
  [ -n "$number" ] || { echo "Xvfb did not start" >&2; exit 2; }
  started_display=$number
}
start_xvfb 1280x1024x24
display=$started_display
start_xvfb 800x600x24
small_display=$started_display

hex() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }
b64() { printf '%s' "$1" | base64 -w0; }
# The program's base64 of longer values: lines of 76 characters joined by CR LF, written with
# printf %b escapes.
b64_lines() { printf '%s' "$1" | base64 -w76 | sed 's/$/\\r\\n/' | tr -d '\n' | sed 's/\\r\\n$//'; }
# repeat TEXT N: TEXT N times.
repeat() { py repeat "$1" "$2"; }

# make_template DIR ARCH TOOLS: a booted prefix (win64 or win32) with the test driver in
# C:\tools and the fake browser (from TOOLS, built for ARCH) as Internet Explorer and as the
# handler of web addresses.
make_template() {
  local dir=$1 arch=$2 from=$3 problems=()
  local c=$dir/drive_c
  DISPLAY=:$display WINEARCH=$arch WINEPREFIX=$dir within 300 wine wineboot -i >/dev/null 2>&1
  settle "$dir"
  mkdir -p "$c/tools" "$c/fake"
  cp "$from/companymain-driver.exe" "$c/tools/driver.exe"
  cp "$from/fake-browser.exe" "$c/fake/browser.exe"
  cp "$from/fake-browser.exe" "$c/windows/system32/iexplore.exe"
  cp "$from/fake-browser.exe" "$c/Program Files/Internet Explorer/iexplore.exe"
  # The default browser of web addresses is the fake as well.
  for scheme in http https; do
    DISPLAY=:$display WINEARCH=$arch WINEPREFIX=$dir within 60 wine reg add "HKCR\\$scheme\\shell\\open\\command" \
      /ve /d '"C:\fake\browser.exe" "%1"' /f >/dev/null 2>&1
  done
  settle "$dir"
  if [ ${#problems[@]} -gt 0 ]; then
    echo "could not prepare the $arch prefix: ${problems[*]}" >&2
    exit 2
  fi
  # Shell folders Wine links to the Unix home (the desktop among them) become folders of the
  # prefix: nothing a case installs lands outside it.
  local link
  for link in "$c/users/"*/*; do
    if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
  done
}

# One template prefix, copied for every case: a fresh WINEPREFIX each time without the slow
# first boot.
template=$work/template
echo "preparing a Wine prefix..."
make_template "$template" win64 "$tools"

passed=0
failed=0
skipped=0
case_dir=
prefix=
app=

# copy_prefix FROM TO: a prefix of its own, made from a template. The system folders, nine
# tenths of its size, are linked instead of copied: Wine only reads their files, and a case that
# takes one away removes its link.
copy_prefix() {
  local from=$1 to=$2 system
  mkdir -p "$to"
  tar -C "$from" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 -cf - . |
    tar -C "$to" -xf -
  for system in system32 syswow64; do
    if [ -d "$from/drive_c/windows/$system" ]; then
      cp -al "$from/drive_c/windows/$system" "$to/drive_c/windows/$system"
    fi
  done
}

# new_case NAME [LANG] [small]: a fresh prefix with the program in C:\app.
new_case() {
  case_name=$1
  case_lang=${2:-zh_CN.UTF-8}
  case_display=$display
  [ "${3:-}" = small ] && case_display=$small_display
  case_dir=$work/case
  rm -rf "$case_dir"
  mkdir -p "$case_dir"
  prefix=$case_dir/prefix
  copy_prefix "$template" "$prefix"
  app_win='C:\app'
  app=$prefix/drive_c/app
  mkdir -p "$app/Config"
  cp "$exe" "$app/CompanyMain.exe"
  problems=()
}

# path_chain N LETTER: nested folder names (Windows form) under C:\ that make a program path
# "C:\<chain>\CompanyMain.exe" exactly N characters long (N > 20). No name passes 255.
path_chain() {
  local rest=$(($1 - 3 - 16)) chain=  # "C:\" and "\CompanyMain.exe" around the folders
  while [ "$rest" -gt 200 ]; do
    chain+="$(printf '%0150d' 0 | tr 0 "$2")\\"
    rest=$((rest - 151))
  done
  printf '%s' "$chain$(printf "%0${rest}d" 0 | tr 0 "$2")"
}

# program_path_length N: moves the program and its Config folder so that the full path of
# CompanyMain.exe has exactly N characters.
program_path_length() {
  local chain
  chain=$(path_chain "$1" d)
  local unix=$prefix/drive_c/${chain//\\//}
  mkdir -p "$unix"
  mv "$app/CompanyMain.exe" "$app/Config" "$unix/"
  rmdir "$app"
  app=$unix
  app_win="C:\\$chain"
}

# The program's files. Values are raw bytes (printf escapes allowed).
config_url() { printf '[SysInfo]\r\nCompanyURL=%s\r\n' "$1" >"$app/Config/Config.ini"; }
company() {  # num type name device upload other
  printf '[Company]\r\nCompanyNum=%b\r\nCompanyType=%b\r\nCompanyName=%b\r\nDeviceId=%b\r\nUploadUser=%b\r\nOtherInfo=%b\r\n' \
    "$1" "$2" "$3" "$4" "$5" "$6" >"$app/Config/Company.ini"
}

wine_run() {
  DISPLAY=:$case_display WINEPREFIX=$prefix LANG=$case_lang LC_ALL=$case_lang "$@"
}

# program_said FILE: what a program wrote to its standard error (FILE), without CRs and without the
# lines of Wine's own processes. The first program of a prefix brings up Wine's services, which
# inherit its standard error; their lines are not the program's, and Wine's device host
# sometimes crashes while the server shuts down ("wine: Unhandled page fault ..."). A crash of
# the program itself shows in its exit code.
program_said() {
  tr -d '\r' <"$1" | grep -v -E '^(wine: |[0-9a-f]{4}:(err|warn|fixme|trace):)'
}

# reg ARG...: Wine's reg in the case's prefix, within a limit.
reg() {
  wine_run within 60 wine reg "$@" >/dev/null 2>&1
}

# shell_desktop: the case runs on a virtual desktop of 1024 x 768 with Wine's taskbar (the
# desktop named "shell" has one), in a font that has the program's characters.
shell_desktop() {
  reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f
  reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f
  cjk_font
}
# cjk_font: dialogs and message boxes in that font (Wine's own have no Chinese outside zh_CN).
cjk_font() {
  local font
  for font in Tahoma 'MS Shell Dlg' 'MS Shell Dlg 2'; do
    reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v "$font" /d 'Noto Sans CJK SC' /f
  done
}

# look_while COMMAND...: runs COMMAND (the driver, writing $case_dir/driver.out); at each of its
# steps "look NAME" the screen is saved as the case's screenshot NAME (in $SCREENSHOTS when set,
# else with the case), and then the driver goes on (it fails when none could be taken).
look_while() {
  [[ " $* " == *" look "* ]] || { "$@"; return; }
  local out=$case_dir/driver.out looker status
  : >"$out"
  mkdir -p "${SCREENSHOTS:-$case_dir}"
  (seen=0; while sleep 0.1; do
    name=$(tr -d '\r' <"$out" | sed -n 's/^look //p' | sed -n "$((seen + 1))p")
    [ -n "$name" ] && seen=$((seen + 1)) && DISPLAY=:$case_display import -window root -trim +repage \
      "${SCREENSHOTS:-$case_dir}/$(printf '%s' "${case_name:0:40}-$name" | tr -c 'A-Za-z0-9-' _).png" &&
      touch "$prefix/drive_c/looked"
  done) 2>/dev/null &
  looker=$!
  "$@"; status=$?
  kill $looker
  return $status
}

# drive STEP...: runs the driver's steps against C:\app\CompanyMain.exe. At its step "look"
# the screen is saved as the case's screenshot (see look_while).
drive() {
  # Into a file, not a pipe: wineserver inherits the descriptor and outlives the driver. Its
  # steps wait 20 s at most each; the whole run has a limit as well.
  look_while wine_run timeout -k 10 "$drive_limit" wine 'C:\tools\driver.exe' "$app_win\\CompanyMain.exe" "$@" \
    >"$case_dir/driver.out" 2>&1
  local status=$?
  local out
  out=$(tr -d '\r' <"$case_dir/driver.out")
  if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    hung "$drive_limit" "the driver (after: $(printf '%s\n' "$out" | tail -1 | head -c 200))"
  elif ! grep -q '^ok' <<<"$out"; then
    problems+=("the driver did no step (status $status): $(printf '%s' "$out" | head -c 300 | tr '\n' ' ')")
  elif grep -q '^FAIL' <<<"$out"; then
    problems+=("$(printf '%s\n' "$out" | grep -E '^FAIL|err' | head -3 | tr '\n' ' ')")
  elif [ $status -ne 0 ]; then
    problems+=("driver ended with status $status")
  fi
}

# launches: how many times a browser was started.
launches() {
  local log=$prefix/drive_c/browser.log
  [ -f "$log" ] && wc -l <"$log" || echo 0
}

# launched_params N W|A FILE: the parameter text of launch N (wide line as UTF-8, or the ANSI
# line), without the program name and without the quotes a "%1" command adds.
launched_params() {
  local field=2
  [ "$2" = A ] && field=4
  sed -n "${1}p" "$prefix/drive_c/browser.log" | awk -v f=$field '{print $f}' | xxd -r -p |
    py launched-params >"$3"
}

expect_launches() {  # N
  # The program may end before the browser it started has written its line: its count is read
  # again until it is N (30 s at most, which only a failing case waits out).
  local n tries=0
  [ "$1" -eq 0 ] && sleep 1
  while [ "$(launches)" -lt "$1" ] && [ $tries -lt 300 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
  n=$(launches)
  [ "$n" -eq "$1" ] || problems+=("browser started $n times, expected $1")
}

# expect_address BYTES (printf %b escapes): exactly one launch, with exactly this address.
expect_address() {
  expect_launches 1
  [ "$(launches)" -eq 1 ] || return
  printf '%b' "$1" >"$case_dir/expected"
  launched_params 1 W "$case_dir/got"
  if ! cmp -s "$case_dir/expected" "$case_dir/got"; then
    problems+=("address $(od -c "$case_dir/got" | head -c 400 | tr -s ' \n' ' ') expected $(od -c "$case_dir/expected" | head -c 400 | tr -s ' \n' ' ')")
  fi
}

end_case() {
  end_prefix
  if [ ${#problems[@]} -eq 0 ]; then
    echo "PASS $case_name"
    passed=$((passed + 1))
  else
    echo "FAIL $case_name: ${problems[*]}"
    failed=$((failed + 1))
  fi
}

# skip_case NAME REASON: a case this machine cannot run; counted apart, never as passed.
skip_case() {
  echo "SKIP $1: $2"
  skipped=$((skipped + 1))
}

# The suite's closing line; exit status 0 when nothing failed.
finish() {
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
}

# can_run_32bit DRIVER: whether Wine starts a 32-bit program here, asked once: the 32-bit test
# driver DRIVER must print its usage and end with its exit code 2 in the 64-bit template
# prefix. A kernel without 32-bit support refuses Wine's 32-bit loader ("Exec format error"),
# and Wine without its 32-bit side has none; either way the program never runs (while the
# loader's own exit code can still be 0). Sets run32 (yes or no) and why32 (why not).
can_run_32bit() {
  local status problems=() out=$work/probe32.out
  # Into a file: the wineserver it starts would hold a pipe open.
  DISPLAY=:$display WINEPREFIX=$template timeout -k 10 60 wine "$1" >"$out" 2>&1
  status=$?
  settle "$template"
  if [ $status -eq 2 ] && grep -q '^usage: companymain-driver' "$out"; then
    run32=yes
    why32=
  else
    run32=no
    why32="Wine cannot start a 32-bit program here (the 32-bit test driver did not run: exit code $status, "
    if [ -s "$out" ]; then
      why32+="output: $(tr -d '\r' <"$out" | tail -2 | tr '\n' ' ' | head -c 200))"
    else
      why32+="no output)"
    fi
    why32+="${problems[*]:+ ${problems[*]}}"
  fi
}

drive_limit=120
V=NS4wLjAuMA==
msg_running=$(hex '企业信息管理系统已经运行...')
msg_no_config=$(hex '配置文件不存在,无法启动软件')
msg_no_address=$(hex '读取企业信息页面地址为空,无法启动软件')
msg_no_identity=$(hex '读取企业身份信息失败,无法启动软件')
msg_no_browser=$(hex '无法启动浏览器,请检查系统的默认浏览器设置')
big="1280 1024"

