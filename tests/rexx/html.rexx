/* KTHTML against a tdslite of the test's own, started with a file root
   (KTDB_FILE_ROOT) under which its web tasks write their pages. The exact
   text of every composed call is checked by the unit tests
   (tests/web/html_compose_test.cc); this script checks what reaches the
   server and what it makes of it. */
root = value('KTDB_FILE_ROOT', , 'ENVIRONMENT')
page = root'/daily.htm'
call LoadPackage
call Check 'refused before connecting', KTHTML('web'), '0'
call ConnectServer
call Setup 'create table staff (name varchar(20))',,
           "insert into staff values ('Alice')",,
           "insert into staff values ('Bob <&>')"
address system 'rm -f "'page'"'

/* A task is made and run at once: the page holds the query's rows. */
web.!procname = 'daily'
web.!outputfile = page
web.!query = 'select name from staff order by name'
web.!bold = 1
web.!webpagetitle = 'Staff'
call Check 'make', KTHTML('web'), '1'
call Check 'make: KT.!', kt.!msgno kt.!dberr, '0 0'
html = ReadFile(page)
call Check 'make: page', pos('Alice', html) > 0 & pos('Bob &lt;&amp;&gt;', html) > 0, '1'
call Check 'make: title', pos('Staff', html) > 0, '1'

/* Run by name (no option), by output file and by both: the page is
   written again each time. */
options = '. o B'
do k = 1 to words(options)
  option = word(options, k)
  if option == '.' then answer = KTHTML('WEB.', 'run')
  else answer = KTHTML('WEB.', 'Run', option)
  call Check 'run' option, answer, '1'
  call Check 'run' option': KT.!MSGNO', kt.!msgno, '0'
end
address system 'rm -f "'page'"'
call Check 'run again', KTHTML('web', 'RUN', 'p'), '1'
call Check 'run again: page', pos('Alice', ReadFile(page)) > 0, '1'

/* Drop removes the task: running it afterwards draws the server's error,
   while the call itself still answers 1. */
call Check 'drop', KTHTML('web', 'drop'), '1'
call Check 'drop: KT.!MSGNO', kt.!msgno, '0'
call Check 'run after drop', KTHTML('web', 'run'), '1'
call Check 'run after drop: reported', kt.!msgno \= '0', '1'

/* Quotes inside a quoted value reach the server as the script wrote them:
   the package doubles them. */
quoted.!outputfile = root"/bob's.htm"
quoted.!query = "select name from staff where name like 'Bob%'"
quoted.!webpagetitle = "Bob's report"
call Check 'quotes', KTHTML('quoted', 'Make'), '1'
call Check 'quotes: KT.!', kt.!msgno kt.!dberr, '0 0'
html = ReadFile(root"/bob's.htm")
call Check 'quotes: page', pos('Bob', html) > 0 & pos('Alice', html) = 0, '1'
call Check 'quotes: title', pos("Bob's report", html) > 0, '1'
call Check 'quotes: dropped', KTHTML('quoted', 'drop', 'o'), '1'
call Check 'quotes: dropped, KT.!', kt.!msgno, '0'
/* A crafted value stays a value: no other statement runs. */
crafted.!outputfile = root'/crafted.htm'
crafted.!query = 'select name from staff'
crafted.!webpagetitle = "x',@query='select 1'; drop table staff; --"
call Check 'crafted', KTHTML('crafted'), '1'
call Check 'crafted: table kept', KTSelectOne('select count(*) from staff'), '2'
call Check 'crafted: title as given', pos("drop table staff", ReadFile(root'/crafted.htm')) > 0, '1'
call KTHTML 'crafted', 'drop', 'o'
/* A bare parameter must be a number: "0", nothing sent, the reason named. */
crafted.!bold = '1; drop table staff'
call Check 'not a number', KTHTML('crafted'), '0'
call Check 'not a number: DBERR', kt.!dberr, '20050'
call Check 'not a number: named', pos('CRAFTED.!BOLD', kt.!dberrstr) > 0, '1'
call Check 'not a number: table kept', KTSelectOne('select count(*) from staff'), '2'
crafted.!bold = 'yes'
call Check 'not a number: word', KTHTML('crafted'), '0'
crafted.!bold = -1
call Check 'negative number', KTHTML('crafted'), '1'
call KTHTML 'crafted', 'drop', 'o'

/* A value left empty, or holding its own name, is not set. */
unset.!outputfile = root'/unset.htm'
unset.!query = 'select name from staff'
unset.!bold = ''
unset.!italic = 'UNSET.!ITALIC'
call Check 'self-named and empty', KTHTML('unset'), '1'
call Check 'self-named and empty: KT.!MSGNO', kt.!msgno, '0'
call KTHTML 'unset', 'drop', 'o'

/* An action other than make, run and drop makes a task without name and
   output file, which the server refuses for want of the output file. */
call Check 'other action', KTHTML('web', 'create'), '1'
call Check 'other action: reported', kt.!msgno \= '0', '1'

/* A call ended with 0 sends nothing: what was composed before the missing
   variable never reaches the server. */
drop web.!outputfile
call Check 'no output file', KTHTML('web'), '0'
call Check 'no output file: next statement', KTSelectOne('select 11'), '11'
web.!outputfile = page
drop web.!query
call Check 'no query', KTHTML('web', 'make'), '0'
call Check 'no query: next statement', KTSelectOne('select 12'), '12'
call Check 'no query needed to drop', KTHTML('web', 'drop'), '1'
/* A stem the interpreter cannot name variables with (RXSHV_BADN). */
call Check 'bad stem', KTHTML('a b'), '0'
call Check 'bad stem: next statement', KTSelectOne('select 13'), '13'

/* Incorrect calls: every text must fit its field. */
call Check 'no stem', Try("KTHTML()"), 'ERROR 40'
call Check 'stem of 255 and its period', Try("KTHTML(copies('s', 255))"), 'ERROR 40'
call Check 'stem of 254', KTHTML(copies('s', 254)), '0'
/* Try sees only the variables given to it: the stem's, as they are here. */
call Check 'action of 16', Try("KTHTML('web', copies('m', 16))", 'web.!procname', web.!procname, 'web.!outputfile', web.!outputfile,,
  'web.!bold', web.!bold, 'web.!webpagetitle', web.!webpagetitle), 'ERROR 40'
call Check 'option of 2 to run', Try("KTHTML('web', 'run', 'pp')", 'web.!procname', web.!procname, 'web.!outputfile', web.!outputfile,,
  'web.!bold', web.!bold, 'web.!webpagetitle', web.!webpagetitle), 'ERROR 40'
web.!query = 'select 1'
web.!webpagetitle = copies('t', 40000)
call Check 'value too long', Try("KTHTML('web')", 'web.!query', web.!query, 'web.!procname', web.!procname, 'web.!outputfile', web.!outputfile,,
  'web.!bold', web.!bold, 'web.!webpagetitle', web.!webpagetitle), 'ERROR 40'
call Check 'served after 40', KTSelectOne('select 14'), '14'

call Check 'reset', KTConnectReset(), '1'
call Check 'refused after reset', KTHTML('web'), '0'
call KTDropFuncs
address system 'rm -rf "'root'"'
exit CheckSummary()
