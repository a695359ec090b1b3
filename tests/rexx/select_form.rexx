/* KTSelectForm against a tdslite of the test's own: the heading line, fixed
   fields counted in characters, alignment by type, NULL text, fill
   character, row limit, lines longer than the line buffer, rejected and
   refused statements. */
call LoadPackage
call Check 'before connect', KTSelectForm('select 1', 'f.'), '0'
call ConnectServer

/* A character column "name" of 10 and an int column "id": fields of 11 and
   12 characters, each followed by two blanks. */
call Check 'create p', KTSelectData('create table p (name varchar(10), id int)', 'r.'), '1'
call Check 'insert p', KTSelectData("insert into p values ('abc', 42)", 'r.'), '1'
call Check 'insert p 2', KTSelectData("insert into p values ('defghijklm', -7)", 'r.'), '1'
call Check 'insert p 3', KTSelectData("insert into p values ('x', 1234567890)", 'r.'), '1'
drop f.
call Check 'name and id', KTSelectForm('select name, id from p order by id', 'f.', 10), '1'
call Check 'name and id: F.0', f.0, '3'
call Check 'name and id: heading', f.0.0, 'NAME_______  ID__________  '
call Check 'name and id: row 1', f.1, 'defghijklm' || ' ' || '  ' || copies(' ', 10) || '-7  '
call Check 'name and id: row 2', f.2, 'abc' || copies(' ', 8) || '  ' || copies(' ', 10) || '42  '
call Check 'name and id: row 3', f.3, 'x' || copies(' ', 10) || '  ' || '  1234567890  '
call Check 'name and id: no row 4', symbol('F.4'), 'LIT'

/* The row limit: absent, 0, negative or not a number give one row; rows
   left unread are discarded by the next call. */
call CheckRowLimits "KTSelectForm('select id from p order by id', 'f.', @)", 'f.',,
  "''=1|'0'=1|'-2'=1|'abc'=1|'1234567890'=1|'2'=2|'100'=3"
call Check 'next call after a limit', KTSelectOne('select 5'), '5'

/* Argument 6 is accepted and has no effect. */
call KTSelectForm 'select name, id from p order by id', 'g.', 3
do arg6 = 1 to 6
  value6 = word("0 7 -3 abc 1234567890 ''", arg6)
  drop f.
  interpret "answer = KTSelectForm('select name, id from p order by id', 'f.', 3, , , "value6")"
  call Check 'argument 6' value6, answer f.0 (f.0.0 == g.0.0) (f.1 == g.1) (f.3 == g.3), '1 3 1 1 1'
end

/* The fill character: its first character, "_" when empty, a whole UTF-8
   character. Unnamed columns are headed by their position; a name longer
   than its type's width makes the field exactly as wide, without fill. */
fills = "'-x'=-|''=_|'*'=*|'é'=é"
do while fills \= ''
  parse var fills fill '=' char '|' fills
  interpret "answer = KTSelectForm('select name, id from p', 'f.', 1, , "fill")"
  call Check 'fill' fill, answer f.0.0, '1 NAME'copies(char, 7)'  ID'copies(char, 10)'  '
end
call Check 'unnamed', KTSelectForm("select 1, 'ab'", 'f.'), '1'
call Check 'unnamed: heading', f.0.0, '1___________  2__  '
call Check 'unnamed: row', f.1, '           1  ab   '
call Check 'long name', KTSelectForm('select 1 as averyveryverylongname', 'f.'), '1'
call Check 'long name: heading', f.0.0, 'AVERYVERYVERYLONGNAME  '
call Check 'long name: row', f.1, right('1', 21)'  '

/* Numbers stand right (decimal, float, real, tinyint, smallint, int,
   bigint); money, bit, datetime and characters left. */
call Check 'create a', KTSelectData('create table a (d decimal(6,2), f float, r real,',
  'ti tinyint, si smallint, i int, bi bigint, m money, bt bit, dt datetime, c varchar(5))', 'r.'), '1'
call Check 'insert a', KTSelectData("insert into a values (1.5, 2.5, 3.5, 4, 5, 6, 7, 8, 1,",
  "'2024-01-02 03:04', 'ab')", 'r.'), '1'
call Check 'aligned', KTSelectForm('select * from a', 'f.'), '1'
call KTSelectData 'select * from a', 'v.'
call Fields f.0.0, f.1
sides = 'R R R R R R R L L L L'
do j = 1 to v.0.0
  if word(sides, j) = 'R' then want = right(v.1.j, wide.j)
  else want = left(v.1.j, wide.j)
  call Check 'aligned: column' j word(sides, j), field.j, want
end

/* The longest value of each type fits its field whole. */
longest = 'select cast(-9223372036854775808 as bigint) as bi,',
  'cast(-3.40282347e+38 as real) as r, cast(-214748.3648 as smallmoney) as sm,',
  "cast('2079-06-06 23:59' as smalldatetime) as sdt, -1.7976931348623157e+308 as f,",
  'cast(-922337203685477.5808 as money) as m, cast(-2147483648 as int) as i,',
  'cast(-32768 as smallint) as si, cast(255 as tinyint) as ti,',
  "cast('9999-12-31 23:59:59.997' as datetime) as dt,",
  'cast(-99999999.99 as decimal(10,2)) as d, cast(-0.12 as decimal(2,2)) as z'
call Check 'longest', KTSelectForm(longest, 'f.'), '1'
call Check 'longest: values', KTSelectData(longest, 'v.'), '1'
call Fields f.0.0, f.1
do j = 1 to v.0.0
  call Check 'longest: column' j, strip(field.j), v.1.j
end

/* NULL: the field stays blank, or starts with the NULL text (also in a
   right-aligned column); an empty string is no NULL. */
call Check 'create n', KTSelectData('create table n (a int, b int, c varchar(3))', 'r.'), '1'
call Check 'insert n', KTSelectData("insert into n values (1, NULL, '')", 'r.'), '1'
call Check 'NULL', KTSelectForm('select * from n', 'f.'), '1'
call Check 'NULL: blank', f.1, right(1, 12)'  'copies(' ', 12)'  'copies(' ', 4)'  '
call Check 'NULL text', KTSelectForm('select * from n', 'f.', 1, '?x'), '1'
call Check 'NULL text: at the start', f.1, right(1, 12)'  'left('?', 12)'  'copies(' ', 4)'  '

/* UTF-8: fields count characters, so every line has the same number of
   characters and the second field starts at the same character. */
call Check 'create w', KTSelectData('create table w (k int, name nvarchar(6), n int)', 'r.'), '1'
values = "abc|für|€€€€€€|é"
do k = 1 while values \= ''
  parse var values v '|' values
  call Check 'insert w' k, KTSelectData("insert into w values ("k", N'"v"', "k * 111")", 'r.'), '1'
end
call Check 'UTF-8', KTSelectForm('select name, n from w order by k', 'f.', 10, , 'é'), '1'
call Check 'UTF-8: rows', f.0, '4'
call Check 'UTF-8: heading', f.0.0, 'NAMEééé  ' || copies('é', 0) || 'Néééééééééé' || 'é  '
values = "abc|für|€€€€€€|é"
do k = 1 to 4
  parse var values v '|' values
  call Check 'UTF-8: row' k, f.k, v || copies(' ', 7 - Chars(v))'  'right(k * 111, 12)'  '
  call Check 'UTF-8: row' k 'characters', Chars(f.k), 7 + 2 + 12 + 2
end

/* A rejected statement: "1", no lines, the heading not written, the reason
   in KT.!. A statement without columns: an empty heading, no rows. */
drop f.
call Check 'rejected', KTSelectForm('select * from nosuch', 'f.'), '1'
call Check 'rejected: F.0', f.0, '0'
call Check 'rejected: no heading', symbol('F.0.0'), 'LIT'
call Check 'rejected: KT.!MSGNO', kt.!msgno, '208'
drop f.
call Check 'update', KTSelectForm('update p set id = id where id = 42', 'f.'), '1'
call Check 'update: F.0 F.0.0', f.0 '['f.0.0']', '0 []'
call Check 'update: KT.! reset', kt.!msgno, '0'

/* The statement argument: a variable, a refused one ("0", published), a
   stem without a period, a lower-case stem. */
query = 'select name from p where id = 42'
call Check 'variable', KTSelectForm('query', 'x'), '1'
call Check 'variable: X0.0 X1 X0', x0.0'/'x1'/'x0, 'NAME_______  /abc'copies(' ', 10)'/1'
empty = ''
kt.!msgno = 'untouched'
call Check 'stem name', KTSelectForm('query.', 'f.'), '0'
call Check 'stem name: published', kt.!msgno, '0'
call Check 'empty variable', KTSelectForm('empty', 'f.'), '0'

/* Lines longer than the 32765 bytes of the line buffer are never stored
   cut: the call stops with "0" and says why. Up to 32765 bytes is fine. */
big = 'select cast(1 as varchar(8000)) as a, cast(2 as varchar(8000)) as b,',
      'cast(3 as varchar(8000)) as c, cast(4 as varchar(8000)) as d,'
call Check 'longest line', KTSelectForm(big 'cast(5 as varchar(750)) as e', 'f.'), '1'
call Check 'longest line: lengths', length(f.0.0) length(f.1) f.0, '32765 32765 1'
f.0 = 'old'
drop f.0.0
call Check 'heading too long', KTSelectForm(big 'cast(5 as varchar(751)) as e', 'f.'), '0'
call Check 'heading too long: KT.!DBERR', kt.!dberr, '20049'
call Check 'heading too long: KT.!DBERRSTR', kt.!dberrstr,,
  'The heading line is longer than 32765 bytes: no line was stored'
call Check 'heading too long: nothing stored', f.0 symbol('F.0.0'), 'old LIT'
call Check 'create u', KTSelectData('create table u (k int, a nvarchar(4000),',
  'b nvarchar(4000), c nvarchar(4000))', 'r.'), '1'
call Check 'insert u', KTSelectData("insert into u values (1, N'x', N'y', N'z')", 'r.'), '1'
call Check 'insert u 2', KTSelectData("insert into u (k, a) values (2, N'"copies('€', 4000)"')", 'r.'), '1'
call Check 'update u', KTSelectData('update u set b = a, c = a where k = 2', 'r.'), '1'
drop f.
f.0 = 'old'
/* Row 2: three fields of 4000 three-byte characters, 36009 bytes. */
call Check 'row too long', KTSelectForm('select a, b, c from u order by k', 'f.', 5), '0'
call Check 'row too long: KT.!DBERR', kt.!dberr, '20049'
call Check 'row too long: KT.!DBERRSTR', kt.!dberrstr,,
  'The line of row 2 is longer than 32765 bytes: it and the rows after it were not stored'
call Check 'row too long: heading and row 1', length(f.0.0) length(f.1), '12009 12009'
call Check 'row too long: row 2 not stored', symbol('F.2') f.0, 'LIT old'
call Check 'after too long', KTSelectForm('select k from u order by k', 'f.', 5), '1'
call Check 'after too long: reset', f.0 kt.!dberr, '2 0'

/* A text column's field is as wide as the longest value text, 32767
   characters: a line holding it never fits, and the call says so. */
call Check 'create tt', KTSelectData('create table tt (k int, tx text)', 'r.'), '1'
call Check 'insert tt', KTSelectData("insert into tt values (1, 'short')", 'r.'), '1'
call Check 'text column', KTSelectForm('select k, tx from tt', 'f.'), '0'
call Check 'text column: KT.!DBERR', kt.!dberr, '20049'
call Check 'text column, cast', KTSelectForm('select k, cast(tx as varchar(10)) as tx from tt', 'f.'), '1'
call Check 'text column, cast: row', f.1, right(1, 12)'  'left('short', 11)'  '

/* Incorrect calls: as KTSelectData's. */
call CheckIncorrectRowCalls 'KTSelectForm'
call Check 'served after 40', KTSelectForm('select 5 as v', 'f.'), '1'
call Check 'served after 40: row', f.1, '           5  '

/* A wide select. */
sql = 'select 1'
do j = 2 to 300
  sql = sql', 'j
end
call Check 'wide', KTSelectForm(sql, 'f.'), '1'
call Check 'wide: length', length(f.1) length(f.0.0), 300 * 14 300 * 14

call Check 'reset', KTConnectReset(), '1'
call Check 'after reset', KTSelectForm('select 1', 'f.'), '0'
call KTDropFuncs
exit CheckSummary()

/* Splits a row line into its fields by the heading line (ASCII labels and
   fill): field.j is the text of field j, wide.j its width. */
Fields: procedure expose field. wide.
  parse arg heading, line
  drop field. wide.
  position = 1
  do j = 1 to words(heading)
    width = length(word(heading, j))
    field.j = substr(line, position, width)
    wide.j = width
    position = position + width + 2
  end
  return

/* Characters of a UTF-8 text: the bytes that do not continue a sequence. */
Chars: procedure
  parse arg text
  count = 0
  do i = 1 to length(text)
    byte = c2d(substr(text, i, 1))
    if byte < 128 | byte >= 192 then count = count + 1
  end
  return count
