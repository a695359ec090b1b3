/* Text through text and ntext values: a UTF-8 file stored with KTFile2LOB
   reads back as the same text in every client (KTSelectOne) and as the same
   bytes through KTLOB2File. A file that is not UTF-8, or holds a character
   the server's code page has no place for, is refused whole: "0", the old
   value kept, and KT.!DBERRSTR names the byte offset and where such a file
   can go instead. Run at the package's TDS version (7.4) and again at 7.0 (TDSVER). */
big = '/tmp/ktdb-lob-text.' || random(1, 99999)
call LoadPackage
server = ConnectServer()
call Setup 'create table u (id int, t text null, n ntext null, i image null)',,
           "insert into u values (1, 'old', N'old', 0x00)"

e = 'C3A9'x        /* é: two bytes of UTF-8, one of code page 1252 */
euro = 'E282AC'x   /* €: three bytes, one in code page 1252 (0x80) */
han = 'E4B8AD'x    /* 中: no place in code page 1252, one UTF-16 unit */
smile = 'F09F9880'x /* an emoji: a surrogate pair in UTF-16 */

/* Round trips: column, file content, the value's size on the server. */
trips = 0
call Trip 't', 'caf'e, 4
call Trip 't', euro, 1
call Trip 't', 'prix: 5 'euro', caf'e || '0D0A'x || 'tab' || '09'x, 21
call Trip 't', 'a', 1
call Trip 't', '', 0
call Trip 'n', 'caf'e, 8
call Trip 'n', 'caf'e' 'han'文 'smile, 20
call Trip 'n', smile, 4
call Trip 'n', euro || han, 4
call Trip 'n', 'a', 2
call Trip 'n', '', 0
call Trip 'i', 'caf'e, 5
do k = 1 to trips
  parse var trip.k column '/' size
  data = tripdata.k
  call WriteFile 'lobtext.in', data
  what = column c2x(left(data, 12))
  call Check what': stored', KTFile2LOB('lobtext.in', 'u', column, 'id = 1'), '1'
  call Check what': KT.!', kt.!dberr kt.!msgno kt.!oserr, '0 0 0'
  call Check what': size on the server', ,
    KTSelectOne('select datalength('column') from u where id = 1'), size
  if column \= 'i' then
    call Check what': read by a select', c2x(KTSelectOne('select 'column' from u where id = 1')), c2x(data)
  call Check what': back', KTLOB2File('lobtext.out', 'u', column, 'id = 1'), '1'
  call Check what': same bytes', c2x(ReadFile('lobtext.out')), c2x(data)
end

/* Files that cannot become the value's text exactly: nothing is sent and
   the old value stays. Column, content, offset, a word the text must hold. */
refusals = 0
call Refuse 't', 'ab' || 'C3'x || 'x', 2, 'image'
call Refuse 't', 'abc'han, 3, 'ntext'
call Refuse 't', 'abc'han, 3, 'U+4E2D'
call Refuse 't', smile, 0, 'ntext'
call Refuse 't', 'C281'x, 0, 'U+0081'
call Refuse 't', 'x' || 'E282'x, 1, 'image'
call Refuse 't', copies('a', 70000) || 'FF'x, 70000, 'image'
call Refuse 't', copies(e, 40000) || han, 80000, 'ntext'
call Refuse 'n', 'ab' || 'FF'x, 2, 'image'
call Refuse 'n', 'ok' || 'EDA080'x, 2, 'image'
call Refuse 'n', 'x' || 'F09F98'x, 1, 'image'
call Check 'old values', KTFile2LOB('lobtext.old', 'u', 't', 'id = 1') ,
  KTFile2LOB('lobtext.old', 'u', 'n', 'id = 1'), '1 1'
do k = 1 to refusals
  parse var refusal.k column '/' offset '/' word
  call WriteFile 'lobtext.in', refdata.k
  what = 'refused' column c2x(left(refdata.k, 8)) word
  call Check what, KTFile2LOB('lobtext.in', 'u', column, 'id = 1'), '0'
  call Check what': KT.!DBERR', kt.!dberr, '2402'
  call Check what': offset', pos('byte offset' offset' ', kt.!dberrstr) > 0, '1'
  call Check what': names' word, pos(word, kt.!dberrstr) > 0, '1'
  call Check what': old value', KTSelectOne('select 'column' from u where id = 1'), 'old'
end
call Check 'served after refusals', KTSelectOne('select 9'), '9'

/* 20 MB in both text columns: the conversion changes the size and passes
   many pieces, with characters cut by every read. */
text = copies('a'e || euro' ', 3000000)
wide = copies('a'e || han || smile, 2000000)
call charout big'.t', text, 1
call stream big'.t', 'c', 'close'
call charout big'.n', wide, 1
call stream big'.n', 'c', 'close'
drop text wide
call Check '20 MB text', KTFile2LOB(big'.t', 'u', 't', 'id = 1'), '1'
call Check '20 MB text: size', KTSelectOne('select datalength(t) from u where id = 1'), 12000000
call Check '20 MB text: back', KTLOB2File(big'.out', 'u', 't', 'id = 1'), '1'
address system 'cmp -s' big'.t' big'.out'
call Check '20 MB text: same bytes', rc, '0'
call Check '20 MB ntext', KTFile2LOB(big'.n', 'u', 'n', 'id = 1'), '1'
call Check '20 MB ntext: size', KTSelectOne('select datalength(n) from u where id = 1'), 20000000
call Check '20 MB ntext: back', KTLOB2File(big'.out', 'u', 'n', 'id = 1'), '1'
address system 'cmp -s' big'.n' big'.out'
call Check '20 MB ntext: same bytes', rc, '0'
address system 'rm -f' big'.t' big'.n' big'.out'

call Check 'reset', KTConnectReset(), '1'
call KTDropFuncs
address system 'rm -f lobtext.*'
exit CheckSummary()

Trip:
  trips = trips + 1
  trip.trips = arg(1)'/'arg(3)
  tripdata.trips = arg(2)
  return

Refuse:
  refusals = refusals + 1
  refusal.refusals = arg(1)'/'arg(3)'/'arg(4)
  refdata.refusals = arg(2)
  if refusals = 1 then call WriteFile 'lobtext.old', 'old'
  return
