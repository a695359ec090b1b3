/* KTH through the real interpreter: every package state, the four forms,
   and the incorrect calls that must leave the file system alone.
   Argument: a writable directory for the files. */
parse arg dir
if dir = '' then dir = '.'
lib = 'rexxktdb'
nl = '0a'x
page = dir'/kth_page.htm'
call Remove page

/* Before KTLoadFuncs (the script registers KTH itself). */
call RxFuncAdd 'KTH', lib, 'KTH'
call Check 'unloaded', KTH(page, 1, 'Total', 'td align=right'), page
call RxFuncAdd 'KTLoadFuncs', lib, 'KTLoadFuncs'
call Check 'load', KTLoadFuncs(), '1'
/* Loaded: the four forms, the second one continuing on the same line. */
call Check 'tag, no line end', KTH(page, '', 'Total', 'b'), page
call Check 'tag, omitted line end', KTH(page, , ':', 'i'), page
call Check 'text, line end', KTH(page, 'x', ' 5'), page
call Check 'text alone', KTH(page, , 'a<&>b'), page
call Check 'line end "0", empty text', Try("KTH(page, '0', '')", 'page', page), 'ERROR 40'
call Check 'blank text', KTH(page, '0', ' '), page
call Check 'contents', Contents(page),,
  '<TD ALIGN=RIGHT>Total</TD>'nl'<B>Total</B><I>:</I> 5'nl'a<&>b 'nl
call Check 'drop', KTDropFuncs(), '1'
/* After KTDropFuncs, registered by the script itself again. */
call RxFuncAdd 'KTH', lib, 'KTH'
call Check 'dropped', KTH(page, 1, 'end'), page
call Check 'contents after drop', right(Contents(page), 4), 'end'nl

/* Incorrect calls: REXX error 40, and no file is created. */
other = dir'/kth_other.htm'
call Remove other
long = dir'/'copies('n', 254 - length(dir))  /* 255 characters */
call Check 'name of 256 characters', Try("KTH(long'x', 1, 'text')", 'long', long), 'ERROR 40'
call Check 'file of 256 characters', Exists(long'x'), 0
call Check 'closing tag of 20 characters', Try("KTH(other, 1, 'text', 'abcdefghijklmnopqrst x')", 'other', other), 'ERROR 40'
call Check 'missing text', Try("KTH(other, 1)", 'other', other), 'ERROR 40'
call Check 'empty text', Try("KTH(other, 1, '')", 'other', other), 'ERROR 40'
call Check 'empty name', Try("KTH('', 1, 'text')"), 'ERROR 40'
call Check 'no arguments', Try("KTH()"), 'ERROR 40'
call Check 'name with a NUL byte', Try("KTH(other || '00'x || 'x', 1, 'text')", 'other', other), 'ERROR 40'
call Check 'nothing created', Exists(other), 0
call Check 'missing directory', Try("KTH(dir'/no/such/dir/page.htm', 1, 'text')", 'dir', dir), 'ERROR 40'
call Check 'a directory', Try("KTH(dir, 1, 'text')", 'dir', dir), 'ERROR 40'
/* The next call is served normally; the longest name and tag fit. */
call Check 'name of 255 characters', Try("KTH(long, '', 'ok', 'abcdefghijklmnopqrs x')", 'long', long), long
call Check 'contents of 255', Contents(long), '<ABCDEFGHIJKLMNOPQRS X>ok</ABCDEFGHIJKLMNOPQRS>'
call Remove long

exit CheckSummary()

Contents: procedure
  parse arg file
  text = charin(file, 1, chars(file))
  call stream file, 'c', 'close'
  return text

Exists: procedure
  parse arg file
  return stream(file, 'c', 'query exists') \== ''

Remove: procedure
  parse arg file
  if stream(file, 'c', 'query exists') \== '' then address system 'rm -f "'file'"'
  return
