#!/usr/bin/env bash
# Runs a REXX script and interrupts it as Ctrl-C would: SIGINT to the
# interpreter once the script has created the file "waiting" in the current
# folder and the interpreter waits on the server, then SIGCONT to KTDB_SERVER_PID (which the script may have
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
# Then until the interpreter waits in poll(2) (syscall 7, or ppoll 271):
# the call is under way. At most 10 seconds.
for _ in $(seq 200); do
  case $(cat "/proc/$pid/syscall" 2>/dev/null) in
    "7 "* | "271 "*) break ;;
  esac
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
sleep 0.2
kill -INT "$pid" 2>/dev/null
sleep 1
kill -CONT "$KTDB_SERVER_PID" 2>/dev/null
wait "$pid"
