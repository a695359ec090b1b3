/* KTLOB2File against a tdslite of the test's own: text and image values
   into files, byte for byte. The values are put in with plain statements
   here, so that this script does not depend on KTFile2LOB. */
call LoadPackage
call Check 'refused before connecting', KTLOB2File('x', 'b', 'i'), ''
call ConnectServer

call Setup 'create table b (id int, i image null, t text null, v varchar(20) null, n int null)',,
           "insert into b values (0, NULL, NULL, 'vee', 5)"

/* Byte-exact values around the piece size, binary zeros and line ends
   included, in an image and in a text column. */
sizes = '0 1 511 512 513 1300'
pattern = '00'x || '0D0A'x || 'AB' || 'FF'x || '0A'x || 'xyz' || '0D'x
do k = 1 to words(sizes)
  size = word(sizes, k)
  value = left(copies(pattern, size % length(pattern) + 1), size)
  text = left(copies('line' || '0D0A'x || 'tab' || '09'x, size % 9 + 1), size)
  call Check 'insert' size, KTBatchOne("insert into b values ("k", 0x"c2x(value)", '"text"', NULL, NULL)"), '1'
  file = 'lob2file.'size'.img'
  call Check size 'bytes (image): result', KTLOB2File(file, 'b', 'i', 'id = 'k), '1'
  call Check size 'bytes (image): content', ReadFile(file) == value, '1'
  call Check size 'bytes (image): KT.!', kt.!dberr kt.!msgno kt.!oserr, '0 0 0'
  file = 'lob2file.'size'.txt'
  call Check size 'bytes (text): result', KTLOB2File(file, 'b', 't', 'id = 'k), '1'
  call Check size 'bytes (text): content', ReadFile(file) == text, '1'
end

/* Every byte value. */
all = xrange('00'x, 'FF'x)
call Check 'insert 256', KTBatchOne('insert into b values (20, 0x'c2x(all)', NULL, NULL, NULL)'), '1'
call Check 'all bytes', KTLOB2File('lob2file.all', 'b', 'i', 'id = 20'), '1'
call Check 'all bytes: content', c2x(ReadFile('lob2file.all')) == c2x(all), '1'

/* The server's default text size (4096) is lifted for the copy, and put
   back afterwards. */
long = copies('0123456789', 600)
call Check 'insert 6000', KTBatchOne("insert into b values (21, NULL, '"long"', NULL, NULL)"), '1'
call Check 'beyond the default text size', KTLOB2File('lob2file.long', 'b', 't', 'id = 21'), '1'
call Check 'beyond the default text size: content', ReadFile('lob2file.long') == long, '1'
call Check 'text size afterwards', KTSelectOne('select @@textsize'), '4096'
call Check 'plain select cut again', length(KTSelectOne('select t from b where id = 21')), '4096'

/* NULL: an empty file; the whole (absent) value was copied. */
call WriteFile 'lob2file.null', 'old content'
call Check 'NULL', KTLOB2File('lob2file.null', 'b', 'i', 'id = 0'), '1'
call Check 'NULL: empty file', FileSize('lob2file.null'), '0'

/* No row: the file is created empty, and the result says nothing was
   copied. Several rows: the first one's value only. */
call WriteFile 'lob2file.none', 'old content'
call Check 'no row', KTLOB2File('lob2file.none', 'b', 'i', 'id = 99'), '0'
call Check 'no row: empty file', FileSize('lob2file.none'), '0'
call Check 'several rows', KTLOB2File('lob2file.first', 'b', 'i', 'id in (2, 3) order by id'), '1'
call Check 'several rows: the first', FileSize('lob2file.first'), '1'
call Check 'served after several rows', KTSelectOne('select count(*) from b'), '9'

/* A column of another type: no file is created, an existing one is left
   alone. */
call Check 'varchar', KTLOB2File('lob2file.varchar', 'b', 'v', 'id = 0'), '0'
call Check 'varchar: no file', stream('lob2file.varchar', 'c', 'query exists'), ''
call WriteFile 'lob2file.kept', 'keep me'
call Check 'int', KTLOB2File('lob2file.kept', 'b', 'n', 'id = 0'), '0'
call Check 'int: file untouched', ReadFile('lob2file.kept'), 'keep me'
/* The file is replaced only once the whole value arrived: a select that
   fails after it described its column leaves the old file as it was, and
   no file of the package's own is left behind. A replaced file keeps its
   permissions. */
call WriteFile 'lob2file.old', 'old content'
call Check 'failed select', KTLOB2File('lob2file.old', 'b', 't', '1 = 1 order by 1 / id'), '0'
call Check 'failed select: reported', kt.!msgno, '8134'
call Check 'failed select: old file kept', ReadFile('lob2file.old'), 'old content'
call Check 'failed select: no new file', KTLOB2File('lob2file.new', 'b', 't', '1 = 1 order by 1 / id'), '0'
call Check 'failed select: no new file left', stream('lob2file.new', 'c', 'query exists'), ''
address system 'chmod 640 lob2file.old'
call Check 'replaced', KTLOB2File('lob2file.old', 'b', 'i', 'id = 5'), '1'
call Check 'replaced: content', ReadFile('lob2file.old') == left(copies(pattern, 100), 513), '1'
address system 'test "$(stat -c %a lob2file.old)" = 640'
call Check 'replaced: permissions kept', rc, '0'
address system "ls -A | grep -q '^[.]ktdb-'"
call Check 'no temporary file left', rc, '1'

/* A condition given empty is no condition: the first row is id 0. */
call Check 'empty condition', KTLOB2File('lob2file.nocond', 'b', 'i', ''), '1'
call Check 'empty condition: NULL of row 0', FileSize('lob2file.nocond'), '0'

/* A failing select reports the server's message and creates nothing. */
call Check 'no such table', KTLOB2File('lob2file.nosuch', 'nosuch', 'i'), '0'
call Check 'no such table: KT.!MSGNO', kt.!msgno, '208'
call Check 'no such table: no file', stream('lob2file.nosuch', 'c', 'query exists'), ''

/* A file that cannot be opened: the operating system's reason. */
call Check 'missing folder', KTLOB2File('no/such/folder/f', 'b', 'i', 'id = 3'), '0'
call Check 'missing folder: KT.!OSERR', kt.!oserr, '2'
call Check 'missing folder: KT.!OSERRSTR', pos('no/such/folder/f', kt.!oserrstr) > 0, '1'
call Check 'served after', KTSelectOne('select 7'), '7'

/* Incorrect calls change nothing and the next call is served. */
call Check 'no column', Try("KTLOB2File('f', 'b')"), 'ERROR 40'
call Check 'empty file name', Try("KTLOB2File('', 'b', 'i')"), 'ERROR 40'
call Check 'file name of 512', Try("KTLOB2File(copies('f', 512), 'b', 'i')"), 'ERROR 40'
call Check 'NUL in the file name', Try("KTLOB2File('f' || '00'x || 'g', 'b', 'i')"), 'ERROR 40'
call Check 'NUL in the condition', Try("KTLOB2File('f', 'b', 'i', 'id = 1' || '00'x)"), 'ERROR 40'
call Check 'statement too long', Try("KTLOB2File('f', 'b', 'i', copies('1=1 and ', 5000) || '1=1')"), 'ERROR 40'
call Check 'served after 40', KTLOB2File('lob2file.after', 'b', 'i', 'id = 2'), '1'

call Check 'reset', KTConnectReset(), '1'
call Check 'refused after reset', KTLOB2File('x', 'b', 'i'), ''
call KTDropFuncs
address system 'rm -f lob2file.*'
exit CheckSummary()

/* One statement through KTBatch. */
KTBatchOne: procedure
  s.0 = 1
  s.1 = arg(1)
  if KTBatch('s.', 'o.') \= '1' then return 0
  return o.1.0 >= 0

FileSize: procedure
  parse arg name
  return stream(name, 'c', 'query size')
