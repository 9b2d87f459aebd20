# locales NAME.CHARMAP...: makes each locale the machine lacks (as root). A locale that cannot be
# made is named on standard error, and the call fails.
locales() {
  local name have status=0
  have=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
  for name; do
    grep -qxF "$(printf '%s' "$name" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')" <<<"$have" && continue
    localedef -i "${name%%.*}" -f "${name#*.}" "$name" >/dev/null 2>&1 && continue
    echo "warning: could not make the locale $name" >&2
    status=1
  done
  return $status
}
