/* Ctrl-C (SIGINT) while a call waits on the server: the package cancels
   the statement, the call returns, and the interpreter raises HALT after
   it; the package is Idle again and the connection still works, and so
   does a new one after KTConnectReset. The statement is a wait of 30
   seconds on the server (KTSelectData, or KTBatch when KTDB_HALT_CALL says
   so), or a count that computes long before it sends a row (KTDB_HALT_CALL
   is "compute"); the script creates the file "waiting" and interrupt.sh sends SIGINT
   to the interpreter once the call waits. A call that does not return
   promptly runs into the test's time limit. */
signal on halt
how = value('KTDB_HALT_CALL', , 'ENVIRONMENT')
call Check 'load', LoadPackage(), '1'
server = ConnectServer()
call Check 'a short wait', KTSelectData("waitfor delay '00:00:00.100'", 'r.'), '1'
call Check 'a short wait: no rows', r.0, '0'

call lineout 'waiting', 'x'
call lineout 'waiting'
started = time('R')
if how = 'KTBatch' then do
  sql.0 = 2
  sql.1 = "waitfor delay '00:00:30'"
  sql.2 = 'select 7'
  answer = KTBatch('sql.', 'r.')
end
else if how = 'compute' then do
  /* 10^9 rows to count: no row comes back before the count is done. */
  digits = 'with d(x) as (select 0 union all select x + 1 from d where x < 9)'
  join = 'd a, d b, d c, d e, d f, d g, d h, d i, d j'
  answer = KTSelectData(digits 'select count(*) from' join, 'r.')
end
else
  answer = KTSelectData("waitfor delay '00:00:30' select 7", 'r.')
/* HALT comes after the call: at once (ooRexx) or some clauses later (Regina
   looks at its signal flag now and then). */
do i = 1 to 100000
  nop
end
call Check 'HALT raised', 'no', 'yes'
exit 1

halt:
took = time('E')
call Check 'the statement was cancelled', kt.!dberr, '20003'
/* The wait was cut short: the 30 seconds did not run out. */
call Check 'returned before the wait ended', took < 25, '1'
call Check 'the package is Idle', KTSelectOne('select 8'), '8'
call Check 'reset', KTConnectReset(), '1'
call Check 'connect again', KTConnect('ktdb', 'secret', server), '1'
call Check 'served', KTSelectOne('select 9'), '9'
call Check 'reset again', KTConnectReset(), '1'
call Check 'drop', KTDropFuncs(), '1'
exit CheckSummary()
