#!/usr/bin/env bash
# Runs one example against a tdslite of its own: starts the server on a free
# loopback port, loads sample_data.sql with run_sql.rexx, runs the example,
# stops the server. What the example writes goes to OUT (default: the folder
# out/ beside this script, or ./rexxktdb-examples when that is not writable).
#
# Usage: examples/run.sh NAME [BUILD_DIR]
#   NAME: report_html, export_csv, load_files or run_sql
#   BUILD_DIR: a build folder holding librexxktdb.so and tdslite; without it
#   the installed package and the tdslite on PATH are used (or ../build when
#   this script sits in a source tree that has been built).
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 report_html|export_csv|load_files|run_sql [BUILD_DIR]" >&2
  exit 2
fi
name=${1%.rexx}
here="$(cd "$(dirname "$0")" && pwd)"
if [ ! -f "$here/$name.rexx" ]; then
  echo "run.sh: no example $name.rexx in $here" >&2
  exit 2
fi
build=${2:-}
if [ -z "$build" ] && [ -f "$here/../build/librexxktdb.so" ]; then
  build="$here/../build"
fi
if [ -n "$build" ]; then
  build="$(cd "$build" && pwd)"
  export LD_LIBRARY_PATH="$build${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  tdslite="$build/tdslite"
else
  tdslite="$(command -v tdslite || true)"
fi
if [ ! -x "$tdslite" ]; then
  echo "run.sh: tdslite not found (build first: make build, or install the package)" >&2
  exit 1
fi
out=${OUT:-$here/out}
if ! mkdir -p "$out" 2>/dev/null || [ ! -w "$out" ]; then
  out="$PWD/rexxktdb-examples"
  mkdir -p "$out"
fi
out="$(cd "$out" && pwd)"

. "$here/tdslite_server.sh"
trap tdslite_stop EXIT
tdslite_start "$tdslite" --user demo:demo --file-root "$out" || exit 1
address=$TDSLITE_ADDRESS

cd "$here"
if ! regina ./run_sql.rexx "$address" demo demo sample_data.sql >"$out/sample_data.log"; then
  echo "run.sh: loading the sample data failed:" >&2
  cat "$out/sample_data.log" >&2
  exit 1
fi
case $name in
  report_html) regina ./report_html.rexx "$address" demo demo "$out/report.htm"
               echo "--- $out/report.htm"; cat "$out/report.htm" ;;
  export_csv)  regina ./export_csv.rexx "$address" demo demo fruit "$out/fruit.csv"
               echo "--- $out/fruit.csv"; cat "$out/fruit.csv" ;;
  load_files)  mkdir -p "$out/copies"
               regina ./load_files.rexx "$address" demo demo "$out/copies" \
                 "$here"/*.rexx "$here/sample_data.sql" ;;
  run_sql)     regina ./run_sql.rexx "$address" demo demo report.sql ;;
  *)           regina "./$name.rexx" "$address" demo demo ;;
esac
