/* Exports a whole table to a CSV file (RFC 4180): a header line of the
   column names, then one line per row. Text is quoted when it holds a comma,
   a quote or a line end; NULL is an empty field.
   Usage: regina export_csv.rexx SERVER USER PASSWORD TABLE [FILE] */
parse arg server user password table file .
if table = '' then do
  say 'usage: regina export_csv.rexx SERVER USER PASSWORD TABLE [FILE]'
  exit 2
end
if file = '' then file = table'.csv'
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call KTLoadFuncs
if \ KTConnect(user, password, server, 10) then
  call fail 'login failed'

/* The table name is inserted into the statement as given: it must come
   from someone trusted to run SQL. */
query = 'select * from' table
call KTSelectCols query, 'col.'
if col.0 = 0 then call fail 'no such table'
call KTSelectData query, 'row.', 999999999
if kt.!msgno <> 0 then call fail 'the select failed'

call stream file, 'c', 'open write replace'
line = field(lower(word(col.1, 1)))
do j = 2 to col.0
  line = line','field(lower(word(col.j, 1)))
end
call lineout file, line
do i = 1 to row.0
  line = field(row.i.1)
  do j = 2 to row.0.0
    line = line','field(row.i.j)
  end
  call lineout file, line
end
call stream file, 'c', 'close'
say 'wrote' row.0 'rows of' table 'to' file
call KTConnectReset
call KTDropFuncs
exit 0

field: procedure
  parse arg value
  if verify(value, ',"' || '0a0d'x, 'match') = 0 then return value
  return '"' || changestr('"', value, '""') || '"'

fail:
  say arg(1)':' kt.!msgno kt.!msgtext kt.!dberr kt.!dberrstr
  exit 1
