/* RexxKTDB demo: load the package, write a small HTML page with KTH, drop
   the package. Argument: the file to write (default demo.htm). */
parse arg page
if page = '' then page = 'demo.htm'

call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
if KTLoadFuncs() \= '1' then do
  say 'the package was already loaded'
  exit 1
end

/* KTH appends to the file: start from an empty one. */
if stream(page, 'c', 'query exists') \== '' then address system 'rm -f "'page'"'

call KTH page, 1, '<!DOCTYPE html>'
call KTH page, 1, '<html><head><meta charset="utf-8"><title>RexxKTDB demo</title></head><body>'
call KTH page, 1, 'RexxKTDB demo', 'h1'
call KTH page, 1, 'Written line by line from REXX with KTH.', 'p'
call KTH page, 1, '<table border="1">'
call KTH page, , '<tr>'
call KTH page, , 'Function', 'th'
call KTH page, , 'Result after KTLoadFuncs', 'th'
call KTH page, 1, '</tr>'
functions = 'KTConnectReset KTSelectOne KTCurTimeStamp'
do i = 1 to words(functions)
  name = word(functions, i)
  /* Not connected yet: each refuses, "0" or the empty string. */
  interpret 'answer =' name'()'
  call KTH page, , '<tr>'
  call KTH page, , name, 'td'
  call KTH page, , '"'answer'"', 'td align=right'
  call KTH page, 1, '</tr>'
end
call KTH page, 1, '</table>'
call KTH page, 1, 'KT.!DBERR after loading: 'kt.!dberr, 'p'
call KTH page, 1, '</body></html>'

call KTDropFuncs
say 'wrote' page
exit 0
