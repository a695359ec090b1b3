/* Messages that name their cause, and KTBatch sets that say why they
   failed. Run against a tdslite of the test's own, at the protocol version
   TDSVER names. */
server = value('KTDB_SERVER', , 'ENVIRONMENT')
serverPid = value('KTDB_SERVER_PID', , 'ENVIRONMENT')
call LoadPackage

/* A login that times out reports the time-out (20003), not the "connection
   failed" (20002) that follows it. The stopped server still accepts the
   connection (the kernel does), but answers nothing. */
address system 'kill -STOP' serverPid
call Check 'login time-out', KTConnect('ktdb', 'secret', server, 1), '0'
address system 'kill -CONT' serverPid
call Check 'login time-out: the cause', kt.!dberr, '20003'
call Check 'login time-out: its text', pos('2000', kt.!dberrstr) = 0 & kt.!dberrstr \== '', '1'

/* A login the server rejects: its message stays beside DB-Library's
   "connection failed". */
call Check 'wrong password', KTConnect('ktdb', 'wrong', server), '0'
call Check 'wrong password: KT.!', kt.!msgno kt.!severity kt.!dberr, '18456 14 20002'

call Check 'connect', KTConnect('ktdb', 'secret', server), '1'
call Check 'create', KTSelectData('create table u (a int primary key, b varchar(3) not null)', 'r.'), '1'
call Check 'insert', KTSelectData("insert into u values (1, 'x')", 'r.'), '1'

/* A failed statement is followed by the informational 3621 ("The
   statement has been terminated", severity 0): the error stays in KT.!. */
cases = "insert into u values (1, 'y')=2627 14|" ||,
        "insert into u values (2, NULL)=515 16|" ||,
        "insert into u values (3, 'abcdef')=8152 16"
do while cases \= ''
  parse var cases sql '=' expected '|' cases
  call Check sql, KTSelectData(sql, 'r.'), '1'
  call Check sql': KT.!', kt.!msgno kt.!severity, expected
  call KTSelectOne sql
  call Check sql' (KTSelectOne): KT.!', kt.!msgno kt.!severity, expected
end
/* An informational message alone is still reported; of two errors, the
   later one is. */
call KTSelectOne "print 'hello'"
call Check 'print alone', kt.!msgno kt.!severity kt.!msgtext, '0 0 hello'
b.0 = 3; b.1 = "raiserror('first', 16, 1)"; b.2 = "raiserror('second', 11, 1)"; b.3 = "print 'x'"
call Check 'two errors', KTBatch('b.', 'r.'), '1'
call Check 'two errors: the later one', kt.!msgno kt.!severity kt.!msgtext, '50000 11 second'

/* KTBatch: every set that ran is reported, with its error. */
t.1 = "insert into u values (1, 'y')=1|0 2627 14"
t.2 = "insert into u values (2, NULL)=1|0 515 16"
t.3 = "insert into u values (3, 'abcdef')=1|0 8152 16"
t.4 = "raiserror('boom', 16, 1)=1|0 50000 16"
t.5 = "select 1/0=1|0 8134 16"
t.6 = "select 7=1|1 0 0"
t.7 = "select from where=0|"
t.0 = 7
do k = 1 to t.0
  parse var t.k sql '=' sets '|' expected
  drop s. r.
  s.0 = 1; s.1 = sql
  call Check sql, KTBatch('s.', 'r.'), '1'
  call Check sql': sets', r.0, sets
  if sets = 1 then
    call Check sql': set 1', r.1 r.1.!msgno r.1.!severity, expected
end
drop r.
s.1 = 'select 7'
call KTBatch 's.', 'r.'
call Check 'a set without error: its text', r.1.!msgtext, ''
drop r.
s.1 = 'select from where'
call KTBatch 's.', 'r.'
call Check 'rejected as a whole: reason in KT.!', kt.!msgno kt.!severity, '156 15'

/* Several statements: each set tells its own error; the print after a
   failed insert is a set without error. */
drop s. r.
s.0 = 5
s.1 = 'select 1'
s.2 = "insert into u values (1, 'y')"
s.3 = "print 'after'"
s.4 = 'select 1/0'
s.5 = 'select 5'
call Check 'mixed batch', KTBatch('s.', 'r.'), '1'
call Check 'mixed batch: sets', r.0, '5'
call Check 'mixed batch: statuses', r.1 r.2 r.3 r.4 r.5, '1 0 1 0 1'
call Check 'mixed batch: numbers', r.1.!msgno r.2.!msgno r.3.!msgno r.4.!msgno r.5.!msgno,,
           '0 2627 0 8134 0'
call Check 'mixed batch: texts', '['r.3.!msgtext']' left(r.4.!msgtext, 14), '[] Divide by zero'
call Check 'mixed batch: values', r.1.1.1 r.5.1.1, '1 5'
call Check 'mixed batch: KT.! holds the last error', kt.!msgno, '8134'

call Check 'reset', KTConnectReset(), '1'
call KTDropFuncs
exit CheckSummary()
