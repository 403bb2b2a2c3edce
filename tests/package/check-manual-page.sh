#!/usr/bin/env bash
# The manual page must say what the program does: the options "parcelup --help" prints, the
# settings keys the program reads and the exit statuses it returns, no more and no fewer, and groff
# must render it without a warning.
#   check-manual-page.sh PARCELUP_BINARY MANUAL_PAGE SOURCE_DIR
set -euo pipefail
binary=$1 page=$2 source=$3
failed=0

# "SECTION<TAB>heading" for every tagged paragraph (.TP): the line after .TP names an option, a
# settings key or an exit status. Escaped minus signs become plain ones.
headings() {
  awk '/^\.SH / { section = substr($0, 5); gsub(/"/, "", section) }
       previous == ".TP" { print section "\t" $0 }
       { previous = $0 }' "$page" | sed 's/\\-/-/g'
}

# Compares what the manual page lists with what the program has and names every difference.
compare() {
  local what=$1 documented=$2 actual=$3
  local missing extra
  missing=$(comm -13 <(sort -u <<<"$documented") <(sort -u <<<"$actual"))
  extra=$(comm -23 <(sort -u <<<"$documented") <(sort -u <<<"$actual"))
  if [ -n "$missing" ]; then
    echo "FAIL: $what missing from the manual page: $(paste -sd " " <<<"$missing")"
    failed=1
  fi
  if [ -n "$extra" ]; then
    echo "FAIL: $what in the manual page that the program does not have: $(paste -sd " " <<<"$extra")"
    failed=1
  fi
  [ -z "$missing$extra" ] && echo "PASS: $what: $(sort -u <<<"$actual" | wc -l) alike"
  return 0
}

help_options=$("$binary" --help | grep -oE -- '--[a-z][a-z-]*' || true)
[ -n "$help_options" ] || { echo "FAIL: parcelup --help printed no options"; exit 1; }
page_options=$(headings | awk -F '\t' '$1 == "OPTIONS" { print $2 }' | grep -oE -- '--[a-z][a-z-]*')
compare "options" "$page_options" "$help_options"

# The keys the program reads, and the keys the manual page explains.
program_keys=$(grep -oE 'QStringLiteral\("FTP[A-Za-z]+"\)' "$source/app/mainprogram.cpp" |
                 sed -E 's/.*"(FTP[A-Za-z]+)".*/\1/')
page_keys=$(headings | awk -F '\t' '$1 == "SETTINGS" { print $2 }' | grep -oE 'FTP[A-Za-z]+')
compare "settings keys" "$page_keys" "$program_keys"

# The exit statuses of the ExitStatus enumeration (clang-format may break a line after "=").
program_statuses=$(tr '\n' ' ' <"$source/app/commandline.h" |
                     grep -oE 'Exit[A-Za-z]+ *= *[0-9]+' | grep -oE '[0-9]+$')
page_statuses=$(headings | awk -F '\t' '$1 == "EXIT STATUS" { print $2 }' | grep -oE '[0-9]+')
compare "exit statuses" "$page_statuses" "$program_statuses"

if command -v groff >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "FAIL: groff warns about the manual page:"
    echo "$warnings"
    failed=1
  else
    echo "PASS: groff renders the manual page without a warning"
  fi
else
  echo "groff is not installed: the manual page's markup was not checked"
fi
exit "$failed"
