/* Runs the statements of a .sql file and prints every result set. Batches
   are separated by lines that hold only "go"; lines that begin with "--"
   are comments. Each batch goes to the server with one KTBatch call.
   Usage: regina run_sql.rexx SERVER USER PASSWORD FILE */
parse arg server user password file .
if file = '' then do
  say 'usage: regina run_sql.rexx SERVER USER PASSWORD FILE'
  exit 2
end
if stream(file, 'c', 'query exists') = '' then do
  say 'no such file:' file
  exit 2
end
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call KTLoadFuncs
if \ KTConnect(user, password, server, 10) then do
  say 'login failed:' kt.!msgno kt.!msgtext kt.!dberr kt.!dberrstr
  exit 1
end

failed = 0
batch = 0
sql.0 = 0
do while lines(file) > 0
  line = linein(file)
  if translate(strip(line)) = 'GO' then call run
  else if left(strip(line), 2) <> '--' & strip(line) <> '' then do
    n = sql.0 + 1
    sql.n = line
    sql.0 = n
  end
end
call stream file, 'c', 'close'
call run
call KTConnectReset
call KTDropFuncs
exit (failed > 0)

/* Sends the lines collected in sql. as one batch and prints its sets. */
run:
  if sql.0 = 0 then return
  batch = batch + 1
  drop res.
  if \ KTBatch('sql.', 'res.') then do
    say 'batch' batch 'was not sent'
    failed = failed + 1
  end
  else do
    say 'batch' batch':' res.0 'result sets'
    /* No set at all: the server rejected the batch as a whole. */
    if res.0 = 0 & (kt.!severity > 10 | kt.!dberr <> 0) then do
      say '  rejected:' kt.!msgno kt.!msgtext kt.!dberr kt.!dberrstr
      failed = failed + 1
    end
    do s = 1 to res.0
      if res.s = 0 then do
        say '  set' s': failed: error' res.s.!msgno '(severity' res.s.!severity'):',
            res.s.!msgtext
        failed = failed + 1
        iterate
      end
      say '  set' s':' res.s.0 'rows,' res.s.0.0 'columns'
      do r = 1 to res.s.0 while res.s.0.0 > 0
        line = ''
        do c = 1 to res.s.0.0
          line = line '|' res.s.r.c
        end
        say '   ' strip(line) '|'
      end
    end
  end
  sql.0 = 0
  return
