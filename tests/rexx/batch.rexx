/* KTBatch against a tdslite of the test's own. */
call LoadPackage
call ConnectServer

/* Every result set on three levels: status, dbcount, columns, values. */
c.0 = 6
c.1 = 'create table t (a int, b varchar(10))'
c.2 = "insert into t values (1, 'x') insert into t values (2, NULL)"
c.3 = 'update t set a = a + 10'
c.4 = 'select a, b from t order by a'
c.5 = 'select a from t where a < 0'
c.6 = 'select count(*) from t'
call Check 'batch', KTBatch('c.', 'res.'), '1'
call Check 'RES.0', res.0, '7'
/* set: status, count, columns */
sets = '1 -1 0|1 1 0|1 1 0|1 2 0|1 2 2|1 0 0|1 1 1'
do n = 1 to 7
  parse var sets expected '|' sets
  call Check 'set' n, res.n res.n.0 res.n.0.0, expected
end
call Check 'set 5 values', res.5.1.1 res.5.1.2 res.5.2.1 res.5.2.2, '11 x 12 (null)'
call Check 'set 5 row 3 not written', symbol('RES.5.3.1'), 'LIT'
call Check 'set 7 value', res.7.1.1, '2'

/* Statements are joined with a blank behind each: a statement may go on in
   the next variable. */
s.0 = 2; s.1 = "select 'joined' as"; s.2 = 'word'
call Check 'joined', KTBatch('s.', 'j.'), '1'
call Check 'joined: one set, its value', j.0 j.1 j.1.1.1, '1 1 joined'

/* A failed statement is a set with status 0; the batch goes on (a
   duplicate key ends the statement, not the batch). */
u.0 = 2; u.1 = 'create table u (a int primary key)'; u.2 = 'insert into u values (1)'
call Check 'unique table', KTBatch('u.', 'ur.'), '1'
f.0 = 3; f.1 = 'select 1'; f.2 = 'insert into u values (1)'; f.3 = 'select 3'
call Check 'failed in the middle', KTBatch('f.', 'fr.'), '1'
call Check 'failed in the middle: sets', fr.0, '3'
call Check 'failed in the middle: statuses', fr.1 fr.2 fr.3, '1 0 1'
call Check 'failed in the middle: values', fr.1.1.1 fr.3.1.1, '1 3'
call Check 'failed in the middle: the error, not 3621', kt.!msgno, '2627'

/* A batch the server rejects as a whole: "1", no sets, the reason in KT.!. */
x.0 = 2; x.1 = 'select 1'; x.2 = 'select from where'
call Check 'rejected batch', KTBatch('x.', 'xr.'), '1'
call Check 'rejected batch: no sets', xr.0, '0'
call Check 'rejected batch: KT.!MSGNO set', kt.!msgno \= 0, '1'

/* A first statement that fails while the batch goes on: it is reported as
   set 1 with status 0, the statements after it as they ran. */
y.0 = 2; y.1 = 'insert into u values (1)'; y.2 = 'select 2'
call Check 'first fails', KTBatch('y.', 'yr.'), '1'
call Check 'first fails: sets', yr.0, '2'
call Check 'first fails: statuses', yr.1 yr.2, '0 1'
call Check 'first fails: value', yr.2.1.1, '2'

/* Count 0: nothing sent, R0 = 0, "1", KT.! reset and published. */
z.0 = 0
kt.!msgno = 'x'
call Check 'count 0', KTBatch('z.', 'zr.'), '1'
call Check 'count 0: ZR.0', zr.0, '0'
call Check 'count 0: KT.! published', kt.!msgno, '0'

/* Unreadable counts: "0", nothing written. */
counts = "-1|abc|1234567890| 1|"
do while counts \= ''
  parse var counts count '|' counts
  drop q. qr.
  q.0 = count; q.1 = 'select 1'
  call Check 'count "'count'"', KTBatch('q.', 'qr.'), '0'
  call Check 'count "'count'": nothing written', symbol('QR.0'), 'LIT'
end
drop q.
call Check 'count unset', KTBatch('q.', 'qr.'), '0'

/* A statement that cannot be read stops the call before anything is sent,
   and the statements read before it never reach the server, not even with
   the next call. */
e.0 = 2; e.1 = "insert into t values (99, 'lost')"; e.2 = ''
call Check 'empty statement', KTBatch('e.', 'er.'), '0'
n.0 = 2; n.1 = "insert into t values (98, 'lost')"; n.2 = 'select 1' || '00'x
call Check 'statement with NUL', KTBatch('n.', 'nr.'), '0'
call Check 'nothing sent', KTSelectOne('select count(*) from t where a > 90'), '0'
call Check 'next call unaffected', KTSelectOne('select count(*) from t'), '2'

/* Stems: upper-cased; a blank ends the stem; without a blank the stem
   must end in a period. */
call Check 'stem with blank', KTBatch('s. anything', 'k. more'), '1'
call Check 'stem with blank: K.1.1.1', k.1.1.1, 'joined'
call Check 'stem without period', Try("KTBatch('s', 'r.')"), 'ERROR 40'
call Check 'result stem without period', Try("KTBatch('s.', 'r')"), 'ERROR 40'
call Check 'missing result stem', Try("KTBatch('s.')"), 'ERROR 40'
call Check 'stem too long', Try("KTBatch('s.', copies('R', 32750)'.')"), 'ERROR 40'
call Check 'served after 40', KTBatch('s.', 'k.'), '1'

call Check 'reset', KTConnectReset(), '1'
call KTDropFuncs
exit CheckSummary()
