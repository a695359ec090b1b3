/* The REXX side of the floor of a wide result: as many stem assignments of
   values of the same kind as wide.rexx stores for N columns; prints the
   seconds.  Usage: regina wide_assignments.rexx N */
parse arg width .
rows = 100000 % width
do j = 1 to width
  if j // 2 = 1 then v.j = 1234500 + j
  else v.j = 'v'j'.12345'
end
call time 'R'
do i = 1 to rows
  do j = 1 to width
    r.i.j = v.j
  end
end
r.0 = rows
say time('E')
exit 0
