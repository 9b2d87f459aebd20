#!/usr/bin/env bash
# Runs CompanyMain on the demo installation, building it first when it is missing.
# With a desktop (DISPLAY or WAYLAND_DISPLAY) and xdg-open, the page opens in your browser.
# Without one it runs under xvfb-run with a stand-in xdg-open that prints the address it was
# handed and the six values decoded, so the demo also works on a headless machine.
# Usage: demo/run.sh [path to CompanyMain]   (default: build-demo/CompanyMain)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
program=${1:-$root/build-demo/CompanyMain}
# As root on a fresh machine, bring in what building and running need (apt, only if missing).
if [ "$(id -u)" -eq 0 ]; then
  bash "$root/scripts/install-deps.sh" linux
fi
if [ ! -x "$program" ]; then
  echo "Building CompanyMain..."
  # The program alone: the demo needs none of the test tools.
  cmake -S "$root" -B "$root/build-demo" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$root/build-demo" -j2 --target CompanyMain
fi
bash "$here/setup.sh" "$(dirname "$program")"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v xdg-open >/dev/null; then
  echo "Starting CompanyMain; the company page opens in your browser."
  exec "$program"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/run"
cat >"$work/xdg-open" <<STANDIN
#!/bin/sh
# Stand-in browser: keeps the one argument it was handed, byte for byte.
printf '%s' "\$1" >"$work/address.part" && mv "$work/address.part" "$work/address"
STANDIN
chmod +x "$work/xdg-open"

echo "No desktop here: running CompanyMain under Xvfb with a stand-in xdg-open."
PATH="$work:$PATH" XDG_RUNTIME_DIR="$work/run" xvfb-run -a -s "-noreset -screen 0 1280x1024x24" "$program"
for _ in $(seq 100); do
  [ -e "$work/address" ] && break
  sleep 0.1
done
if [ ! -e "$work/address" ]; then
  echo "CompanyMain did not start a browser." >&2
  exit 1
fi
python3 - "$work/address" <<'DECODE'
import base64, sys, urllib.parse
address = open(sys.argv[1], "rb").read()
print("xdg-open was handed:\n  %r\n" % address.decode("utf-8", "replace"))
query = address.split(b"?Id=", 1)[1]
values = dict(part.split(b"=", 1) for part in (b"Id=" + query).split(b"&"))
for key, kind in [(b"Id", "b64"), (b"Name", "form"), (b"Type", "b64"), (b"DeviceId", "b64"),
                  (b"other", "form"), (b"Version", "b64")]:
    raw = values.get(key, b"")
    if kind == "b64":
        text = base64.b64decode(raw.replace(b"\r\n", b"")).decode("utf-8", "replace")
    else:
        text = urllib.parse.unquote_plus(raw.decode("ascii", "replace"))
    print("  %-9s %s" % (key.decode(), text))
DECODE
