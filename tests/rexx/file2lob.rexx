/* KTFile2LOB against a tdslite of the test's own: files into text and image
   values, read back with KTLOB2File and compared byte for byte. The large
   files (1 MiB, 64 MiB) are made under /tmp and removed at the end. */
big = '/tmp/ktdb-file2lob.' || random(1, 99999)
call LoadPackage
call Check 'refused before connecting', KTFile2LOB('x', 'b', 'i'), ''
call ConnectServer

/* Every row starts with a value: a NULL value has no text pointer. */
c.0 = 1
c.1 = 'create table b (id int, i image null, t text null, v varchar(20) null)'
do id = 1 to 12
  c.0 = c.0 + 1
  n = c.0
  c.n = "insert into b values ("id", 0x0102, 'old', 'vee')"
end
c.0 = c.0 + 1; n = c.0; c.n = "insert into b values (30, 0x30, 'thirty', NULL)"
c.0 = c.0 + 1; n = c.0; c.n = "insert into b values (31, 0x31, 'thirty-one', NULL)"
c.0 = c.0 + 1; n = c.0; c.n = "insert into b values (40, NULL, NULL, NULL)"
call Check 'setup', KTBatch('c.', 'r.'), '1'

/* Round trips around the piece size, binary zeros and line ends included,
   unlogged into the image column and logged (any fifth argument, even 0)
   into the text column. Text is converted between character sets on the
   way back, so its bytes are ASCII. */
sizes = '1 511 512 513 1300'
pattern = '00'x || '0D0A'x || 'AB' || 'FF'x || '0A'x || 'xyz' || '0D'x
do k = 1 to words(sizes)
  size = word(sizes, k)
  value = left(copies(pattern, size % length(pattern) + 1), size)
  text = left(copies('line' || '0D0A'x || 'tab' || '09'x || '00'x, size % 10 + 1), size)
  call WriteFile 'file2lob.in', value
  call Check size 'bytes (image)', KTFile2LOB('file2lob.in', 'b', 'i', 'id = 'k), '1'
  call Check size 'bytes (image): KT.!', kt.!dberr kt.!msgno kt.!oserr, '0 0 0'
  call Check size 'bytes (image): length', KTSelectOne('select datalength(i) from b where id = 'k), size
  call Check size 'bytes (image): back', KTLOB2File('file2lob.out', 'b', 'i', 'id = 'k), '1'
  call Check size 'bytes (image): content', ReadFile('file2lob.out') == value, '1'
  call WriteFile 'file2lob.in', text
  call Check size 'bytes (text, logged)', KTFile2LOB('file2lob.in', 'b', 't', 'id = 'k, '0'), '1'
  call Check size 'bytes (text): back', KTLOB2File('file2lob.out', 'b', 't', 'id = 'k), '1'
  call Check size 'bytes (text): content', ReadFile('file2lob.out') == text, '1'
end
call Check 'other rows untouched', KTSelectOne('select count(*) from b where datalength(i) = 2'), '7'

/* An empty file makes the value empty, not NULL. */
call WriteFile 'file2lob.empty', ''
call Check 'empty (image)', KTFile2LOB('file2lob.empty', 'b', 'i', 'id = 1'), '1'
call Check 'empty (image): length', KTSelectOne('select datalength(i) from b where id = 1', '?'), '0'
call Check 'empty (text)', KTFile2LOB('file2lob.empty', 'b', 't', 'id = 1'), '1'
call Check 'empty (text): length', KTSelectOne('select datalength(t) from b where id = 1', '?'), '0'
call Check 'empty: other rows untouched', KTSelectOne('select count(*) from b where datalength(i) = 0'), '1'
/* Of several rows, only the first is emptied: the update finds it by its
   text pointer. */
call Check 'empty, several rows', KTFile2LOB('file2lob.empty', 'b', 'i', 'id in (7, 8) order by id'), '1'
call Check 'empty, several rows: first', KTSelectOne('select datalength(i) from b where id = 7', '?'), '0'
call Check 'empty, several rows: second', KTSelectOne('select datalength(i) from b where id = 8', '?'), '2'

/* Only the first row of several is replaced. */
call WriteFile 'file2lob.in', 'new'
call Check 'several rows', KTFile2LOB('file2lob.in', 'b', 't', 'id >= 30 and id < 40 order by id'), '1'
call Check 'several rows: first', KTSelectOne('select t from b where id = 30'), 'new'
call Check 'several rows: second', KTSelectOne('select t from b where id = 31'), 'thirty-one'

/* Nothing to write to: nothing is written and nothing reported. */
call Check 'no row', KTFile2LOB('file2lob.in', 'b', 't', 'id = 99'), '0'
call Check 'no row: KT.!', kt.!dberr kt.!msgno kt.!oserr, '0 0 0'
call Check 'varchar column', KTFile2LOB('file2lob.in', 'b', 'v', 'id = 2'), '0'
call Check 'varchar column: kept', KTSelectOne('select v from b where id = 2'), 'vee'
call Check 'NULL value', KTFile2LOB('file2lob.in', 'b', 'i', 'id = 40'), '0'
call Check 'NULL value: KT.!DBERR', kt.!dberr, '20176'
call Check 'NULL value: KT.!DBERRSTR', pos('NULL', kt.!dberrstr) > 0, '1'

/* Files that cannot be read: nothing is sent, the operating system's
   reason is published, the value stays. */
call Check 'missing file', KTFile2LOB('file2lob.missing', 'b', 't', 'id = 2'), '0'
call Check 'missing file: KT.!OSERR', kt.!oserr, '2'
call Check 'missing file: KT.!OSERRSTR', pos('file2lob.missing', kt.!oserrstr) > 0, '1'
address system 'mkdir -p file2lob.dir'
call Check 'folder', KTFile2LOB('file2lob.dir', 'b', 't', 'id = 2'), '0'
call Check 'folder: KT.!OSERR', kt.!oserr, '21'
/* 2 GiB (sparse: no disk space) is one byte more than a value holds. */
address system 'truncate -s 2G' big'.2g'
call Check '2 GiB', KTFile2LOB(big'.2g', 'b', 'i', 'id = 2'), '0'
call Check '2 GiB: KT.!OSERR', kt.!oserr, '27'
call Check '2 GiB: KT.!OSERRSTR', pos('2 GiB', kt.!oserrstr) > 0, '1'
address system 'rm -f' big'.2g'
call Check 'refused files: value kept', KTSelectOne('select datalength(t) from b where id = 2'), '511'

/* A report stops the update; the old value stays and the second
   connection serves the next call. The alias makes the select valid and
   the update's object name ("b x.t") one the server refuses. */
call WriteFile 'file2lob.in', 'stopped'
call Check 'stopped by a report', KTFile2LOB('file2lob.in', 'b x', 't', 'x.id = 3'), '0'
call Check 'stopped: reported', kt.!msgno \= '0', '1'
call Check 'stopped: old value kept', KTLOB2File('file2lob.out', 'b', 't', 'id = 3'), '1'
call Check 'stopped: old value content', length(ReadFile('file2lob.out')), '512'
call Check 'stopped, logged', KTFile2LOB('file2lob.in', 'b x', 't', 'x.id = 3', 'log'), '0'
/* A stop in the middle of the transfer: a sysfs file claims 4096 bytes
   but holds a few, so the bytes run out after the size was announced (into
   an image value: a text value's size is counted from the text read). The
   update is abandoned, the old value stays, and the second connection
   serves the next call. */
short = '/sys/devices/system/cpu/online'
if stream(short, 'c', 'query size') = 4096 then do
  call Check 'stopped mid-transfer', KTFile2LOB(short, 'b', 'i', 'id = 3'), '0'
  call Check 'stopped mid-transfer: KT.!OSERRSTR', pos('announced', kt.!oserrstr) > 0, '1'
  call Check 'stopped mid-transfer: old value kept', KTSelectOne('select datalength(i) from b where id = 3'), '512'
end
call WriteFile 'file2lob.in', 'after the stop'
call Check 'next update', KTFile2LOB('file2lob.in', 'b', 't', 'id = 3'), '1'
call Check 'next update: value', KTSelectOne('select t from b where id = 3'), 'after the stop'

/* Large files, made by the shell and compared by it. */
do k = 1 to 2
  mib = word('1 64', k)
  address system 'head -c' mib * 1048576 '/dev/urandom >' big'.in'
  call Check mib 'MiB', KTFile2LOB(big'.in', 'b', 'i', 'id = 'k + 10), '1'
  call Check mib 'MiB: length', KTSelectOne('select datalength(i) from b where id = 'k + 10), mib * 1048576
  call Check mib 'MiB: back', KTLOB2File(big'.out', 'b', 'i', 'id = 'k + 10), '1'
  address system 'cmp -s' big'.in' big'.out'
  call Check mib 'MiB: identical', rc, '0'
  address system 'rm -f' big'.in' big'.out'
end

/* Incorrect calls change nothing, and the next call is served. */
call Check 'no column', Try("KTFile2LOB('f', 'b')"), 'ERROR 40'
call Check 'file name of 256', Try("KTFile2LOB(copies('f', 256), 'b', 'i')"), 'ERROR 40'
call Check 'object name of 256', Try("KTFile2LOB('f', copies('b', 250), 'column')"), 'ERROR 40'
call Check 'NUL in the table', Try("KTFile2LOB('f', 'b' || '00'x, 'i')"), 'ERROR 40'
call Check 'served after 40', KTSelectOne('select 8'), '8'

call Check 'reset', KTConnectReset(), '1'
call Check 'refused after reset', KTFile2LOB('x', 'b', 'i'), ''
call KTDropFuncs
address system 'rm -rf file2lob.*' big'.*'
exit CheckSummary()
