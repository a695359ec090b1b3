/* KTConnect and KTConnectReset against a tdslite of the test's own
   (with_tdslite.sh: KTDB_SERVER, login ktdb/secret). */
server = value('KTDB_SERVER', , 'ENVIRONMENT')
serverPid = value('KTDB_SERVER_PID', , 'ENVIRONMENT')
call Check 'load', LoadPackage(), '1'

/* Incorrect calls: a missing user, and texts beyond 128 bytes (or with a
   NUL byte, which DB-Library would cut at); nothing is opened. */
long = copies('x', 129)
incorrect = "KTConnect();KTConnect('');KTConnect(long);KTConnect('ktdb', long, server)",
            ";KTConnect('ktdb', 'secret', long);KTConnect('ktdb', 'sec'||'00'x||'ret', server)",
            ";KTConnect('kt'||'00'x||'db', 'secret', server)"
do while incorrect \= ''
  parse var incorrect call ';' incorrect
  call Check call, Try(call, 'server', server, 'long', long), 'ERROR 40'
end
call Check 'still not connected', KTSelectOne('select 1'), ''

/* A wrong password: "0", and the reason (the server's 18456 and
   DB-Library's login failure). 128 bytes are no incorrect call. */
call Check 'wrong password', KTConnect('ktdb', 'wrong', server), '0'
call Check 'wrong password: KT.!MSGNO', kt.!msgno, '18456'
call Check 'wrong password: KT.!DBERR', kt.!dberr, '20002'
call Check 'wrong password: KT.!DBERRSTR set', kt.!dberrstr \== '', '1'
call Check '128-byte password', KTConnect('ktdb', copies('p', 128), server), '0'
call Check '128-byte password: KT.!MSGNO', kt.!msgno, '18456'
call Check 'refused while not connected', KTSelectData('select 1', 'r.'), '0'

/* A good login: "1", the server's informational messages published, no
   DB-Library error. */
call Check 'connect', KTConnect('ktdb', 'secret', server), '1'
call Check 'connect: KT.!DBERR', kt.!dberr, '0'
call Check 'connect: message 5701 or 5703', wordpos(kt.!msgno, '5701 5703') > 0, '1'
call Check 'connected: select', KTSelectOne('select 1'), '1'
/* Connect while connected: "0", and the connection keeps working. */
call Check 'connect while connected', KTConnect('ktdb', 'secret', server), '0'
call Check 'still connected: select', KTSelectOne('select 2'), '2'
call Check 'drop while connected', KTDropFuncs(), '0'

/* Reset, then every statement function refuses; reset again refuses. */
kt.!msgno = 'x'
call Check 'reset', KTConnectReset(), '1'
call Check 'reset publishes', kt.!msgno, '0'
call Check 'after reset: KTSelectOne', KTSelectOne('select 1'), ''
call Check 'after reset: KTSelectData', KTSelectData('select 1', 'r.'), '0'
call Check 'after reset: KTBatch', KTBatch('c.', 'r.'), '0'
call Check 'second reset', KTConnectReset(), '0'

/* Connect again (the library is initialised again after its release), with
   SQL Server's host,port notation and a login time-out. */
parse var server host ':' port
call Check 'connect host,port', KTConnect('ktdb', 'secret', host','port, '30'), '1'
call Check 'reconnected: select', KTSelectOne('select 3'), '3'
call Check 'reset 2', KTConnectReset(), '1'
do round = 1 to 3
  call Check 'round' round 'connect', KTConnect('ktdb', 'secret', server), '1'
  call Check 'round' round 'reset', KTConnectReset(), '1'
end

/* A server that accepts the connection but never answers: the login ends
   within its time-out. Unusable time-outs (0, -5, abc, 2.5, ten digits)
   mean the default of 4 seconds. */
address system 'kill -STOP' serverPid
call time 'R'
call Check 'silent server', KTConnect('ktdb', 'secret', server, '1'), '0'
elapsed = time('E')
call Check 'silent server: within 1 second of the time-out', elapsed >= 0.8 & elapsed < 2.5, '1'
call Check 'silent server: KT.!DBERR set', kt.!dberr \= 0, '1'
call time 'R'
call Check 'silent server, time-out abc', KTConnect('ktdb', 'secret', server, 'abc'), '0'
elapsed = time('E')
call Check 'time-out abc: the default 4 seconds', elapsed >= 3.5 & elapsed < 6, '1'
address system 'kill -CONT' serverPid

/* Nothing listens on a port that was just closed: "0" at once. */
call Check 'no server', KTConnect('ktdb', 'secret', '127.0.0.1:1', '2'), '0'
call Check 'no server: KT.!DBERR set', kt.!dberr \= 0, '1'

call Check 'connect after the failures', KTConnect('ktdb', 'secret', server), '1'
call Check 'reset 3', KTConnectReset(), '1'
call Check 'drop', KTDropFuncs(), '1'

exit CheckSummary()
