/* Ctrl-C (SIGINT) while rows keep arriving: DB-Library never waits, so the
   package's row loop notices the interrupt, cancels the statement and
   returns with the rows stored so far; the interpreter raises HALT after
   it and the connection still works. The script creates the file
   "waiting" just before the call; interrupt.sh then sends SIGINT. */
signal on halt
call Check 'load', LoadPackage(), '1'
call ConnectServer
q.0 = 1
q.1 = 'create table w (id int)'
do i = 1 to 100
  q.1 = q.1 'insert w values ('i')'
end
call Check 'table', KTBatch('q.', 'r.'), '1'

call lineout 'waiting', 'x'
call lineout 'waiting'
/* 100,000,000 rows: far more than the test's time allows. */
answer = KTSelectData('select a.id, b.id, c.id, d.id from w a, w b, w c, w d', 'd.', 999999999)
do i = 1 to 100000
  nop
end
call Check 'HALT raised', 'no', 'yes'
exit 1

halt:
call Check 'the call answered', answer, '1'
call Check 'the statement was cancelled', kt.!dberr, '20003'
call Check 'some rows were stored', d.0 > 0 & d.0 < 100000000, '1'
call Check 'the last row stored is whole', symbol('d.'d.0'.4'), 'VAR'
call Check 'the connection still works', KTSelectOne('select 8'), '8'
call Check 'reset', KTConnectReset(), '1'
call Check 'drop', KTDropFuncs(), '1'
exit CheckSummary()
