#!/usr/bin/env bash
# CompanyMainConfig.exe under Wine: for random identities and addresses in several code pages,
# the tool writes the configuration, its check prints an address, and the real launcher hands
# the fake browser exactly that address; refused input and the launcher's messages too.
#   tests/wine/tool.sh build-win64/CompanyMain.exe
# The tool is taken from beside the exe. Prints one line per case and "N passed, N failed".
usage="$0 path/to/CompanyMain.exe"
source "$(dirname "$0")/lib.sh"
tool_exe=$(dirname "$exe")/CompanyMainConfig.exe
[ -f "$tool_exe" ] || { echo "missing $tool_exe" >&2; exit 2; }
ensure_locale zh_TW.UTF-8 UTF-8
ensure_locale en_US.UTF-8 UTF-8

# tool ARG...: runs the tool in C:\app; its output (UTF-8 when redirected) in $case_dir/tool.out.
tool() {
  wine_run timeout 60 wine 'C:\app\CompanyMainConfig.exe' "$@" >"$case_dir/tool.out" 2>&1
}

# Random cases: one line of tab-separated values each (url number type name device upload
# other), from characters the code page holds.
random_cases() {  # codec seed count
  python3 - "$@" <<'PY'
import random, sys
codec, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
extra = {"cp936": "无锡湖畔大酒店中文名称宾馆旅社前台", "cp950": "無錫湖畔大酒店中文名稱賓館旅社前台",
         "cp1252": "éàüößñçÉÀÜ"}[codec]
rng = random.Random(seed)
ascii_pool = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.~!*'() "
def text(low, high, pool=ascii_pool + extra):
    return "".join(rng.choice(pool) for _ in range(rng.randint(low, high)))
for _ in range(count):
    fields = ["http://%s.example/%s" % (text(1, 8, "abcxyz" + extra), text(0, 12).replace(" ", "-")),
              text(1, 70, "0123456789"), rng.choice(["R01", "R02", "r02", "X9"]),
              rng.choice([text(1, 20).strip() or "x", "-"]), text(1, 12, "ABCDEF0123456789-"),
              rng.choice(["-", "ABC1234567890XYZ", "ABC12345678"]), text(1, 30).strip() or "o"]
    print("\t".join(fields))
PY
}

json_field() {  # field: from $case_dir/tool.out
  python3 -c 'import json, sys; print(json.load(open(sys.argv[1], encoding="utf-8")).get(sys.argv[2], ""), end="")' \
    "$case_dir/tool.out" "$1"
}

for entry in "zh_CN.UTF-8 cp936 11" "zh_TW.UTF-8 cp950 12" "en_US.UTF-8 cp1252 13"; do
  read -r lang codec seed <<<"$entry"
  n=0
  while IFS=$'\t' read -r url number type name device upload other; do
    n=$((n + 1))
    new_case "tool: check and launcher agree, code page ${codec#cp}, case $n" "$lang"
    cp "$tool_exe" "$app/CompanyMainConfig.exe"
    [ "$name" = - ] && name=''
    [ "$upload" = - ] && upload=''
    tool set-address "$url" || problems+=("set-address: $(head -c 300 "$case_dir/tool.out")")
    tool set-company --number "$number" --type "$type" --name "$name" --device-id "$device" \
      --upload-user "$upload" --other "$other" ||
      problems+=("set-company: $(head -c 300 "$case_dir/tool.out")")
    tool check --json || problems+=("check: $(head -c 300 "$case_dir/tool.out")")
    json_field address >"$case_dir/checked"
    drive start a exit a
    expect_launches 1
    if [ "$(launches)" -eq 1 ]; then
      launched_params 1 W "$case_dir/got"
      cmp -s "$case_dir/checked" "$case_dir/got" ||
        problems+=("check said $(head -c 200 "$case_dir/checked") launcher opened $(head -c 200 "$case_dir/got")")
    fi
    end_case
  done < <(random_cases "$codec" "$seed" 4)
done

# ---- Refused input and the launcher's messages ----------------------------------------------

refused() {  # name expected-code arg...
  local name=$1 code=$2
  shift 2
  new_case "tool: $name"
  cp "$tool_exe" "$app/CompanyMainConfig.exe"
  config_url "$(b64 'http://kept.example/')"
  cp "$app/Config/Config.ini" "$case_dir/kept"
  tool "$@"
  local status=$?
  [ "$status" -eq "$code" ] || problems+=("exit code $status, expected $code: $(head -c 200 "$case_dir/tool.out")")
  cmp -s "$case_dir/kept" "$app/Config/Config.ini" || problems+=("Config.ini changed")
  end_case
}
refused "a file:// address is refused" 2 set-address 'file:///C:/Windows/notepad.exe'
refused "a program path is refused" 2 set-address 'C:\Windows\notepad.exe'
refused "a blank address is refused" 2 set-address '   '
refused "an address longer than the launcher reads is refused" 2 set-address "http://x/$(repeat p 1525)"
refused "a name code page 936 cannot hold is refused" 2 set-company --number 1 --type R01 \
  --name '한국' --device-id D1

message_case() {  # name hex-of-message: files prepared by the caller
  tool check --json
  local status=$?
  [ "$status" -eq 1 ] || problems+=("check ended with $status")
  [ "$(json_field message | od -An -tx1 -v | tr -d ' \n')" = "$2" ] ||
    problems+=("check said $(json_field message)")
  drive start a box a "$2" ok a exit a
  expect_launches 0
  end_case
}
new_case "tool: check says the launcher's message: no configuration file"
cp "$tool_exe" "$app/CompanyMainConfig.exe"
company 1 R01 x D1 '' ''
message_case "no configuration" "$msg_no_config"

new_case "tool: check says the launcher's message: no identity section"
cp "$tool_exe" "$app/CompanyMainConfig.exe"
config_url "$(b64 'http://example.com/p')"
printf '[Compnay]\r\nCompanyNum=1\r\n' >"$app/Config/Company.ini"
message_case "no identity" "$msg_no_identity"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
