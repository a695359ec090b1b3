/* One login through the package as the TLS tests ask for it: prints what
   the driver (package_tls.py) checks, one item a line.
   Arguments: USER PASSWORD SERVER QUERY (the query last: it has blanks). */
parse arg user password server query
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call KTLoadFuncs
call time 'R'
connected = KTConnect(user, password, server, 5)
say 'CONNECT' connected
say 'SECONDS' format(time('E'), , 1)
say 'MSGNO' kt.!msgno
say 'MSGTEXT' kt.!msgtext
say 'DBERR' kt.!dberr
say 'DBERRSTR' kt.!dberrstr
if connected \= 1 then exit 0
rows = KTSelectData(query, 'r.', 100)
say 'ROWS' rows r.0
do i = 1 to r.0
  say 'ROW' i r.i.1 r.i.2
end
call KTSelectCols 'select cast(1 as bigint) as b', 'c.'
say 'BIGINT' c.1
say 'RESET' KTConnectReset()
exit 0
