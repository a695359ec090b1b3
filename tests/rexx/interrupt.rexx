/* Calls a user can stop: the query time-out of a freetds.conf section, and
   Ctrl-C (SIGINT) during a call. The server is made to stop answering with
   SIGSTOP. Run against a tdslite of the test's own, at the protocol version
   TDSVER names. Timings are checked with generous margins only; the test's
   own time limit guards against a hang. */
server = value('KTDB_SERVER', , 'ENVIRONMENT')
serverPid = value('KTDB_SERVER_PID', , 'ENVIRONMENT')
parse arg work .
if work = '' then work = '.'
parse var server host ':' port
/* Regina runs a command from a child of its own: the parent of the
   command's parent is this interpreter. */
/* ps runs without the sanitizer runtime an instrumented run preloads: it
   hangs under it. */
address system 'LD_PRELOAD= ps -o ppid= -p $PPID' with output stem self.
reginaPid = strip(self.1)

/* A freetds.conf section with a time-out of 2 seconds. */
conf = work'/interrupt-freetds.conf'
call lineout conf, , 1
call lineout conf, '[slow]'
call lineout conf, '  host =' host
call lineout conf, '  port =' port
call lineout conf, '  timeout = 2'
call lineout conf
call value 'FREETDSCONF', conf, 'ENVIRONMENT'

call LoadPackage
call Check 'connect through the section', KTConnect('ktdb', 'secret', 'slow'), '1'
call Check 'served', KTSelectOne('select 40 + 2'), '42'

/* The server stops for 3 seconds: the statement times out after 2, is
   cancelled, and the call answers as on a failure once the server answers
   the cancel. The connection then serves the next call. */
address system 'kill -STOP' serverPid
address system '(sleep 3; kill -CONT' serverPid') >/dev/null 2>&1 &'
call time 'R'
drop r.
call Check 'timed out', KTSelectData('select 1', 'r.'), '1'
took = time('E')
call Check 'timed out: no rows', r.0, '0'
call Check 'timed out: KT.!DBERR', kt.!dberr, '20003'
call Check 'timed out: after the time-out', took >= 1.5, '1'
call Check 'timed out: not much later', took < 30, '1'
call Check 'timed out: the next call', KTSelectOne('select 43'), '43'

/* The server stops for good: after the time-out and an unanswered cancel
   the call gives the connection up rather than waiting for ever. */
address system 'kill -STOP' serverPid
call time 'R'
call Check 'stalled', KTSelectOne('select 1'), ''
took = time('E')
address system 'kill -CONT' serverPid
call Check 'stalled: KT.!DBERR', kt.!dberr, '20003'
call Check 'stalled: returned', took < 60, '1'
call Check 'stalled: reset', KTConnectReset(), '1'
call Check 'stalled: connect again', KTConnect('ktdb', 'secret', 'slow'), '1'
call Check 'stalled: served', KTSelectOne('select 44'), '44'
call KTConnectReset

/* Ctrl-C during a call, without a time-out: the statement is cancelled,
   the call returns, and the script gets HALT as Regina raises it. */
call value 'FREETDSCONF', '/nonexistent/freetds.conf', 'ENVIRONMENT'
call Check 'connect without time-out', KTConnect('ktdb', 'secret', server), '1'
halted = 0
signal on halt name Halted
address system 'kill -STOP' serverPid
address system '(sleep 1; kill -INT' reginaPid') >/dev/null 2>&1 &'
call time 'R'
answer = KTSelectOne('select 1')
/* Regina notices the signal at its next check: a command is one. */
address system 'true'
do 100 while halted = 0; address system 'true'; end
AfterHalt:
signal off halt
took = time('E')
address system 'kill -CONT' serverPid
call Check 'interrupted: HALT raised', halted, '1'
call Check 'interrupted: returned', took < 30, '1'
call Check 'interrupted: reset', KTConnectReset(), '1'
call Check 'interrupted: connect again', KTConnect('ktdb', 'secret', server), '1'
call Check 'interrupted: served', KTSelectOne('select 45'), '45'
/* Ctrl-C between calls is Regina's own business: the package's handler is
   gone, the script's HALT handler still runs. */
halted = 0
signal on halt name Halted2
address system 'kill -INT' reginaPid
do 100 while halted = 0; address system 'true'; end
AfterHalt2:
signal off halt
call Check 'between calls: HALT raised', halted, '1'
call Check 'between calls: served', KTSelectOne('select 46'), '46'

call Check 'reset', KTConnectReset(), '1'
call KTDropFuncs
call lineout conf
address system 'rm -f "'conf'"'
exit CheckSummary()

Halted:
  halted = 1
  signal AfterHalt
Halted2:
  halted = 1
  signal AfterHalt2
