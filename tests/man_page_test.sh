#!/usr/bin/env bash
# Checks the manual page: it formats without a warning from groff (and from mandoc where installed), fits a
# terminal 80 columns wide, shows every message exactly as the real program prints it and as README.md lists it,
# and its example records convert to the target lines it shows.
# Usage: man_page_test.sh PAGE TSCONV README
set -euo pipefail
page=$(realpath "$1") tsconv=$(realpath "$2") readme=$(realpath "$3")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# 1. No warnings, of any kind.
lint=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
[[ -z $lint ]] || fail "groff -ww warns:"$'\n'"$lint"
if command -v mandoc >/dev/null; then
  lint=$(mandoc -Tlint "$page" 2>&1) || true
  [[ -z $lint ]] || fail "mandoc -Tlint reports:"$'\n'"$lint"
else
  echo "mandoc not installed: mandoc -Tlint not run"
fi

# 2. At the usual terminal width no line runs over.
wide=$(groff -man -Tascii -P-c -P-b -P-u "$page" 2>/dev/null | awk 'length > 80')
[[ -z $wide ]] || fail "lines wider than 80 columns:"$'\n'"$wide"

# The page as plain text, one long line per line of output, spaces squeezed, so that a message is found whatever
# the formatting around it.
groff -man -Tascii -P-c -P-b -P-u -rLL=300n -rHY=0 "$page" 2>/dev/null |
  sed -e 's/^ *//' -e 's/  */ /g' -e 's/ $//' >"$scratch/page.txt"
shows() { grep -Fxq -- "$1" "$scratch/page.txt"; }

# 3. Every message as the program prints it. SOURCE and TARGET are the names the page uses for the arguments,
# so the files here carry those names; "program" is the page's name for the command as called.
work=$scratch/work
messages=()
# run EXPECTED_STATUS STREAM SETUP ARGUMENTS...: runs the shell commands SETUP in a fresh work folder, then the
# arguments there, and checks that the line printed on STREAM (out or err) is a message the page shows.
run() {
  local expected_status=$1 stream=$2 setup=$3 status=0
  shift 3
  rm -rf "$work" && mkdir "$work" && (cd "$work" && eval "$setup")
  (cd "$work" && "$@" >"$scratch/out" 2>"$scratch/err") || status=$?
  ((status == expected_status)) || fail "$* exited with $status, not $expected_status"
  messages+=("$(tr -d '\r' <"$scratch/$stream")")
  [[ -n ${messages[-1]} ]] || fail "$* printed no message"
  shows "${messages[-1]}" || fail "the page does not show the message: ${messages[-1]}"
}
run 255 out : bash -c 'exec -a program "$0"' "$tsconv"
run 255 out : "$tsconv" SOURCE dummy TARGET
run 255 out 'printf "45000;1;2;3\n" >SOURCE && ln SOURCE TARGET' "$tsconv" SOURCE dummy TARGET
run 255 out 'printf "45000;1;2;3\n" >SOURCE && ln -s /dev/full TARGET' "$tsconv" SOURCE dummy TARGET
run 255 out 'ln -s /proc/self/mem SOURCE' "$tsconv" SOURCE dummy TARGET
# Line 17 holds a time stamp that cannot be converted.
run 0 err 'printf "Zeitstempel;Istwert;Sollwert;Stellgrad\n%.0s" {1..16} >SOURCE && printf "1e300;1;2;3\n" >>SOURCE' \
  "$tsconv" SOURCE dummy TARGET

# 4. Every message as README.md lists it: the table of messages and the warning; "<program>" there is "program".
mapfile -t listed < <(
  sed -n -e 's/^|.*| `\([^`]*\)` |$/\1/p' -e '/^Zeile [0-9]*: /p' "$readme" |
    sed 's/<program>/program/')
((${#listed[@]} >= 6)) || fail "found ${#listed[@]} messages in README.md, not 6"
for message in "${listed[@]}"; do
  shows "$message" || fail "the page does not show README.md's message: $message"
done

# 5. The example records, with their line of column names, convert in a zone one hour ahead of UTC (TZ=CET-1) to
# the target lines the page shows.
grep -E '^Zeitstempel;|^[0-9]+,[0-9]+;[0-9;,]+$' "$scratch/page.txt" >"$scratch/example.csv" || true
if (($(wc -l <"$scratch/example.csv") < 2)); then
  fail "the page shows no example records"
else
  TZ=CET-1 "$tsconv" "$scratch/example.csv" dummy "$scratch/example.converted.csv" ||
    fail "the example records do not convert"
  while IFS= read -r line; do
    line=${line%$'\r'}
    shows "$line" || fail "the page does not show the converted line: $line"
  done <"$scratch/example.converted.csv"
fi

((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "manual page: no warnings, ${#messages[@]} messages and the example agree with the program"
