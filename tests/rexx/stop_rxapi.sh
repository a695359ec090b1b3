#!/usr/bin/env bash
# Stops the ooRexx API daemon the tests started: the rxapi (RXAPI, the
# tests' own binary) that holds its lock file in TMPDIR_OF_TESTS, the folder
# the tests gave ooRexx as TMPDIR. Any other rxapi is left alone.
#
# Usage: stop_rxapi.sh TMPDIR_OF_TESTS RXAPI
set -u
dir=$(cd "$1" 2>/dev/null && pwd -P) || exit 0
rxapi=$(readlink -f "$2")
for proc in /proc/[0-9]*; do
  [ "$(readlink -f "$proc/exe" 2>/dev/null)" = "$rxapi" ] || continue
  for fd in "$proc"/fd/*; do
    case $(readlink "$fd" 2>/dev/null) in
      "$dir"/.ooRexx-*)
        pid=${proc#/proc/}
        kill "$pid" 2>/dev/null
        for _ in $(seq 50); do
          kill -0 "$pid" 2>/dev/null || break
          sleep 0.1
        done
        if kill -0 "$pid" 2>/dev/null; then
          echo "FAIL: rxapi $pid did not stop"
          exit 1
        fi
        echo "stopped rxapi $pid"
        break ;;
    esac
  done
done
exit 0
