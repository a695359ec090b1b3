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

log=$(mktemp "${TMPDIR:-/tmp}/ktdb-demo.XXXXXX")
"$tdslite" --port 0 --user demo:demo --file-root "$out" >"$log" 2>&1 &
server_pid=$!
stop_server() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  rm -f "$log"
}
trap stop_server EXIT

address=
for _ in $(seq 100); do
  address=$(sed -n 's/^tdslite listening on \(.*\)$/\1/p' "$log" | head -n 1)
  [ -n "$address" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$address" ]; then
  echo "demo: tdslite did not start:" >&2
  cat "$log" >&2
  exit 1
fi
echo "tdslite listening on $address"

cd "$here"
LD_LIBRARY_PATH="$build${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" regina ./demo.rexx "$page" "$address" "$webpage"
echo "--- $page"
cat "$page"
if [ -f "$webpage" ]; then
  echo "--- $webpage (written by the server's web task)"
  cat "$webpage"
fi
