/* KTSelectOne against a tdslite of the test's own. */
call LoadPackage
call ConnectServer
/* Long values travel as text, which the server cuts at its text size. */
call Setup 'create table t (a int, b varchar(300), n int)',,
           "insert into t values (1, 'one', NULL)",,
           "insert into t values (2, 'two', 7)",,
           'create table big (id int, c text)',,
           'set textsize 2147483647'

/* The first column of the first row; the rest is discarded by the next
   call. */
call Check 'first value', KTSelectOne('select b, a from t order by a'), 'one'
call Check 'next call', KTSelectOne('select a from t where a = 2'), '2'
call Check 'no rows', KTSelectOne('select a from t where a = 9'), ''
call Check 'no columns', KTSelectOne('update t set n = n where a = 9'), ''
call Check 'rejected', KTSelectOne('select * from nosuch'), ''
call Check 'rejected: KT.!MSGNO', kt.!msgno, '208'
q = 'select b from t where a = 2'
call Check 'statement in a variable', KTSelectOne('q'), 'two'
call Check 'stem name refused', KTSelectOne('q.'), ''
call Check 'char value keeps its blanks', KTSelectOne("select cast('ab' as char(5))"), 'ab   '

/* NULL: the first character of the second argument, or empty; an empty
   string is not NULL. */
call Check 'NULL', KTSelectOne('select n from t where a = 1'), ''
call Check 'NULL with NULL', KTSelectOne('select n from t where a = 1', 'NULL'), 'N'
call Check 'empty string', KTSelectOne("select ''", '?'), ''

/* KT.!LONGRESULT: empty up to 255 characters, the whole value from 256 on;
   the result itself always holds the whole value. */
do length = 255 to 256
  value = copies('v', length)
  answer = KTSelectOne("select '"value"'")
  call Check length 'characters: result', answer == value, '1'
  expected = ''
  if length > 255 then expected = value
  call Check length 'characters: KT.!LONGRESULT', kt.!longresult == expected, '1'
end
value = copies('0123456789', 3000)
answer = KTSelectOne("select '"value"'")
call Check '30000 characters: result', length(answer) (answer == value), '30000 1'
call Check '30000 characters: KT.!LONGRESULT', kt.!longresult == value, '1'
/* Every admitted call empties it first, also one that sends nothing. */
call Check 'after a long value', KTSelectOne('select 1'), '1'
call Check 'emptied', kt.!longresult, ''
call KTSelectOne "select '"value"'"
call Check 'refused statement', KTSelectOne('q.'), ''
call Check 'emptied by a refused statement', kt.!longresult, ''

/* A text value longer than the value buffer comes back cut to 32767 bytes,
   and the call says so. The insert is longer than one statement can be, so
   it is split over two statements of a batch (the blank that joins them
   lands inside the text). */
c.0 = 2
c.1 = "insert into big values (1, '" || copies('x', 30000)
c.2 = copies('y', 10000) || "')"
call Check 'insert 40001 characters', KTBatch('c.', 'r.'), '1'
call Check 'its length', KTSelectOne('select datalength(c) from big'), '40001'
answer = KTSelectOne('select c from big')
call Check 'cut: length', length(answer), '32767'
call Check 'cut: content', answer == copies('x', 30000) || ' ' || copies('y', 2766), '1'
call Check 'cut: KT.!DBERR', kt.!dberr, '20049'
call Check 'cut: KT.!DBERRSTR', pos('cut', kt.!dberrstr) > 0, '1'
call Check 'cut: KTSelectData', KTSelectData('select c, id from big', 'r.'), '1'
call Check 'cut: KTSelectData value', length(r.1.1) r.1.2 kt.!dberr, '32767 1 20049'

/* Incorrect calls. */
call Check 'no statement', Try('KTSelectOne()'), 'ERROR 40'
call Check 'NUL in statement', Try("KTSelectOne('select 1' || '00'x)"), 'ERROR 40'
call Check 'served after 40', KTSelectOne('select 3'), '3'

call Check 'reset', KTConnectReset(), '1'
call KTDropFuncs
exit CheckSummary()
