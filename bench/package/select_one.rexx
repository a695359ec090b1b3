/* N calls of KTSelectOne('select 1'); prints the seconds. */
parse arg server rounds
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call KTLoadFuncs
if KTConnect('bench', 'bench', server) \= '1' then exit 1
call time 'R'
do rounds
  if KTSelectOne('select 1') \== '1' then exit 1
end
say time('E')
call KTConnectReset
exit 0
