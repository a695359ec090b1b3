#!/usr/bin/env bash
# Runs one example script against the tdslite that with_tdslite.sh started
# (KTDB_SERVER, login ktdb/secret): loads the examples' sample data, runs the
# example, and compares what it wrote with the expected file.
#
# Usage: with_tdslite.sh TDSLITE run_example.sh NAME EXAMPLES_DIR EXPECTED_DIR WORK_DIR
# KTDB_REXX names the interpreter (regina by default; examples_common.sh).
set -u
name=$1
examples=$2
expected=$3
work=$4/$name
. "$(dirname "$0")/examples_common.sh"

rm -rf "$work"
mkdir -p "$work"
load_sample_data "$examples" "$work/sample_data.log"
cd "$examples" || exit 1

case $name in
  report_html)
    rexx ./report_html.rexx "$KTDB_SERVER" ktdb secret "$work/report.htm" || exit 1
    got=$work/report.htm ;;
  export_csv)
    rexx ./export_csv.rexx "$KTDB_SERVER" ktdb secret fruit "$work/fruit.csv" || exit 1
    got=$work/fruit.csv ;;
  run_sql)
    rexx ./run_sql.rexx "$KTDB_SERVER" ktdb secret report.sql >"$work/run_sql.txt" || exit 1
    # A failed statement is named with its error, and the batch goes on.
    printf "insert into fruit (id, name) values (1, 'dup')\nprint 'after'\ngo\n" >"$work/bad.sql"
    if rexx ./run_sql.rexx "$KTDB_SERVER" ktdb secret "$work/bad.sql" >"$work/bad.txt"; then
      echo "FAIL: run_sql.rexx did not fail for a duplicate key"
      exit 1
    fi
    grep -q "set 1: failed: error 2627 (severity 14): Violation of PRIMARY KEY" "$work/bad.txt" &&
      grep -q "set 2: -1 rows, 0 columns" "$work/bad.txt" ||
      { echo "FAIL: run_sql.rexx did not name the failed statement:"; cat "$work/bad.txt"; exit 1; }
    got=$work/run_sql.txt ;;
  load_files)
    # Every byte value, an empty file, and a file far beyond one 512-byte
    # piece of the upload and the server's default text size.
    in=$work/in
    mkdir -p "$in" "$work/copies"
    for i in $(seq 0 255); do printf "\\$(printf %03o "$i")"; done >"$in/bytes.bin"
    : >"$in/empty.bin"
    for i in $(seq 1 2000); do printf 'line %05d of a long file\n' "$i"; done >"$in/long.txt"
    rexx ./load_files.rexx "$KTDB_SERVER" ktdb secret "$work/copies" \
      "$in/bytes.bin" "$in/empty.bin" "$in/long.txt" >"$work/load_files.txt" || {
      cat "$work/load_files.txt"
      exit 1
    }
    for f in bytes.bin empty.bin long.txt; do
      cmp "$in/$f" "$work/copies/$f" || { echo "FAIL: the copy of $f differs"; exit 1; }
    done
    got=$work/load_files.txt ;;
  *)
    echo "FAIL: no example $name"
    exit 1 ;;
esac

if ! diff -u "$expected/$(basename "$got")" "$got"; then
  echo "FAIL: $name wrote something else than expected"
  exit 1
fi
echo "$name: ok"
