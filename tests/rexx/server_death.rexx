/* The server dies mid-session: every later call answers without crashing,
   the KT.! variables say the connection is dead, and KTConnectReset still
   works. */
serverPid = value('KTDB_SERVER_PID', , 'ENVIRONMENT')
call LoadPackage
server = ConnectServer()
call Check 'create', KTSelectData('create table t (a int)', 'r.'), '1'
call Check 'insert', KTSelectData('insert into t values (1) insert into t values (2)', 'r.'), '1'
/* Rows left unread when the server goes. */
call Check 'select', KTSelectData('select a from t', 'r.'), '1'

address system 'kill -KILL' serverPid
call SysSleepish

call Check 'KTSelectOne', KTSelectOne('select 1'), ''
call Check 'KTSelectOne: an error', kt.!dberr \= 0, '1'
r.0 = 'x'
call Check 'KTSelectData', KTSelectData('select 1', 'r.', 5), '1'
call Check 'KTSelectData: no rows', r.0, '0'
call Check 'KTSelectData: the connection is dead', kt.!dberr, '20047'
call Check 'KTSelectData: its text', kt.!dberrstr \== '', '1'
c.0 = 2; c.1 = 'select 1'; c.2 = 'select 2'
call Check 'KTBatch', KTBatch('c.', 'res.'), '1'
call Check 'KTBatch: no result sets', res.0, '0'
call Check 'KTBatch: the connection is dead', kt.!dberr, '20047'
call Check 'KTSelectOne again', KTSelectOne('select 1'), ''
call Check 'KTSelectOne again: the connection is dead', kt.!dberr, '20047'
call Check 'reset', KTConnectReset(), '1'
call Check 'connect to no server', KTConnect('ktdb', 'secret', server, 1), '0'
call Check 'drop', KTDropFuncs(), '1'

exit CheckSummary()

/* Gives the killed server's socket a moment to close. */
SysSleepish: procedure
  address system 'sleep 0.2'
  return
