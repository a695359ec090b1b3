/* call CheckRowLimits call, stem, cases
   The row limit of a row function: for each case "limit=count" of cases
   (separated by "|"), the call (an expression with @ where the limit goes,
   storing into stem) answers 1 and stores count rows (stem.0), checked as
   "limit <limit>". The stem is this routine's own, dropped before each
   call. */
parse arg template, stem, cases
do while cases \= ''
  parse var cases limit '=' count '|' cases
  parse var template before '@' after
  interpret 'drop' stem
  interpret 'answer =' before || limit || after
  call Check 'limit' limit, answer value(stem'0'), '1' count
end
return
