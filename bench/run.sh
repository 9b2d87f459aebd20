#!/usr/bin/env bash
# Launch latency of CompanyMain against what its toolkit allows.
#
#   bench/run.sh [runs]        (default 21 runs of each program; at least 15 are useful)
#
# Builds what it needs, starts its own Xvfb, and measures side by side, interleaved round by
# round: the time from the program's exec to the moment the (fake) browser starts, the
# program's wall time, and its peak memory (ru_maxrss from wait4). Linux: CompanyMain against
# a minimal Qt 6 Widgets program and a static C program that only starts the browser, cold
# (page cache dropped before each start, as root) and warm, each start of a round cold first
# and then at once warm.
# Windows: CompanyMain.exe under Wine against a minimal Win32 window program. It prints
# medians and ratios; it never passes or fails.
#
# Environment: BENCH_BUILD (Linux build dir, default build-bench), BENCH_BUILD_WIN (default
# build-bench-win64), BENCH_SKIP_WINE=1, BENCH_SKIP_LINUX=1, BENCH_SKIP_SIZES=1 (the identity
# files of 1 MiB to 1 GiB), BENCH_SIZE_RUNS (default 7), BENCH_SKIP_COLD=1, BENCH_JOBS
# (default 2), and
# BENCH_EXTRA="label=/path/to/CompanyMain label2=/path/to/CompanyMain.exe ..." to measure other
# builds of the launcher (a proposed change, say) in the same rounds. BENCH_NO_SESSION_BUS=1
# measures a desktop without a session bus.
set -euo pipefail

# A desktop session has a session bus, and Qt talks to it while it starts; without one, libdbus
# would start a new bus through dbus-launch in every run.
if [ "${BENCH_NO_SESSION_BUS:-0}" = 1 ]; then
  unset DBUS_SESSION_BUS_ADDRESS
elif [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && command -v dbus-run-session >/dev/null; then
  exec dbus-run-session -- "$0" "$@"
fi

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH="$ROOT/bench"
RUNS=${1:-${BENCH_RUNS:-21}}
WARMUP=2
JOBS=${BENCH_JOBS:-2}
BUILD=${BENCH_BUILD:-$ROOT/build-bench}
BUILD_WIN=${BENCH_BUILD_WIN:-$ROOT/build-bench-win64}
TOOLS="$BUILD/bench-tools"
WINE64=/usr/lib/wine/wine64
PAGE="http://127.0.0.1/company/index.html"

say() { printf '%s\n' "$*"; }
note() { printf '  note: %s\n' "$*"; }

WORK=$(mktemp -d /tmp/companymain-bench.XXXXXX)
XVFB_PID=""
WINE_STARTED=0
cleanup() {
  if [ "$WINE_STARTED" = 1 ]; then WINEPREFIX="$WINEPREFIX_DIR" wineserver -k 2>/dev/null || true; fi
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# ---------------------------------------------------------------- build
mkdir -p "$TOOLS/bin"
cc -O2 -static -o "$TOOLS/timer" "$BENCH/timer.c"
cc -O2 -static -o "$TOOLS/bin/xdg-open" "$BENCH/fake_browser.c"
cc -O2 -static -o "$TOOLS/floor-spawn" "$BENCH/floor_spawn.c"
cc -O2 -static -o "$TOOLS/floor-files" "$BENCH/floor_files.c"
# shellcheck disable=SC2046
c++ -O2 -std=c++20 -fPIC -o "$TOOLS/floor-qt" "$BENCH/floor_qt.cpp" \
  $(pkg-config --cflags --libs Qt6Widgets)

LINUX_APP=""
if [ "${BENCH_SKIP_LINUX:-0}" != 1 ]; then
  if cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
       >"$WORK/linux-configure.log" 2>&1 &&
     cmake --build "$BUILD" -j"$JOBS" --target CompanyMain >"$WORK/linux-build.log" 2>&1; then
    LINUX_APP="$BUILD/CompanyMain"
  else
    say "CompanyMain (Linux) did not build; measuring the floors only. Last lines:"
    tail -n 15 "$WORK/linux-build.log" "$WORK/linux-configure.log" 2>/dev/null | sed 's/^/    /'
  fi
fi

WIN_APP=""
HAVE_WINE=0
if [ "${BENCH_SKIP_WINE:-0}" != 1 ] && [ -x "$WINE64" ] && command -v x86_64-w64-mingw32-gcc >/dev/null; then
  HAVE_WINE=1
  x86_64-w64-mingw32-gcc -O2 -static -mwindows -o "$TOOLS/fake_iexplore.exe" "$BENCH/fake_iexplore.c"
  x86_64-w64-mingw32-gcc -O2 -static -mwindows -municode -o "$TOOLS/floor_win.exe" \
    "$BENCH/floor_win.c" -lshell32
  if cmake -S "$ROOT" -B "$BUILD_WIN" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
       -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF -DCOMPANYMAIN_WINE_TOOLS=OFF \
       >"$WORK/win-configure.log" 2>&1 &&
     cmake --build "$BUILD_WIN" -j"$JOBS" --target CompanyMain >"$WORK/win-build.log" 2>&1; then
    WIN_APP="$BUILD_WIN/CompanyMain.exe"
  else
    say "CompanyMain.exe did not build; measuring the Win32 floor only. Last lines:"
    tail -n 15 "$WORK/win-build.log" "$WORK/win-configure.log" 2>/dev/null | sed 's/^/    /'
  fi
fi

# ---------------------------------------------------------------- program folders
# The launcher finds its Config/ beside its own executable, so each build gets a copy.
write_config() {
  mkdir -p "$1/Config"
  printf '[SysInfo]\r\nCompanyURL=%s\r\n' "$(printf '%s' "$PAGE" | base64 -w0)" >"$1/Config/Config.ini"
  printf '[Company]\r\nCompanyNum=330102000123\r\nCompanyType=01\r\nCompanyName=West Lake Inn\r\nDeviceId=DEV-0001\r\nUploadUser=frontdesk\r\nOtherInfo=bench\r\n' \
    >"$1/Config/Company.ini"
}
if [ -n "$LINUX_APP" ]; then
  mkdir -p "$WORK/linux-app"
  cp "$LINUX_APP" "$WORK/linux-app/CompanyMain"
  cp "$(dirname "$LINUX_APP")/CompanyMainWindow.so" "$WORK/linux-app/" 2>/dev/null || true
  write_config "$WORK/linux-app"
fi
EXTRA_LINUX=()
EXTRA_WIN=()
for entry in ${BENCH_EXTRA:-}; do
  label=${entry%%=*}
  path=${entry#*=}
  [ -f "$path" ] || { say "BENCH_EXTRA: no file $path"; continue; }
  mkdir -p "$WORK/extra-$label"
  write_config "$WORK/extra-$label"
  case "$path" in
    *.exe) cp "$path" "$WORK/extra-$label/CompanyMain.exe"
           EXTRA_WIN+=("x-$label|$WORK/extra-$label/CompanyMain.exe|") ;;
    *) cp "$path" "$WORK/extra-$label/CompanyMain"
       cp "$(dirname "$path")/CompanyMainWindow.so" "$WORK/extra-$label/" 2>/dev/null || true
       EXTRA_LINUX+=("x-$label|$WORK/extra-$label/CompanyMain|") ;;
  esac
done
if [ -n "$WIN_APP" ]; then
  mkdir -p "$WORK/win-app"
  cp "$WIN_APP" "$WORK/win-app/CompanyMain.exe"
  write_config "$WORK/win-app"
fi

# ---------------------------------------------------------------- display
# 24-bit, the size of a common office screen; every program is shown maximized on it.
exec {DISPLAY_FD}>"$WORK/display"
Xvfb -displayfd "$DISPLAY_FD" -noreset -screen 0 1920x1080x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
exec {DISPLAY_FD}>&-
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
DISPLAY_NUM=$(head -n1 "$WORK/display")
[ -n "$DISPLAY_NUM" ] || { say "Xvfb did not start"; cat "$WORK/xvfb.log"; exit 1; }

# ---------------------------------------------------------------- measuring
RESULTS="$WORK/results"
: >"$RESULTS"

# run_one KIND NAME PROGRAM [ARGS...]: one measured start; appends
# "NAME browser_ms wall_ms rss_kib exit_code address_ok round" to $RESULTS (browser_ms "-" if none).
run_one() {
  local kind=$1 name=$2
  shift 2
  local stamp="$WORK/stamp" runtime="$WORK/runtime" line
  rm -rf "$stamp" "$runtime"
  mkdir -m 0700 "$runtime"
  if [ "$kind" = linux-cold ]; then
    # The first start of the day: nothing of the program or its libraries in the page cache.
    sync
    echo 3 >/proc/sys/vm/drop_caches
  fi
  if [ "$kind" != wine ]; then
    line=$(env -i HOME="$HOME" PATH="$TOOLS/bin:/usr/bin:/bin" LANG=C.UTF-8 \
      DISPLAY=":$DISPLAY_NUM" XDG_RUNTIME_DIR="$runtime" BENCH_STAMP="$stamp" \
      ${DBUS_SESSION_BUS_ADDRESS:+DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS"} \
      "$TOOLS/timer" 20 "$@")
  else
    line=$(env -i HOME="$HOME" PATH="/usr/bin:/bin" LANG=C.UTF-8 DISPLAY=":$DISPLAY_NUM" \
      XDG_RUNTIME_DIR="$runtime" WINEPREFIX="$WINEPREFIX_DIR" WINEDEBUG=-all \
      WINEDLLOVERRIDES="$WINE_OVERRIDES" WINELOADER="$WINE64" BENCH_STAMP="$stamp" \
      "$TOOLS/timer" 40 "$WINE64" "$@")
  fi
  # The browser may start after the launcher has ended; give it time to report.
  for _ in $(seq 250); do [ -s "$stamp" ] && break; sleep 0.02; done
  local start end rss code browser="-" ok=0
  read -r start end rss code <<<"$line"
  if [ -z "${code:-}" ]; then
    echo "$name - 0 0 255 0 $ROUND" >>"$RESULTS"
    rm -rf "$runtime"
    return
  fi
  if [ -s "$stamp" ]; then
    local entry arguments
    read -r entry arguments <"$stamp"
    browser=$(awk -v a="$entry" -v b="$start" 'BEGIN { printf "%.2f", (a - b) / 1e6 }')
    case "$arguments" in *"$PAGE"* | *"http://127.0.0.1/company"*) ok=1 ;; esac
  fi
  awk -v n="$name" -v b="$browser" -v s="$start" -v e="$end" -v r="$rss" -v c="$code" -v o="$ok" \
    -v k="$ROUND" 'BEGIN { printf "%s %s %.2f %d %d %d %d\n", n, b, (e - s) / 1e6, r, c, o, k }' >>"$RESULTS"
  rm -rf "$runtime"
  sleep 0.2  # let the fake browser and the display settle before the next start
}

# rounds KIND "NAME|PROGRAM|ARG" ...: warm-up rounds, then $RUNS rounds; each round starts
# every program once, beginning with a different one each round, so load drift hits all.
rounds() {
  local kind=$1
  shift
  local programs=("$@") count=$# round i k
  for ((round = 0; round < WARMUP + RUNS; round++)); do
    ROUND=$round
    if ((round == WARMUP)) && declare -F after_warmup >/dev/null; then after_warmup; fi
    for ((i = 0; i < count; i++)); do
      k=$(((round + i) % count))
      IFS='|' read -r name program argument <<<"${programs[$k]}"
      if ((round < WARMUP)); then
        run_one "${kind%%+*}" "warmup" "$program" ${argument:+"$argument"}
      elif [ "$kind" = linux+cold ]; then
        # Cold, then at once warm: the two sides of the same start, in the same round.
        run_one linux-cold "$name-cold" "$program" ${argument:+"$argument"}
        run_one linux "$name" "$program" ${argument:+"$argument"}
      else
        run_one "$kind" "$name" "$program" ${argument:+"$argument"}
      fi
    done
  done
}

# stats NAME COLUMN: "median p25 p75" of one column over that program's runs (nearest rank).
stats() {
  awk -v n="$1" -v c="$2" '$1 == n && $c != "-" { print $c }' "$RESULTS" | sort -g |
    awk '{ v[NR] = $1 } END {
      if (NR == 0) { print "- - -"; exit }
      m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      p = int(NR * 0.25 + 0.999); q = int(NR * 0.75 + 0.999); if (p < 1) p = 1
      print m, v[p], v[q] }'
}

row() {  # row NAME LABEL
  local b w r runs bad badaddr
  read -r -a b <<<"$(stats "$1" 2)"
  read -r -a w <<<"$(stats "$1" 3)"
  read -r -a r <<<"$(stats "$1" 4)"
  runs=$(awk -v n="$1" '$1 == n' "$RESULTS" | wc -l)
  bad=$(awk -v n="$1" '$1 == n && ($5 != 0 || $2 == "-")' "$RESULTS" | wc -l)
  badaddr=$(awk -v n="$1" '$1 == n && $2 != "-" && $6 != 1' "$RESULTS" | wc -l)
  awk -v l="$2" -v b0="${b[0]}" -v b1="${b[1]}" -v b2="${b[2]}" -v w0="${w[0]}" -v w1="${w[1]}" \
      -v w2="${w[2]}" -v r0="${r[0]}" -v r1="${r[1]}" -v r2="${r[2]}" -v n="$runs" 'BEGIN {
    printf "  %-22s %8.1f [%6.1f-%6.1f] %8.1f [%6.1f-%6.1f] %7.1f [%5.1f-%5.1f] %4d\n",
      l, b0, b1, b2, w0, w1, w2, r0 / 1024, r1 / 1024, r2 / 1024, n }'
  if [ "$bad" != 0 ]; then note "$2: $bad run(s) ended with a non-zero code or started no browser"; fi
  if [ "$badaddr" != 0 ]; then note "$2: $badaddr run(s) handed the browser an unexpected address"; fi
}

header() {
  say "  program                exec->browser ms [p25-p75]  wall ms [p25-p75]      peak RSS MiB [p25-p75]  runs"
}

# paired NAME FLOOR COLUMN: median over rounds of NAME/FLOOR, each pair started back to back,
# so that load from elsewhere on the machine hits both sides of each ratio alike.
paired() {
  awk -v n="$1" -v f="$2" -v c="$3" '
    $1 == n && $c != "-" { a[$7] = $c }
    $1 == f && $c != "-" { b[$7] = $c }
    END { for (k in a) if ((k in b) && b[k] > 0) print a[k] / b[k] }' "$RESULTS" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) print 0; else print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ratio() {  # ratio NAME FLOOR LABEL
  local a f p
  a=$(for c in 2 3 4; do stats "$1" "$c" | cut -d' ' -f1; done | tr '\n' ' ')
  f=$(for c in 2 3 4; do stats "$2" "$c" | cut -d' ' -f1; done | tr '\n' ' ')
  p=$(for c in 2 3 4; do paired "$1" "$2" "$c"; done | tr '\n' ' ')
  awk -v l="$3" -v a="$a" -v f="$f" -v p="$p" 'BEGIN {
    split(a, x, " "); split(f, y, " "); split(p, z, " ")
    printf "  %-34s browser %5.2fx   wall %5.2fx   memory %5.2fx   (paired: %5.2fx %5.2fx %5.2fx)\n",
      l, x[1] / y[1], x[2] / y[2], x[3] / y[3], z[1], z[2], z[3] }'
}

say "CompanyMain launch benchmark — $(date -u '+%Y-%m-%d %H:%M UTC')"
say "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)," \
  "$(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
say "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); $RUNS measured runs each after $WARMUP warm-up rounds; Xvfb :$DISPLAY_NUM 1920x1080x24, no window manager"
say "session bus: ${DBUS_SESSION_BUS_ADDRESS:-none}"
say "launcher source: commit $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)$(
  git -C "$ROOT" diff --quiet HEAD -- src cmake CMakeLists.txt 2>/dev/null || echo ', with local changes')"
say ""

if [ "${BENCH_SKIP_LINUX:-0}" != 1 ]; then
  # The files floor reads the Config/ beside itself: it gets a program folder of its own.
  mkdir -p "$WORK/floor-files"
  cp "$TOOLS/floor-files" "$WORK/floor-files/"
  write_config "$WORK/floor-files"
  progs=("qt-floor|$TOOLS/floor-qt|" "c-floor|$TOOLS/floor-spawn|"
         "files-floor|$WORK/floor-files/floor-files|")
  [ -n "$LINUX_APP" ] && progs=("launcher|$WORK/linux-app/CompanyMain|" "${progs[@]}")
  progs+=("${EXTRA_LINUX[@]}")
  # Cold starts need the page cache dropped before each, which only root may do.
  modes=("")
  if [ "${BENCH_SKIP_COLD:-0}" != 1 ] && [ -w /proc/sys/vm/drop_caches ]; then
    rounds linux+cold "${progs[@]}"
    modes=("-cold" "")
  else
    rounds linux "${progs[@]}"
    note "cold starts not measured (they need root to drop the page cache)"
  fi
  for mode in "${modes[@]}"; do
    say "Linux, Qt $(pkg-config --modversion Qt6Widgets) on xcb, ${mode:+cold: page cache dropped before each start}${mode:-warm} (medians):"
    header
    [ -n "$LINUX_APP" ] && row "launcher$mode" "CompanyMain"
    row "qt-floor$mode" "Qt Widgets floor"
    row "c-floor$mode" "static C floor"
    row "files-floor$mode" "C floor + lock + files"
    for entry in "${EXTRA_LINUX[@]}"; do row "${entry%%|*}$mode" "${entry%%|*}"; done
    if [ -n "$LINUX_APP" ]; then
      ratio "launcher$mode" "c-floor$mode" "CompanyMain / C floor:"
      ratio "launcher$mode" "files-floor$mode" "CompanyMain / C + files floor:"
      ratio "launcher$mode" "qt-floor$mode" "CompanyMain / Qt floor:"
    fi
    for entry in "${EXTRA_LINUX[@]}"; do
      ratio "launcher$mode" "${entry%%|*}$mode" "CompanyMain / ${entry%%|*}:"
    done
    say ""
  done
fi

# Identity files of growing size, the valid section at the top: the launcher reads until its
# values are known, so neither time nor memory may grow with the rest. "holes" files are
# sparse (the rest reads as zeros without taking disk); "lines" files hold real filler lines.
if [ -n "$LINUX_APP" ] && [ "${BENCH_SKIP_SIZES:-0}" != 1 ]; then
  size_folder() {  # name bytes kind
    local folder="$WORK/size-$1"
    mkdir -p "$folder"
    cp "$LINUX_APP" "$(dirname "$LINUX_APP")/CompanyMainWindow.so" "$folder/"
    write_config "$folder"
    local file="$folder/Config/Company.ini"
    if [ "$3" = holes ]; then
      truncate -s "$2" "$file"
    elif [ "$3" = lines ]; then
      local have
      have=$(stat -c %s "$file")
      yes '; a filler line after the company section of the identity file' |
        head -c $(($2 - have)) >>"$file"
    fi
    echo "$1|$folder/CompanyMain|"
  }
  sizes=("$(size_folder small 0 none)")
  for size in 1M:1048576 100M:104857600 1G:1073741824; do
    sizes+=("$(size_folder "${size%%:*}-holes" "${size#*:}" holes)")
  done
  sizes+=("$(size_folder 100M-lines 104857600 lines)")
  SAVED_RUNS=$RUNS
  RUNS=${BENCH_SIZE_RUNS:-7}
  rounds linux "${sizes[@]}"
  RUNS=$SAVED_RUNS
  say "Linux, Company.ini of growing size, the section at the top (medians):"
  header
  for entry in "${sizes[@]}"; do row "${entry%%|*}" "${entry%%|*} Company.ini"; done
  for entry in "${sizes[@]:1}"; do ratio "${entry%%|*}" small "${entry%%|*} / small file:"; done
  rm -rf "$WORK"/size-*
  say ""
fi

if [ "$HAVE_WINE" = 1 ]; then
  WINEPREFIX_DIR="$BUILD_WIN/wineprefix"
  # No Mono or Gecko prompts; our fake browser instead of Wine's builtin iexplore.
  WINE_OVERRIDES="mscoree=;mshtml=;iexplore.exe=n"
  wine_env() {
    env HOME="$HOME" LANG=C.UTF-8 DISPLAY=":$DISPLAY_NUM" WINEPREFIX="$WINEPREFIX_DIR" \
      WINEDEBUG=-all WINEDLLOVERRIDES="$WINE_OVERRIDES" WINELOADER="$WINE64" "$@"
  }
  # One persistent wineserver, with its desktop process, serves every run.
  mkdir -p "$WINEPREFIX_DIR"
  # A server left from an earlier run of this prefix would keep its desktop on another display.
  wine_env wineserver -k 2>/dev/null || true
  WINE_STARTED=1
  wine_env wineserver -p
  if [ ! -f "$WINEPREFIX_DIR/system.reg" ]; then
    say "(creating the Wine prefix $WINEPREFIX_DIR once)"
  fi
  wine_env "$WINE64" wineboot -i >"$WORK/wineboot.log" 2>&1 || true
  for target in "$WINEPREFIX_DIR/drive_c/windows/system32/iexplore.exe" \
                "$WINEPREFIX_DIR/drive_c/Program Files/Internet Explorer/iexplore.exe"; do
    mkdir -p "$(dirname "$target")"
    cp "$TOOLS/fake_iexplore.exe" "$target"
  done
  desktop_pid() {
    local pid
    for pid in $(pgrep -f 'explorer.exe /desktop' || true); do
      if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX_DIR"; then
        echo "$pid"
        return
      fi
    done
  }
  # A new prefix restarts its desktop once during the first starts; watch it from then on.
  DESKTOP_BEFORE=""
  after_warmup() { DESKTOP_BEFORE=$(desktop_pid); }

  progs=("win-floor|$TOOLS/floor_win.exe|")
  [ -n "$WIN_APP" ] && progs=("win-launcher|$WORK/win-app/CompanyMain.exe|" "${progs[@]}")
  progs+=("${EXTRA_WIN[@]}")
  rounds wine "${progs[@]}"
  DESKTOP_AFTER=$(desktop_pid)
  say "Windows build under $(wine_env "$WINE64" --version 2>/dev/null), wineserver -p (medians):"
  header
  [ -n "$WIN_APP" ] && row win-launcher "CompanyMain.exe"
  row win-floor "Win32 window floor"
  for entry in "${EXTRA_WIN[@]}"; do row "${entry%%|*}" "${entry%%|*}"; done
  [ -n "$WIN_APP" ] && ratio win-launcher win-floor "CompanyMain.exe / Win32 floor:"
  for entry in "${EXTRA_WIN[@]}"; do ratio "${entry%%|*}" win-floor "${entry%%|*} / Win32 floor:"; done
  if [ -n "$DESKTOP_BEFORE" ] && [ "$DESKTOP_BEFORE" = "$DESKTOP_AFTER" ]; then
    say "  Wine desktop process $DESKTOP_BEFORE stayed alive across all runs"
  else
    note "the Wine desktop process changed during the runs (${DESKTOP_BEFORE:-none} -> ${DESKTOP_AFTER:-none}); figures are suspect"
  fi
  say ""
fi

say "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
cp "$RESULTS" "$BUILD/bench-results.txt"
say "ratios: of the medians; paired: median over rounds of the ratio within each round"
say "per-run figures: $BUILD/bench-results.txt (name browser_ms wall_ms rss_kib exit address_ok round)"
