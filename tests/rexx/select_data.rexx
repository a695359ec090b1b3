/* KTSelectData and the statement argument, against a tdslite of the test's
   own. */
call LoadPackage
call ConnectServer
call Check 'create', KTSelectData('create table t (a int, b varchar(20), c int)', 'r.'), '1'
do i = 1 to 5
  call Check 'insert' i, KTSelectData("insert into t values ("i", 'row" i"', NULL)", 'r.'), '1'
end

/* The tails: "0.0" the columns, "i.j" the values, "0" the rows. */
call Check 'select', KTSelectData('select a, b, c from t order by a', 'rows.', 3, '-'), '1'
call Check 'ROWS.0.0', rows.0.0, '3'
call Check 'ROWS.0', rows.0, '3'
expected = '1 row 1|-|2 row 2|-|3 row 3|-'
do i = 1 to 3
  parse var expected a b '|' c '|' expected
  call Check 'ROWS.'i'.1', rows.i.1, a
  call Check 'ROWS.'i'.2', rows.i.2, b
  call Check 'ROWS.'i'.3 (NULL)', rows.i.3, c
end
call Check 'ROWS.4.1 not written', symbol('ROWS.4.1'), 'LIT'

/* The row limit: absent, 0, negative, too long or not a number give 1. */
call CheckRowLimits "KTSelectData('select a from t', 'r.', @)", 'r.',,
  "''=1|'0'=1|'-3'=1|'1234567890'=1|'abc'=1|' 2'=1|'2.0'=1|'2'=2|'100'=5"

/* The NULL text: its first character only, a whole UTF-8 character; an
   empty string is no NULL. */
nulls = "''=|'NULL'=N|'é'=é|'xy'=x"
do while nulls \= ''
  parse var nulls arg '=' expected '|' nulls
  drop r.
  interpret "answer = KTSelectData(""select c, '' from t"", 'r.', 1, "arg")"
  call Check 'NULL text' arg, answer'/'r.1.1'/'r.1.2'/', '1/'expected'//'
end

/* A rejected statement: "1", no rows, the tail 0.0 not written, and the
   server's message in KT.!. */
drop r.
call Check 'rejected', KTSelectData('select * from nosuch', 'r.'), '1'
call Check 'rejected: R.0', r.0, '0'
call Check 'rejected: R.0.0 not written', symbol('R.0.0'), 'LIT'
call Check 'rejected: KT.!MSGNO', kt.!msgno, '208'
call Check 'rejected: KT.!SEVERITY', kt.!severity > 10, '1'
/* The next call starts with reset error variables. */
call Check 'after rejected', KTSelectData('select 1', 'r.'), '1'
call Check 'after rejected: KT.!MSGNO', kt.!msgno, '0'

/* Rows left unread are discarded by the next call. */
call Check 'one of five', KTSelectData('select a from t order by a', 'r.'), '1'
call Check 'next call', KTSelectData('select 42', 'r.'), '1'
call Check 'next call: its own row', r.0 r.1.1, '1 42'

/* A statement without columns: 0.0 is 0, no values. */
drop r.
call Check 'update', KTSelectData('update t set c = 0 where a = 1', 'r.'), '1'
call Check 'update: R.0.0 R.0', r.0.0 r.0, '0 0'

/* The statement argument: a blank makes it the statement (also with a final
   period); one word names a variable (upper-cased) whose value is sent; a
   stem name, an empty value, a NUL byte and an unset variable are refused. */
call Check 'blank and period', KTSelectData('select 1.', 'r.'), '1'
call Check 'blank and period: value', r.1.1, '1'
query = 'select b from t where a = 2'
call Check 'variable', KTSelectData('query', 'r.'), '1'
call Check 'variable: its value sent', r.1.1, 'row 2'
call Check 'stem name', KTSelectData('query.', 'r.'), '0'
empty = ''
call Check 'empty variable', KTSelectData('empty', 'r.'), '0'
withNul = 'select 1' || '00'x || 'delete from t'
call Check 'variable with a NUL byte', KTSelectData('withNul', 'r.'), '0'
call Check 'tab is no blank', KTSelectData('select' || '09'x || '1', 'r.'), '0'
drop nosuchvariable r.
call Check 'unset variable', KTSelectData('nosuchvariable', 'r.'), '0'
call Check 'unset variable: nothing sent', symbol('R.0') (kt.!msgno), 'LIT 0'
call Check 'unset variable: its name', pos('NOSUCHVARIABLE', kt.!dberrstr) > 0, '1'
call Check 'rows intact', KTSelectOne('select count(*) from t'), '5'
/* A value beyond 32765 bytes is never sent cut (the line end behind the cut
   would have turned the statement into another): nothing is sent. */
long = 'select 1 --' || copies('x', 32765 - 11) || '0a'x || ', 2'
call Check 'long statement', KTSelectData('long', 'r.'), '0'
call Check 'long statement: why', kt.!dberr, '20049'
uncut = 'select 1 --' || copies('x', 100) || '0a'x || ', 2'
call Check 'uncut statement', KTSelectData('uncut', 'r.'), '1'
call Check 'uncut statement: two columns', r.0.0, '2'

/* Incorrect calls: missing arguments, a statement beyond 32767 bytes or
   holding a NUL byte, a stem too long for its buffer. */
call CheckIncorrectRowCalls 'KTSelectData'
call Check 'served after 40', KTSelectData('select 5', 'r.'), '1'
call Check 'served after 40: value', r.1.1, '5'

/* More columns than the old 254 of the width table. */
columns = 300
sql = 'select 1'
do j = 2 to columns
  sql = sql', 'j
end
call Check 'wide select', KTSelectData(sql, 'w.'), '1'
call Check 'wide select: columns', w.0.0, columns
call Check 'wide select: last value', w.1.300, '300'

call Check 'reset', KTConnectReset(), '1'
call KTDropFuncs
exit CheckSummary()
