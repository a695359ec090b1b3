#!/usr/bin/env bash
# Runs a REXX script and interrupts it as Ctrl-C would: SIGINT to the
# interpreter once the script has created the file "waiting" in the current
# folder, then SIGCONT to KTDB_SERVER_PID (which the script may have
# stopped) a second later. Exits with the interpreter's status.
#
# Usage: with_tdslite.sh TDSLITE interrupt.sh REXX SCRIPT
# An LD_PRELOAD from with_tdslite.sh goes on to the interpreter alone.
set -um
preload=${LD_PRELOAD:-}
unset LD_PRELOAD
rm -f waiting
if [ -n "$preload" ]; then LD_PRELOAD="$preload" "$1" "$2" & else "$1" "$2" & fi
pid=$!
for _ in $(seq 200); do
  [ -e waiting ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
sleep 1
kill -INT "$pid" 2>/dev/null
sleep 1
kill -CONT "$KTDB_SERVER_PID" 2>/dev/null
wait "$pid"
