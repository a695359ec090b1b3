/* Loads files into the image column data of the table files (id, name,
   data), then copies each value back out into a folder and checks that the
   copy holds the same bytes as the file.
   Usage: regina load_files.rexx SERVER USER PASSWORD OUTDIR FILE... */
parse arg server user password outdir files
if files = '' then do
  say 'usage: regina load_files.rexx SERVER USER PASSWORD OUTDIR FILE...'
  exit 2
end
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call KTLoadFuncs
if \ KTConnect(user, password, server, 10) then
  call fail 'login failed'

bad = 0
do i = 1 to words(files)
  file = word(files, i)
  name = substr(file, lastpos('/', file) + 1)
  /* KTFile2LOB writes through the value's text pointer, which a NULL value
     lacks: the row starts with an empty image. */
  call KTSelectOne 'delete from files where id =' i
  call KTSelectOne 'insert into files values (' || i || ", '" ||,
    changestr("'", name, "''") || "', 0x)"
  if kt.!msgno <> 0 then call fail 'insert failed'
  if \ KTFile2LOB(file, 'files', 'data', 'id =' i) then do
    say name': not stored:' kt.!oserrstr kt.!msgtext kt.!dberrstr
    bad = bad + 1
    iterate
  end
  copy = outdir'/'name
  if \ KTLOB2File(copy, 'files', 'data', 'id =' i) then do
    say name': not copied back:' kt.!oserrstr kt.!msgtext kt.!dberrstr
    bad = bad + 1
    iterate
  end
  same = (contents(file) == contents(copy))
  if \ same then bad = bad + 1
  say name':' stream(file, 'c', 'query size') 'bytes, copy',
    word('differs identical', same + 1)
end

call KTSelectData 'select id, name, datalength(data) from files order by id', 'r.', 1000
do i = 1 to r.0
  say 'row' r.i.1':' r.i.2 r.i.3 'bytes'
end
call KTConnectReset
call KTDropFuncs
exit (bad > 0)

contents: procedure
  parse arg file
  data = charin(file, 1, stream(file, 'c', 'query size'))
  call stream file, 'c', 'close'
  return data

fail:
  say arg(1)':' kt.!msgno kt.!msgtext kt.!dberr kt.!dberrstr
  exit 1
