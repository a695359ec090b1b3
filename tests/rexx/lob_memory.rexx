/* The large-object functions stream: a 256 MiB file goes into an image
   value and back out, while the interpreter's own memory (VmHWM, VmRSS of
   this regina process, read from /proc) is watched: each function may grow
   the process by less than 8 MiB (KTLOB2File reads the value in pieces with
   readtext, so the client library never holds it whole). The file is made
   and compared by the shell, outside this process. */
size = 256 * 1048576
big = '/tmp/ktdb-lob-memory.' || random(1, 99999)
/* The big files are removed whatever happens. */
signal on syntax name Broken
call LoadPackage
call ConnectServer
call Setup 'create table m (id int, i image null)',,
           'insert into m values (1, 0x00)'
address system 'head -c' size '/dev/urandom >' big'.in'

call Watched 'KTFile2LOB', "KTFile2LOB(big'.in', 'm', 'i', 'id = 1')", '256 MiB in'
call Check '256 MiB in: length', KTSelectOne('select datalength(i) from m where id = 1'), size
call Watched 'KTLOB2File', "KTLOB2File(big'.out', 'm', 'i', 'id = 1')", '256 MiB out'
address system 'cmp -s' big'.in' big'.out'
call Check '256 MiB: identical', rc, '0'

call Check 'reset', KTConnectReset(), '1'
call KTDropFuncs
address system 'rm -f' big'.in' big'.out'
exit CheckSummary()

Broken:
  say 'FAIL REXX error' rc 'in line' sigl
  address system 'rm -f' big'.in' big'.out'
  exit 1

/* call Watched function, call, what: the call (an expression) checked as
   what to answer "1", while the process's peak memory is watched: its
   growth is said and checked to stay below 8 MiB. */
Watched:
  parse arg watched.function, watched.call, watched.what
  call ResetPeak
  watched.before = Memory('VmRSS')
  interpret 'watched.answer =' watched.call
  watched.growth = Memory('VmHWM') - watched.before
  call Check watched.what, watched.answer, '1'
  say watched.function 'of 256 MiB: peak growth' watched.growth 'kB'
  call Check watched.function 'grows the process by less than 8 MiB', watched.growth < 8192, '1'
  return

/* A field of /proc/self/status in kB: this process is the interpreter. */
Memory: procedure
  parse arg field
  file = '/proc/self/status'
  value = ''
  /* The file reports no size, so lines() cannot be trusted: read until
     the stream runs dry. */
  do 200
    line = linein(file)
    if line == '' & stream(file, 's') \= 'READY' then leave
    parse var line name ':' amount 'kB'
    if name == field then value = strip(amount)
  end
  call stream file, 'c', 'close'
  return value

/* Writing 5 to clear_refs starts the peak (VmHWM) again from the current
   size; should the kernel refuse, the peak so far is at most the current
   size plus what earlier checks already allowed. */
ResetPeak: procedure
  call charout '/proc/self/clear_refs', '5'
  call stream '/proc/self/clear_refs', 'c', 'close'
  return
