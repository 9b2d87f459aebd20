#!/usr/bin/env bash
# Brings po/zh_CN.po up to the tool's source texts, and debian/po/ (templates.pot, zh_CN.po) up
# to the debconf templates (debian/companymain.templates): new texts come in untranslated
# (translate them), texts no longer used go. tests/posix/catalog_test.py fails until every
# text is translated.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/sources.sh"
template=$(mktemp)
trap 'rm -f "$template"' EXIT
extract_messages "$here/.." >"$template"
msgmerge --quiet --update --backup=none --no-fuzzy-matching --no-location --no-wrap \
  "$here/zh_CN.po" "$template"
msgattrib --no-obsolete --no-wrap --output-file="$here/zh_CN.po" "$here/zh_CN.po"
(cd "$here/../debian" && debconf-updatepo --msgid-bugs-address=maintainers@companymain.example)
