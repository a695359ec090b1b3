/* KTCurTimeStamp against a tdslite of the test's own: the server's time in
   its date styles, the style argument, refused styles, the KT.! variables
   left alone; then every function of this group once the server is gone. */
serverPid = value('KTDB_SERVER_PID', , 'ENVIRONMENT')
call LoadPackage
call Check 'before connect', KTCurTimeStamp(), '0'
call ConnectServer

/* Style 0 (mon dd yyyy hh:miAM): no argument, 0, and every argument that is
   not a decimal number of 1 to 9 digits. */
months = 'Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec'
do i = 1 to 7
  style = word("'' 0 'abc' '1234567890' '+1' '1.0' copies('9',100000)", i)
  interpret 'answer = KTCurTimeStamp('style')'
  parse var answer month day year clock
  ok = wordpos(month, months) > 0 & datatype(day, 'W') & length(year) = 4,
       & wordpos(right(clock, 2), 'AM PM') > 0 & length(answer) <= 19
  call Check 'style 0 from' style': ['answer']', ok, '1'
end
call Check 'no argument', Shape(KTCurTimeStamp()), Shape(KTCurTimeStamp(0))

/* The server's styles: the text without the blanks char(26) pads it with,
   and the server's date. */
styles = '120=9999-99-99 99:99:99|121=9999-99-99 99:99:99.999|23=9999-99-99|',
         '112=99999999|108=99:99:99|101=99/99/9999|1=99/99/99|',
         '126=9999-99-99A99:99:99.999'
do while styles \= ''
  parse var styles style '=' shape '|' styles
  style = strip(style)
  before = date('S')
  answer = KTCurTimeStamp(style)
  after = date('S')
  /* 126 leaves the milliseconds out when they are 0. */
  if style = 126 & length(answer) = 19 then shape = left(shape, 19)
  call Check 'style' style': ['answer']', Shape(answer), Shape(shape)
  if style = 120 then do
    today = left(answer, 4)substr(answer, 6, 2)substr(answer, 9, 2)
    call Check 'style 120: the date', today = before | today = after, '1'
  end
end
call Check 'style 23: no blanks behind', length(KTCurTimeStamp(23)), '10'
/* Style 109 fills all 26 characters of char(26) (day and hour padded with
   blanks: mon dd yyyy hh:mi:ss:mmmAM). */
answer = KTCurTimeStamp(109)
parse var answer month day year clock
call Check 'style 109: ['answer']', length(answer) (wordpos(month, months) > 0),
  Shape(right(clock, 12)), '26 1' Shape(':99:99:999AM')

/* A style the server refuses: the empty result, and the KT.! variables as
   the previous publishing call left them. */
call Check 'rejected', KTSelectData('select * from nosuch', 'r.'), '1'
call Check 'rejected: KT.!MSGNO', kt.!msgno, '208'
call Check 'style -1', KTCurTimeStamp(-1), ''
call Check 'style 99999', KTCurTimeStamp(99999), ''
call Check 'KT.! untouched', kt.!msgno, '208'
kt.!dberr = 'mine'
call Check 'KT.! untouched by a good call', (KTCurTimeStamp(120) \== '') kt.!dberr, '1 mine'
call Check 'refused style, then a good one', Shape(KTCurTimeStamp(-1)KTCurTimeStamp(23)),,
  Shape('2000-01-01')

/* Rows an earlier call left unread, or statement text it never sent, do
   not disturb the query. */
call Check 'rows left', KTSelectData('select 1 union all select 2', 'r.'), '1'
call Check 'after rows left', Shape(KTCurTimeStamp(23)), Shape('2000-01-01')
call Check 'and the next call', KTSelectOne('select 7'), '7'

/* The server is gone: every call answers, nothing crashes, and the
   connection can still be reset. */
address system 'kill -KILL' serverPid
call Check 'gone: KTCurTimeStamp', KTCurTimeStamp(120), ''
c.0 = 'x'
call Check 'gone: KTSelectCols', KTSelectCols('select 1', 'c.'), '1'
call Check 'gone: KTSelectCols C.0', c.0, '0'
call Check 'gone: the connection is dead', kt.!dberr, '20047'
f.0 = 'x'
call Check 'gone: KTSelectForm', KTSelectForm('select 1', 'f.'), '1'
call Check 'gone: KTSelectForm F.0', f.0 symbol('F.0.0'), '0 LIT'
call Check 'gone: KTCurTimeStamp again', KTCurTimeStamp(), ''
call Check 'reset', KTConnectReset(), '1'
call Check 'after reset', KTCurTimeStamp(), '0'
call Check 'drop', KTDropFuncs(), '1'
exit CheckSummary()

/* The shape of a text: digits as 9, letters as A. */
Shape: procedure
  parse arg text
  return translate(text, copies('9', 10) || copies('A', 52),,
    '0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ')
