/* The floor of any REXX package: the same 500,000 stem assignments with
   values of the same kind, no database involved; prints the seconds. */
v.1 = 12345; v.2 = 'name 345'; v.3 = '0.14285714285714285'
v.4 = 'Jan 15 2024 10:03:00:333AM'; v.5 = '975.00'
call time 'R'
do i = 1 to 100000
  do j = 1 to 5
    r.i.j = v.j
  end
end
r.0 = 100000
say time('E')
exit 0
