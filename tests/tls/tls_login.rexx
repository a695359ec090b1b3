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
select
  /* Two rows of many: the rest is cancelled (an attention), and the
     connection goes on. */
  when value('KTDB_TLS_EXTRA', , 'ENVIRONMENT') = 'cancel' then do
    n = KTSelectData('select n from big order by n', 's.', 2)
    say 'CANCEL' n s.0 s.1.1 s.2.1
    say 'AFTER' KTSelectOne('select count(*) from big')
  end
  /* All rows, over a connection that spoils them on the way. */
  when value('KTDB_TLS_EXTRA', , 'ENVIRONMENT') = 'all' then do
    call time 'R'
    n = KTSelectData('select n from big order by n', 's.', 100000)
    say 'ALL' n s.0 kt.!dberr format(time('E'), , 1)
    say 'ALLERR' kt.!dberrstr
    call time 'R'
    v = KTSelectOne('select count(*) from big')
    say 'ONE' v kt.!dberr format(time('E'), , 1)
    /* Again on a new connection, formatted. */
    call KTConnectReset
    if KTConnect(user, password, server, 5) = 1 then do
      call time 'R'
      n = KTSelectForm('select n from big order by n', 'f.', 100000)
      say 'FORM' n f.0 kt.!dberr format(time('E'), , 1)
    end
    /* And once more as a batch: the broken set does not read as a success. */
    call KTConnectReset
    if KTConnect(user, password, server, 5) = 1 then do
      b.0 = 1; b.1 = 'select n from big order by n'
      n = KTBatch('b.', 'r.')
      say 'BATCH' n r.0 r.1 r.1.0 kt.!dberr
    end
  end
  otherwise nop
end
say 'RESET' KTConnectReset()
exit 0
