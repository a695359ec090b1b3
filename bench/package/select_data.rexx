/* KTSelectData of the whole table b into a stem; prints the seconds. */
parse arg server
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call KTLoadFuncs
if KTConnect('bench', 'bench', server) \= '1' then exit 1
call time 'R'
call KTSelectData 'select id, name, x, at, amount from b', 'r.', 100000
seconds = time('E')
if r.0 \= 100000 | r.0.0 \= 5 then do
  say 'select_data: got' r.0 'rows of' r.0.0 'columns' kt.!msgtext
  exit 1
end
say seconds
call KTConnectReset
exit 0
