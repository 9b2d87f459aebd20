#!/usr/bin/env bash
# Signs Windows files in place (Authenticode, SHA-256) with the PEM certificate and key named
# by SIGN_CERT and SIGN_KEY; without them it leaves the files as they are.
#   sign-windows.sh FILE...
# SIGN_TIMESTAMP (a time-stamping service's address) adds a counter-signature.
set -euo pipefail
if [ -z "${SIGN_CERT:-}" ] && [ -z "${SIGN_KEY:-}" ]; then exit 0; fi
[ -n "${SIGN_CERT:-}" ] && [ -n "${SIGN_KEY:-}" ] || { echo "SIGN_CERT and SIGN_KEY go together" >&2; exit 2; }
timestamp=()
[ -n "${SIGN_TIMESTAMP:-}" ] && timestamp=(-ts "$SIGN_TIMESTAMP")
for file in "$@"; do
  osslsigncode sign -certs "$SIGN_CERT" -key "$SIGN_KEY" -h sha256 -n "企业信息管理" \
    "${timestamp[@]}" -in "$file" -out "$file.signing" >/dev/null
  mv -f "$file.signing" "$file"
done
