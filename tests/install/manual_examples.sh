#!/usr/bin/env bash
# Runs every "Example:" block of the manual against the tdslite that
# with_tdslite.sh started (KTDB_SERVER, login ktdb/secret), after loading
# the examples' sample data, each in an interpreter process of its own (KTDB_REXX, regina by default) that has
# loaded the package and logged in (unless the example does so itself).
# A REXX error in any of them, or a function call that the interpreter
# passed to the shell as a command (a function that is not registered),
# fails the test.
#
# Usage: with_tdslite.sh TDSLITE manual_examples.sh MANUAL EXAMPLES_DIR WORK_DIR
set -u
manual=$1
examples=$2
work=$3/manual
. "$(dirname "$0")/examples_common.sh"
rm -rf "$work"
mkdir -p "$work"
load_sample_data "$examples" "$work/sample.log"
printf 'a small file standing in for a picture\n' >"$work/logo.png"

# Split the manual's example blocks into files ex01.rexx, ex02.rexx, ...
# The SYNOPSIS block comes first (ex00.rexx): it must run as printed.
awk -v dir="$work" '
  /^# SYNOPSIS$/ { synopsis = 1; next }
  synopsis && /^```rexx$/ { file = sprintf("%s/ex00.rexx", dir); inside = 1; synopsis = 0; next }
  /^Example:$/ { want = 1; next }
  want && /^```rexx$/ { n++; file = sprintf("%s/ex%02d.rexx", dir, n); inside = 1; want = 0; next }
  inside && /^```$/ { inside = 0; close(file); next }
  inside { print > file }
' "$manual"
count=$(ls "$work"/ex*.rexx 2>/dev/null | wc -l)
[ "$count" -ge 15 ] || { echo "FAIL: only $count examples found in the manual"; exit 1; }
[ -f "$work/ex00.rexx" ] || { echo "FAIL: no SYNOPSIS example found in the manual"; exit 1; }

failures=0
cd "$work"
for example in ex*.rexx; do
  body=$(sed -e "s/'127\.0\.0\.1:1433'/'$KTDB_SERVER'/g" -e "s/'demo', 'demo'/'ktdb', 'secret'/g" "$example")
  {
    echo "call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'"
    # An example that loads the package or logs in does so itself.
    if ! grep -q "RxFuncAdd 'KTLoadFuncs'" "$example"; then
      echo "call KTLoadFuncs"
      if ! grep -q "KTConnect[ (]" "$example"; then echo "call KTConnect 'ktdb', 'secret', '$KTDB_SERVER'"; fi
    fi
    printf '%s\n' "$body"
    echo "exit 0"
  } >"run-$example"
  if ! output=$(rexx "./run-$example" 2>&1) || printf '%s\n' "$output" | grep -q "Error [0-9]* running\|not found"; then
    echo "FAIL: the example $example of the manual:"
    cat "$example"
    printf '%s\n' "$output"
    failures=$((failures + 1))
  elif [ "$example" = ex00.rexx ] && [ "$output" != 42 ]; then
    echo "FAIL: the SYNOPSIS example printed \"$output\", not 42"
    failures=$((failures + 1))
  else
    echo "$example: $(printf '%s' "$output" | head -c 200 | tr '\n' ' ')"
  fi
done
[ $failures -eq 0 ] || exit 1
echo "all $count examples of the manual ran"
