#!/usr/bin/env bash
# Runs the demo against the library in BUILD_DIR and prints the page it wrote.
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
out="$here/out"
mkdir -p "$out"
page="$out/demo.htm"

cd "$here"
LD_LIBRARY_PATH="$build${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" regina ./demo.rexx "$page"
echo "--- $page"
cat "$page"
