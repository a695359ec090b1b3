/* The package side of the large-object benchmark: one KTFile2LOB ("in") or
   KTLOB2File ("out") of the value of lobbench row 1; prints seconds. */
parse arg server direction file
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call KTLoadFuncs
if KTConnect('bench', 'bench', server) \= '1' then exit 1
call time 'R'
if direction == 'in' then done = KTFile2LOB(file, 'lobbench', 'img', 'id = 1')
else done = KTLOB2File(file, 'lobbench', 'img', 'id = 1')
elapsed = time('E')
why = kt.!msgno kt.!msgtext kt.!dberrstr kt.!oserrstr
call KTConnectReset
call KTDropFuncs
if done \== '1' then do
  say why
  exit 1
end
say format(elapsed, , 3)
exit 0
