#!/usr/bin/env bash
# The Debian package's life on this machine (tests/package/run.py): build (from a copy of this
# tree, in a temporary folder), lint, install, configure, start from the menu entry, upgrade,
# remove, purge. As root; it purges the package when it ends. --keep-build DIR copies the first
# build's packages and SHA256SUMS there. Prints one line per step and
# "N passed, N failed"; exits non-zero on any failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# Message texts are read through the accessibility bus of a D-Bus session of its own.
exec dbus-run-session -- /usr/bin/python3 "$here/run.py" "$@"
