#!/usr/bin/env bash
# Runs the demo against the library in BUILD_DIR: starts tdslite on a free
# loopback port with examples/out as the folder its web tasks write to, runs
# demo.rexx against it, stops the server, and prints the pages written.
# Usage: examples/demo.sh BUILD_DIR
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
if [ ! -f "$build/librexxktdb.so" ]; then
  echo "demo: $build/librexxktdb.so not found; build first (make build)" >&2
  exit 1
fi
tdslite="$build/tdslite"
[ -f "$tdslite" ] || tdslite="$build/tdslite/tdslite"
if [ ! -x "$tdslite" ]; then
  echo "demo: tdslite not found in $build; build first (make build)" >&2
  exit 1
fi
out="$here/out"
mkdir -p "$out"
page="$out/demo.htm"
webpage="$out/webtask.htm"
rm -f "$webpage"

. "$here/tdslite_server.sh"
trap tdslite_stop EXIT
tdslite_start "$tdslite" --user demo:demo --file-root "$out" || exit 1
address=$TDSLITE_ADDRESS
echo "tdslite listening on $address"

cd "$here"
LD_LIBRARY_PATH="$build${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" regina ./demo.rexx "$page" "$address" "$webpage"
echo "--- $page"
cat "$page"
if [ -f "$webpage" ]; then
  echo "--- $webpage (written by the server's web task)"
  cat "$webpage"
fi
