#!/usr/bin/env bash
# Installs tsconv from a build folder into a scratch prefix, checks that the program, its manual page and the
# licence are there, then runs the installed program on a record and renders the installed page as a user would.
# Usage: install_test.sh CMAKE BUILD_DIR SOURCE_DIR
set -euo pipefail
cmake=$1 build=$(realpath "$2") source_dir=$(realpath "$3")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; echo "FAIL: cmake --install"; exit 1; }

# Exactly the program, its page and the licence, nothing else (no library, no tests).
installed=$(cd "$prefix" && find . -type f -o -type l | LC_ALL=C sort)
expected=$'./bin/tsconv\n./share/doc/tsconv/LICENSE\n./share/man/man1/tsconv.1'
[[ $installed == "$expected" ]] || fail "installed files are"$'\n'"$installed"
[[ -x $prefix/bin/tsconv ]] || fail "bin/tsconv is not executable"
page=$prefix/share/man/man1/tsconv.1
cmp -s "$source_dir/doc/tsconv.1" "$page" || fail "installed manual page differs from doc/tsconv.1"
cmp -s "$source_dir/LICENSE" "$prefix/share/doc/tsconv/LICENSE" || fail "installed licence differs from LICENSE"

# The installed page renders without a single groff warning.
if command -v man >/dev/null; then
  MANWIDTH=80 man --warnings=w -l "$page" >"$scratch/page.txt" 2>"$scratch/page.err" || fail "man -l failed"
  [[ -s $scratch/page.err ]] && fail "man -l warned:"$'\n'"$(cat "$scratch/page.err")"
  grep -q "^DIAGNOSTICS" "$scratch/page.txt" || fail "man -l rendered no DIAGNOSTICS section"
else
  echo "man not installed: rendering through man -l not checked"
fi

# The installed program, found on PATH and run from another folder, converts a record as the build's own does
# (the end-to-end test converts the example).
mkdir "$scratch/work"
printf 'Datum;Wert1;Wert2;Wert3\r\n45000,5;12,5;20;3,25\r\n' >"$scratch/work/source.csv"
(cd "$scratch/work" && TZ=UTC0 "$build/tsconv" source.csv dummy expected.csv)
status=0
(cd "$scratch/work" && PATH="$prefix/bin:$PATH" TZ=UTC0 tsconv source.csv dummy converted.csv \
  >"$scratch/out" 2>"$scratch/err") || status=$?
((status == 0)) || fail "installed tsconv exited with $status"
[[ -s $scratch/out || -s $scratch/err ]] &&
  fail "installed tsconv printed:"$'\n'"$(cat "$scratch/out" "$scratch/err")"
cmp "$scratch/work/expected.csv" "$scratch/work/converted.csv" ||
  fail "the installed tsconv converts a record differently from the build's"

((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "installed into a scratch prefix; the installed tsconv converts a record"
