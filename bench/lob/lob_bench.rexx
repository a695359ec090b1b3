/* The package side of the large-object benchmark: one KTFile2LOB ("in") or
   KTLOB2File ("out") of the value of lobbench row 1; prints seconds and the
   interpreter process's peak memory growth during the call in kB (VmHWM
   after the call less VmRSS before it, the peak reset first). */
parse arg server direction file
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call KTLoadFuncs
if KTConnect('bench', 'bench', server) \= '1' then exit 1
call charout '/proc/self/clear_refs', '5'
call stream '/proc/self/clear_refs', 'c', 'close'
before = Memory('VmRSS')
call time 'R'
if direction == 'in' then done = KTFile2LOB(file, 'lobbench', 'img', 'id = 1')
else done = KTLOB2File(file, 'lobbench', 'img', 'id = 1')
elapsed = time('E')
growth = Memory('VmHWM') - before
why = kt.!msgno kt.!msgtext kt.!dberrstr kt.!oserrstr
call KTConnectReset
call KTDropFuncs
if done \== '1' then do
  say why
  exit 1
end
say format(elapsed, , 3) growth
exit 0

/* A field of /proc/self/status in kB. */
Memory: procedure
  parse arg field
  file = '/proc/self/status'
  value = ''
  do 200
    line = linein(file)
    if line == '' & stream(file, 's') \= 'READY' then leave
    parse var line name ':' amount .
    if name == field then do
      value = amount
      leave
    end
  end
  call stream file, 'c', 'close'
  return value
