/* KTSelectCols against a tdslite of the test's own: one description line
   per column (label, type name, width, upper-cased), the column count,
   unnamed columns, rejected and refused statements. */
call LoadPackage
call Check 'before connect', KTSelectCols('select 1', 'c.'), '0'
call ConnectServer

/* Every type tdslite can send. The type names are FreeTDS's (dbprtype):
   every character type arrives as char, varbinary as binary. float and
   real report the 24 characters of their longest text. bigint arrives as
   itself from TDS 7.1 on (the package asks for 7.4), under TDS 7.0 (TDSVER)
   as numeric(19,0). */
if value('TDSVER', , 'ENVIRONMENT') = '7.0' then bigint = 'BI DECIMAL 19.0'
else bigint = 'BI BIGINT 20'
types = 'name varchar(20)=NAME CHAR 20|',
        'Lower nvarchar(5)=LOWER CHAR 5|',
        'c char(4)=C CHAR 4|',
        'i int=I INT 11|',
        'si smallint=SI SMALLINT 6|',
        'ti tinyint=TI TINYINT 3|',
        'bt bit=BT BIT 3|',
        'bi bigint='bigint'|',
        'd decimal(10,2)=D DECIMAL 8.2|',
        'n numeric(5,0)=N NUMERIC 5.0|',
        'z decimal(4,4)=Z DECIMAL 0.4|',
        'm money=M MONEY 26|',
        'sm smallmoney=SM SMALLMONEY 26|',
        'dt datetime=DT DATETIME 27|',
        'sdt smalldatetime=SDT SMALLDATETIME 27|',
        'f float=F FLOAT 24|',
        'r real=R REAL 24|',
        'b binary(8)=B BINARY 16|',
        'vb varbinary(8)=VB BINARY 16|',
        'tx text=TX TEXT 32767|',
        'im image=IM IMAGE 32767'
columns = ''
expected. = ''
count = 0
rest = types
do while rest \= ''
  parse var rest definition '=' description '|' rest
  count = count + 1
  columns = columns',' strip(definition)
  expected.count = description
end
call Check 'create', KTSelectData('create table t (' substr(columns, 2) ')', 'r.'), '1'
call Check 'create: no message', kt.!msgno, '0'
drop c.
call Check 'describe', KTSelectCols('select * from t', 'c.'), '1'
call Check 'describe: C.0', c.0, count
do j = 1 to count
  call Check 'describe: C.'j, c.j, expected.j
end
call Check 'describe: nothing behind the last', symbol('C.'count + 1), 'LIT'
call Check 'describe: KT.! published', kt.!msgno kt.!dberr, '0 0'

/* Unnamed columns are labelled by their position; the stem takes no period
   of its own and is upper-cased. */
call Check 'expressions', KTSelectCols("select 1, 2 as two, 'abc', 1.5", 'e'), '1'
call Check 'expressions: E0', e0, '4'
call Check 'expressions: E1', e1, '1 INT 11'
call Check 'expressions: E2', e2, 'TWO INT 11'
call Check 'expressions: E3', e3, '3 CHAR 3'
call Check 'expressions: E4', e4, '4 NUMERIC 1.1'

/* The statement in a variable; no rows are read, and the next call starts
   clean. */
call Check 'insert', KTSelectData("insert into t (name, i) values ('x', 1)", 'r.'), '1'
call Check 'insert again', KTSelectData("insert into t (name, i) values ('y', 2)", 'r.'), '1'
query = 'select i, name from t order by i'
drop c.
call Check 'variable', KTSelectCols('query', 'c.'), '1'
call Check 'variable: columns', c.0 '/' c.1 '/' c.2, '2 / I INT 11 / NAME CHAR 20'
call Check 'after describe', KTSelectData('select count(*) from t', 'r.'), '1'
call Check 'after describe: its own row', r.0 r.1.1, '1 2'

/* No result columns: only the count, 0. A rejected statement likewise,
   with its reason in KT.!. */
drop c.
call Check 'update', KTSelectCols("update t set i = 3 where name = 'x'", 'c.'), '1'
call Check 'update: C.0', c.0, '0'
call Check 'update: no C.1', symbol('C.1'), 'LIT'
call Check 'rejected', KTSelectCols('select * from nosuch', 'c.'), '1'
call Check 'rejected: C.0', c.0, '0'
call Check 'rejected: KT.!MSGNO', kt.!msgno, '208'
call Check 'rejected: KT.!MSGTEXT', pos('nosuch', kt.!msgtext) > 0, '1'
call Check 'after rejected', KTSelectCols('select 1', 'c.'), '1'
call Check 'after rejected: reset', kt.!msgno c.0 c.1, '0 1 1 INT 11'

/* Incorrect calls: missing arguments, a refused statement argument (a stem
   name, a NUL byte), a statement beyond 32767 bytes, a stem too long for its
   buffer. None of them publishes. An empty variable holds no statement: "0"
   with its name in KT.!DBERRSTR. */
empty = ''
withNul = 'select 1' || '00'x
kt.!msgno = 'untouched'
call Check 'no stem', Try("KTSelectCols('select 1')"), 'ERROR 40'
call Check 'empty statement', Try("KTSelectCols('', 'c.')"), 'ERROR 40'
call Check 'stem name', Try("KTSelectCols('query.', 'c.')", 'query', query), 'ERROR 40'
call Check 'variable with NUL', Try("KTSelectCols('withNul', 'c.')", 'withNul', withNul), 'ERROR 40'
call Check 'statement too long', Try("KTSelectCols('select' copies(' ', 32767), 'c.')"), 'ERROR 40'
call Check 'stem too long', Try("KTSelectCols('select 1', copies('S', 251)'.')"), 'ERROR 40'
call Check 'nothing published', kt.!msgno, 'untouched'
call Check 'empty variable', KTSelectCols('empty', 'c.') kt.!dberrstr,,
           '0 The statement variable EMPTY is empty: nothing was sent'
/* REXX names end at 250 characters, under every interpreter. */
call Check 'names too long', Try("KTSelectCols('select 7 as x', copies('S', 250)'.')"), 'ERROR 40'
call Check 'longest stem', KTSelectCols('select 7 as x', copies('S', 247)'.'), '1'
call Check 'longest stem: its variables', value(copies('S', 247)'.1'), 'X INT 11'

/* A wide select: every column described. */
sql = 'select 1'
do j = 2 to 300
  sql = sql', 'j' as c'j
end
call Check 'wide', KTSelectCols(sql, 'w.'), '1'
call Check 'wide: count and last', w.0 '/' w.300, '300 / C300 INT 11'

call Check 'reset', KTConnectReset(), '1'
call Check 'after reset', KTSelectCols('select 1', 'c.'), '0'
call KTDropFuncs
exit CheckSummary()
