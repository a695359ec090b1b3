#!/usr/bin/env bash
# Runs the soak script against a tdslite of its own.
# Usage: soak.sh BUILD_DIR [CALLS] [ALLOWANCE_KIB]
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
export LD_LIBRARY_PATH="$build${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
exec "$here/../../tests/rexx/with_tdslite.sh" "$build/tdslite" regina "$here/soak.rexx" \
  "${2:-1000000}" "${3:-1024}"
