#!/usr/bin/env bash
# Writes a demo installation beside a built CompanyMain:
#   Config/Config.ini   the address of demo/company-page.html, base64-encoded
#   Config/Company.ini  a demo company (UTF-16 with its byte order mark, so it reads the same
#                       in any locale)
# Usage: demo/setup.sh [folder of CompanyMain]   (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
folder=${1:-$here/../build}
mkdir -p "$folder/Config"

page=$(python3 -c 'import pathlib, sys; print(pathlib.Path(sys.argv[1]).resolve().as_uri())' \
  "$here/company-page.html")
printf '[SysInfo]\r\nCompanyURL=%s\r\n' "$(printf '%s' "$page" | base64 -w0)" >"$folder/Config/Config.ini"

{
  printf '\xff\xfe'
  printf '%s\r\n' '[Company]' 'CompanyNum=3201000001' 'CompanyType=R01' \
    'CompanyName=无锡 湖畔大酒店' 'DeviceId=FRONT-DESK-01' 'UploadUser=' \
    'OtherInfo=楼层 1-12 / 共 180 间' | iconv -f UTF-8 -t UTF-16LE
} >"$folder/Config/Company.ini"

echo "Demo configuration written to $(cd "$folder" && pwd)/Config (page: $page)"
