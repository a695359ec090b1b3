/* call Setup statement [, statement]...
   Runs the statements as one KTBatch, checked as "setup": the tables and
   rows a script starts from. */
do i = 1 to arg()
  c.i = arg(i)
end
c.0 = arg()
call Check 'setup', KTBatch('c.', 'r.'), '1'
return
