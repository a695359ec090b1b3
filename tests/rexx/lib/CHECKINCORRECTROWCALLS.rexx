/* call CheckIncorrectRowCalls function
   The calls a row function (KTSelectData, KTSelectForm) refuses as
   incorrect (REXX error 40): a missing stem, an empty statement, a
   statement beyond 32767 bytes or holding a NUL byte, a stem too long for
   its buffer. */
parse arg function
call Check 'no stem', Try(function"('select 1')"), 'ERROR 40'
call Check 'empty statement', Try(function"('', 'r.')"), 'ERROR 40'
call Check 'statement too long', Try(function"('select' copies(' ', 32767), 'r.')"), 'ERROR 40'
call Check 'NUL in statement', Try(function"('select 1' || '00'x, 'r.')"), 'ERROR 40'
call Check 'stem too long', Try(function"('select 1', copies('S', 32760)'.')"), 'ERROR 40'
return
