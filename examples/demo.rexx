/* RexxKTDB demo: log in to the server, create and fill a small table, read
   it back with KTSelectData, KTSelectCols, KTSelectForm, KTSelectOne and
   KTBatch, ask the server for its time, print what came back, and write it
   as an HTML page with KTH. Then store a file in an image column with
   KTFile2LOB, copy it back out with KTLOB2File and compare the two, and
   have the server write a web page of the table with KTHTML.
   Arguments: the page to write (default demo.htm), the server (host:port),
   the page the server's web task writes (default webtask.htm; it must lie
   under the server's file root). */
parse arg page server webpage
if page = '' then page = 'demo.htm'
if server = '' then server = '127.0.0.1:1433'
if webpage = '' then webpage = 'webtask.htm'

call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
if KTLoadFuncs() \= '1' then do
  say 'the package was already loaded'
  exit 1
end

if KTConnect('demo', 'demo', server, 5) \= '1' then do
  say 'login failed:' kt.!msgno kt.!msgtext '/' kt.!dberr kt.!dberrstr
  exit 1
end
say 'connected to' server '('kt.!msgtext')'

/* One batch creates and fills the table. */
setup.0 = 5
setup.1 = 'create table fruit (id int, name varchar(20), price decimal(6,2), picked datetime, note nvarchar(30))'
setup.2 = "insert into fruit values (1, 'apple', 0.45, '2024-09-12 08:30', N'crisp')"
setup.3 = "insert into fruit values (2, 'pear', 0.60, '2024-09-20 14:05', NULL)"
setup.4 = "insert into fruit values (3, 'quince', 1.25, '2024-10-02 11:00', N'für Gelee €')"
setup.5 = "insert into fruit values (4, 'fig', 2.10, '2024-08-30 17:45', N'')"
if KTBatch('setup.', 'done.') \= '1' | kt.!msgno > 0 then do
  say 'setup failed:' kt.!msgno kt.!msgtext
  exit 1
end
say 'created table fruit and inserted' done.0 - 1 'rows'

/* KTSelectData: every row into a stem, NULL shown as "-". */
query = 'select id, name, price, picked, note from fruit order by id'
call KTSelectData query, 'rows.', 100, '-'
say
say 'KTSelectData:' rows.0 'rows of' rows.0.0 'columns'
do i = 1 to rows.0
  line = ''
  do j = 1 to rows.0.0
    line = line '|' rows.i.j
  end
  say ' ' strip(line)
end

/* KTSelectCols: what the columns of the query are. */
call KTSelectCols query, 'cols.'
say
say 'KTSelectCols:' cols.0 'columns'
do j = 1 to cols.0
  say ' ' cols.j
end

/* KTSelectForm: the same rows as a table ready to print, NULL shown as
   "-"; numbers stand right, everything else left. */
call KTSelectForm query, 'form.', 100, '-'
say
say 'KTSelectForm:' form.0 'rows'
say ' ' form.0.0
do i = 1 to form.0
  say ' ' form.i
end

/* KTCurTimeStamp: the server's clock, in its date style 120. */
say
say 'KTCurTimeStamp: the server time is' KTCurTimeStamp(120)

/* KTSelectOne: a single value as the function's result. */
say
say 'KTSelectOne: the dearest fruit is',
    KTSelectOne('select name from fruit where price = (select max(price) from fruit)')
say 'KTSelectOne: rows in fruit:' KTSelectOne('select count(*) from fruit')

/* KTBatch: several statements, every result set reported. */
batch.0 = 3
batch.1 = "update fruit set price = price * 2 where name = 'fig'"
batch.2 = 'select name, price from fruit where price > 1 order by price'
batch.3 = 'select count(*) from fruit where note is null'
call KTBatch 'batch.', 'res.'
say
say 'KTBatch:' res.0 'result sets'
do n = 1 to res.0
  say '  set' n': status' res.n', count' res.n.0', columns' res.n.0.0
  do r = 1 to res.n.0 while res.n.0.0 > 0
    line = ''
    do j = 1 to res.n.0.0
      line = line '|' res.n.r.j
    end
    say '   ' strip(line)
  end
end

/* KTFile2LOB and KTLOB2File: a file of every byte value (zeros and line
   ends included) into an image column and back out. The row needs a value
   first: a NULL value has no text pointer to write through. */
picture = 'demo-picture.bin'
copy = 'demo-picture.out'
address system 'rm -f "'picture'" "'copy'"'
call charout picture, copies(xrange('00'x, 'FF'x), 12), 1
call stream picture, 'c', 'close'
lob.0 = 2
lob.1 = 'create table pictures (id int, img image null)'
lob.2 = 'insert into pictures values (1, 0x00)'
call KTBatch 'lob.', 'lobres.'
say
stored = KTFile2LOB(picture, 'pictures', 'img', 'id = 1')
if stored == '1' then
  say 'KTFile2LOB: stored' stream(picture, 'c', 'query size') 'bytes; the server holds',
      KTSelectOne('select datalength(img) from pictures where id = 1')
else
  say 'KTFile2LOB: not stored:' kt.!msgno kt.!msgtext kt.!dberrstr kt.!oserrstr
copied = KTLOB2File(copy, 'pictures', 'img', 'id = 1')
if copied == '1' then do
  original = charin(picture, 1, stream(picture, 'c', 'query size'))
  back = ''
  if stream(copy, 'c', 'query size') > 0 then
    back = charin(copy, 1, stream(copy, 'c', 'query size'))
  call stream picture, 'c', 'close'
  call stream copy, 'c', 'close'
  if back == original then say 'KTLOB2File: copied back' length(back) 'bytes, identical to the file'
  else say 'KTLOB2File: copied back' length(back) 'bytes, which differ from the file'
end
else say 'KTLOB2File: not copied:' kt.!msgno kt.!msgtext kt.!oserrstr
address system 'rm -f "'picture'" "'copy'"'

/* KTHTML: the server itself writes a page of the table as a web task,
   made (and run at once), then dropped again. */
web.!procname = 'fruitpage'
web.!outputfile = webpage
web.!query = 'select name, price from fruit order by name'
web.!webpagetitle = 'Fruit'
web.!resultstitle = 'Fruit and prices'
web.!bold = 1
say
call KTHTML 'web'
if kt.!msgno = 0 then say 'KTHTML: the server wrote' webpage
else say 'KTHTML: the server answered' kt.!msgno kt.!msgtext
call KTHTML 'web', 'drop'

/* The page: KTH appends, so start from an empty file. */
if stream(page, 'c', 'query exists') \== '' then address system 'rm -f "'page'"'
call KTH page, 1, '<!DOCTYPE html>'
call KTH page, 1, '<html><head><meta charset="utf-8"><title>RexxKTDB demo</title></head><body>'
call KTH page, 1, 'RexxKTDB demo', 'h1'
call KTH page, 1, 'Rows read with KTSelectData, written line by line with KTH.', 'p'
call KTH page, 1, '<table border="1">'
call KTH page, , '<tr>'
do j = 1 to words('id name price picked note')
  call KTH page, , word('id name price picked note', j), 'th'
end
call KTH page, 1, '</tr>'
do i = 1 to rows.0
  call KTH page, , '<tr>'
  do j = 1 to rows.0.0
    /* KTH needs a text: an empty value becomes a non-breaking space. */
    cell = rows.i.j
    if cell == '' then cell = '&nbsp;'
    call KTH page, , cell, 'td'
  end
  call KTH page, 1, '</tr>'
end
call KTH page, 1, '</table>'
call KTH page, 1, 'Rows in the table (KTSelectOne):' KTSelectOne('select count(*) from fruit'), 'p'
call KTH page, 1, '</body></html>'

call KTConnectReset
call KTDropFuncs
say
say 'wrote' page
exit 0
