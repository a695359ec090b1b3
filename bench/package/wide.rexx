/* A wide result into a stem: KTSelectData or KTBatch of the table wN
   (100,000 values in N columns); prints the seconds.
   Usage: regina wide.rexx SERVER select|batch N */
parse arg server how width .
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call KTLoadFuncs
if KTConnect('bench', 'bench', server) \= '1' then exit 1
rows = 100000 % width
if how = 'select' then do
  call time 'R'
  call KTSelectData 'select * from w'width, 'r.', rows
  seconds = time('E')
  ok = r.0 = rows & r.0.0 = width
  last = r.rows.width
end
else do
  s.0 = 1; s.1 = 'select * from w'width
  call time 'R'
  call KTBatch 's.', 'r.'
  seconds = time('E')
  ok = r.0 = 1 & r.1.0 = rows & r.1.0.0 = width
  last = r.1.rows.width
end
/* The last value of the last row must be exactly what the table holds for
   that row, whose number n its first value tells (n * 100 + 1). */
if how = 'select' then first = r.rows.1
else first = r.1.rows.1
n = (first - 1) % 100
expected = n * 100 + width
if width // 2 = 0 then expected = 'v'width'.'n
if \ ok | last \== expected then do
  say 'wide' how width': got' r.0 'rows, last value "'last'" not "'expected'"' kt.!msgtext
  exit 1
end
say seconds
call KTConnectReset
exit 0
