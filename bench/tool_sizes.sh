#!/usr/bin/env bash
# companymain-config's change of one value against the size of the file it is made in.
#
#   bench/tool_sizes.sh BEFORE AFTER [runs]      (two builds of companymain-config; default 3 runs)
#
# For each file, side by side and interleaved run by run: `set-company --device-id` on
# Company.ini holding 1, 8 and 64 MiB of comment lines with LF ends before its [Company]
# section (ANSI), or of LF line ends before it (UTF-16 LE). Prints the median wall time and
# peak memory (maximum resident set, as /usr/bin/time -v reports it) of each build, memory as a
# multiple of the file, and the ratios AFTER/BEFORE. A run is given up after BENCH_TIMEOUT
# seconds (default 60) and BENCH_AS_MIB of address space (default 4096), so that a build that
# is quadratic or runs out of memory shows as such instead of taking the machine. It never
# passes or fails.
set -euo pipefail

BEFORE=$(realpath "$1")
AFTER=$(realpath "$2")
RUNS=${3:-3}
TIMEOUT=${BENCH_TIMEOUT:-60}
AS_MIB=${BENCH_AS_MIB:-4096}
WORK=$(mktemp -d /tmp/companymain-tool-sizes.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

# The file of the kind and size (MiB), with the identity the tool wants at its end.
make_file() {  # kind mib path
  python3 - "$@" <<'EOF'
import sys
kind, mib, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
identity = "[Company]\nCompanyNum=1234567890\nCompanyType=R01\nDeviceId=D1\n"
if kind == "ansi":
    line = b"; a comment line of the installation\n"
    data = line * (((mib << 20) - len(identity)) // len(line)) + identity.encode()
else:  # at most the tool's limit, 64 MiB, with the mark
    data = b"\xff\xfe" + ("\n" * ((mib << 19) - 1 - len(identity)) + identity).encode("utf-16-le")
open(path, "wb").write(data)
EOF
}

# One run: "seconds kilobytes", or "fail why" when it did not change the file.
run_once() {  # tool file
  rm -rf "$WORK/dir" && mkdir -p "$WORK/dir/Config" && cp "$2" "$WORK/dir/Config/Company.ini"
  local code=0
  LANG=C.UTF-8 timeout "$TIMEOUT" /usr/bin/prlimit --as=$((AS_MIB << 20)) -- \
    /usr/bin/time -f "%e %M" -o "$WORK/time" \
    "$1" --dir "$WORK/dir" set-company --device-id D2 >/dev/null 2>"$WORK/err" || code=$?
  case $code in
    0) cat "$WORK/time" ;;
    124) echo "fail >${TIMEOUT}s" ;;
    134) echo "fail abort" ;;
    *) echo "fail exit$code" ;;
  esac
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-8s %5s | %10s %10s %7s | %10s %10s %7s | %8s %8s\n' kind MiB "before s" "before MB" "x file" \
  "after s" "after MB" "x file" "time x" "mem x"
for kind in ansi utf16; do
  for mib in 1 8 64; do
    file="$WORK/$kind-$mib.ini"
    make_file "$kind" "$mib" "$file"
    size=$(stat -c %s "$file")
    : >"$WORK/before" && : >"$WORK/after"
    for _ in $(seq "$RUNS"); do
      # A build that failed once on the file is not run on it again.
      for build in before after; do
        tool=$BEFORE && [ "$build" = after ] && tool=$AFTER
        grep -q fail "$WORK/$build" || run_once "$tool" "$file" >>"$WORK/$build"
      done
    done
    row=()
    for build in before after; do
      if grep -q fail "$WORK/$build"; then
        row+=("$(grep -m1 fail "$WORK/$build" | cut -d' ' -f2)" - -)
        continue
      fi
      seconds=$(cut -d' ' -f1 "$WORK/$build" | median)
      kib=$(cut -d' ' -f2 "$WORK/$build" | median)
      row+=("$seconds" "$((kib / 1024))" "$(awk -v k="$kib" -v s="$size" 'BEGIN { printf "%.2f", k * 1024 / s }')")
    done
    ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.3f", b / a; else print "-" }'; }
    printf '%-8s %5s | %10s %10s %7s | %10s %10s %7s | %8s %8s\n' "$kind" "$mib" "${row[@]}" \
      "$(ratio "${row[0]}" "${row[3]}")" "$(ratio "${row[1]}" "${row[4]}")"
    rm -f "$file"
  done
done
