# Starting and stopping a tdslite of one's own: sourced (bash) by every
# script that runs something against one (examples/run.sh and demo.sh,
# tests/rexx/with_tdslite.sh, and the benchmarks through bench/bench_start.sh).
# Safe under set -eu.
#
#   tdslite_start TDSLITE [OPTION...]
#     Starts TDSLITE --port 0 OPTION... (a free loopback port) and waits, at
#     most 10 seconds, for its ready line "tdslite listening on HOST:PORT".
#     Sets TDSLITE_ADDRESS (HOST:PORT) and TDSLITE_PID. When the server does
#     not come up, prints its output to stderr, stops it and returns 1.
#     Its output goes to TDSLITE_LOG (a temporary file unless set before).
#   tdslite_output
#     Prints what the server has written so far.
#   tdslite_stop
#     Stops the server (resuming it first, should it have been stopped with
#     SIGSTOP; SIGKILL after 5 seconds) and removes a temporary log.

TDSLITE_ADDRESS=
TDSLITE_PID=
_tdslite_own_log=

tdslite_start() {
  local tdslite=$1
  shift
  if [ -z "${TDSLITE_LOG:-}" ]; then
    TDSLITE_LOG=$(mktemp "${TMPDIR:-/tmp}/tdslite.XXXXXX")
    _tdslite_own_log=1
  fi
  "$tdslite" --port 0 "$@" >"$TDSLITE_LOG" 2>&1 &
  TDSLITE_PID=$!
  TDSLITE_ADDRESS=
  local _
  for _ in $(seq 200); do
    TDSLITE_ADDRESS=$(sed -n 's/^tdslite listening on \(.*\)$/\1/p' "$TDSLITE_LOG" | head -n 1)
    [ -n "$TDSLITE_ADDRESS" ] && return 0
    kill -0 "$TDSLITE_PID" 2>/dev/null || break
    sleep 0.05
  done
  echo "tdslite did not start:" >&2
  cat "$TDSLITE_LOG" >&2
  tdslite_stop
  return 1
}

tdslite_output() {
  if [ -n "${TDSLITE_LOG:-}" ]; then cat "$TDSLITE_LOG"; fi
}

tdslite_stop() {
  local pid=$TDSLITE_PID _
  TDSLITE_PID=
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -CONT "$pid" 2>/dev/null || true
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  if [ -n "$_tdslite_own_log" ]; then
    rm -f "$TDSLITE_LOG"
    TDSLITE_LOG=
    _tdslite_own_log=
  fi
  return 0
}
