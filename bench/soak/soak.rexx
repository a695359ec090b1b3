/* Soak: a long run of mixed calls against one tdslite. The interpreter's
   resident memory and open descriptors after the first 10,000 calls and at
   the end are printed; the run fails when the descriptors differ or the
   memory grew by more than the allowance (a leak of a few bytes per call
   shows as megabytes by the end).
   Arguments: total calls (default 1000000), allowed growth in KiB
   (default 1024). */
parse arg total allowance .
if total = '' then total = 1000000
if allowance = '' then allowance = 1024
server = value('KTDB_SERVER', , 'ENVIRONMENT')
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call KTLoadFuncs
if KTConnect('ktdb', 'secret', server) \= '1' then call Fail 'connect'
if KTSelectData('create table soak (a int, b varchar(30))', 'r.') \= '1' then call Fail 'create'
do i = 1 to 20
  call KTSelectData "insert into soak values ("i", 'row" i"')", 'r.'
end
b.0 = 2
b.1 = 'select a, b from soak where a < 4'
b.2 = 'select count(*) from soak'
calls = 0
first = ''
do while calls < total
  select
    when calls // 7 = 0 then answer = KTSelectData('select a, b from soak', 'r.', 20)
    when calls // 7 = 1 then answer = KTSelectOne('select max(a) from soak')
    when calls // 7 = 2 then answer = KTBatch('b.', 'res.')
    when calls // 7 = 3 then answer = KTSelectCols('select a, b from soak', 'c.')
    when calls // 7 = 4 then answer = KTSelectForm('select a, b from soak', 'f.', 5)
    when calls // 7 = 5 then answer = KTCurTimeStamp()
    otherwise answer = KTSelectData('select * from no_such_table', 'r.')
  end
  calls = calls + 1
  if calls // 7 = 2 & answer \= '20' then call Fail 'KTSelectOne answered' answer
  if calls = 10000 | (calls = total & total < 10000) then first = Usage()
  if calls // 100000 = 0 then say calls 'calls' Usage()
end
last = Usage()
call KTConnectReset
say 'after' min(10000, total) 'calls: rss_kib fds =' first
say 'after' total 'calls: rss_kib fds =' last
parse var first rss1 fds1
parse var last rss2 fds2
if fds2 \= fds1 then call Fail 'open descriptors went from' fds1 'to' fds2
if rss2 - rss1 > allowance then call Fail 'resident memory grew by' rss2 - rss1 'KiB'
say 'soak passed'
exit 0

/* The interpreter's resident memory (KiB) and open descriptors. */
Usage: procedure
  pid = getpid()
  address system 'awk ''/^VmRSS/ {print $2}'' /proc/'pid'/status; ls /proc/'pid'/fd | wc -l',
    with output stem out.
  return strip(out.1) strip(out.2)

Fail:
  say 'FAIL' arg(1)
  exit 1
