/* Ctrl-C (SIGINT) while a call waits on the server: the package cancels
   the statement, the call returns, and the interpreter raises HALT after
   it; the package is Idle again and the connection still works. The script stops
   its tdslite (SIGSTOP) and creates the file "waiting"; interrupt.sh then
   sends SIGINT to the interpreter and resumes the server a second later. */
signal on halt
server = value('KTDB_SERVER', , 'ENVIRONMENT')
serverPid = value('KTDB_SERVER_PID', , 'ENVIRONMENT')
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call Check 'load', KTLoadFuncs(), '1'
call Check 'connect', KTConnect('ktdb', 'secret', server), '1'

'kill -STOP' serverPid
call lineout 'waiting', 'x'
call lineout 'waiting'
value = KTSelectOne('select 7')
/* HALT comes after the call: at once (ooRexx) or some clauses later (Regina
   looks at its signal flag now and then). */
do i = 1 to 100000
  nop
end
call Check 'HALT raised', 'no', 'yes'
exit 1

halt:
call Check 'the statement was cancelled', value kt.!dberr, ' 20003'
call Check 'the package is Idle', KTSelectOne('select 8'), '8'
call Check 'reset', KTConnectReset(), '1'
call Check 'drop', KTDropFuncs(), '1'
exit CheckSummary()
