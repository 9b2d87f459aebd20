#!/usr/bin/env bash
# Fails when a Windows build imports a DLL that does not ship with Windows.
set -euo pipefail
allowed='^(KERNEL32|USER32|GDI32|SHELL32|OLE32|OLEAUT32|ADVAPI32|COMCTL32|COMDLG32|GDIPLUS|SHLWAPI|UXTHEME|MSVCRT|NTDLL|WS2_32|VERSION|IMM32|RPCRT4|SHCORE|api-ms-win-[a-z0-9-]+)\.DLL$'
status=0
for exe in "$@"; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | sort -u)
  echo "$exe ($(stat -c %s "$exe") bytes) imports: $(echo $dlls)"
  while read -r dll; do
    if ! echo "$dll" | grep -Eiq "$allowed"; then
      echo "  not shipped with Windows: $dll"
      status=1
    fi
  done <<<"$dlls"
done
exit $status
