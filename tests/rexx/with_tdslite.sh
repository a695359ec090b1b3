#!/usr/bin/env bash
# Runs one REXX test script against a tdslite of its own.
#
# Usage: with_tdslite.sh TDSLITE REXX SCRIPT [ARGUMENT...]
#
# Starts TDSLITE on a free loopback port with the test login ktdb/secret,
# exports its address as KTDB_SERVER (host:port) and its process id as
# KTDB_SERVER_PID, runs REXX SCRIPT ARGUMENT..., stops the server and exits
# with the script's status. The server's own output is shown only when the
# script fails. KTDB_REXX_PRELOAD, when set, becomes the interpreter's LD_PRELOAD
# (the sanitizer runtime for an instrumented package). KTDB_FILE_ROOT, when
# set, is created and handed to the server as the folder its web tasks
# write under (--file-root).
set -u
if [ $# -lt 3 ]; then
  echo "usage: $0 TDSLITE REXX SCRIPT [ARGUMENT...]" >&2
  exit 2
fi
tdslite=$1
rexx=$2
shift 2

here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../examples/tdslite_server.sh"
watchdog_pid=
stop_server() {
  if [ -n "$watchdog_pid" ]; then
    kill "$watchdog_pid" 2>/dev/null
    wait "$watchdog_pid" 2>/dev/null
  fi
  tdslite_stop
}
trap stop_server EXIT

root_option=()
if [ -n "${KTDB_FILE_ROOT:-}" ]; then
  mkdir -p "$KTDB_FILE_ROOT"
  root_option=(--file-root "$KTDB_FILE_ROOT")
fi
tdslite_start "$tdslite" --user ktdb:secret "${root_option[@]}" || exit 1
server_pid=$TDSLITE_PID
address=$TDSLITE_ADDRESS
# A script may kill the server itself: the shell is not to report that.
disown "$server_pid"
# Should this helper itself be killed (a test time-out), the server still
# ends: a watchdog kills it after ten minutes unless stopped first.
(
  trap 'kill "$sleeper" 2>/dev/null; exit 0' TERM
  sleep 600 &
  sleeper=$!
  wait "$sleeper"
  kill -KILL "$server_pid" 2>/dev/null
) &
watchdog_pid=$!

export KTDB_SERVER="$address"
export KTDB_SERVER_PID="$server_pid"
if [ -n "${KTDB_REXX_PRELOAD:-}" ]; then
  LD_PRELOAD="$KTDB_REXX_PRELOAD" "$rexx" "$@"
else
  "$rexx" "$@"
fi
status=$?
if [ $status -ne 0 ]; then
  echo "--- tdslite output" >&2
  tdslite_output >&2
fi
exit $status
