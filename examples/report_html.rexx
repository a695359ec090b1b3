/* Writes a report of the table fruit as an HTML page: KTSelectForm lays the
   rows out as a text table, KTH writes the page line by line.
   Usage: regina report_html.rexx SERVER USER PASSWORD [PAGE] */
parse arg server user password page .
if page = '' then page = 'report.htm'
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
call KTLoadFuncs
if \ KTConnect(user, password, server, 10) then
  call fail 'login failed'

query = 'select id, name, price, note from fruit order by id'
if \ KTSelectForm(query, 'f.', 1000, '-') | kt.!msgno <> 0 then
  call fail 'the query failed'
total = KTSelectOne('select sum(price) from fruit')

/* KTH appends: start the page afresh. */
call stream page, 'c', 'open write replace'
call stream page, 'c', 'close'
call KTH page, 1, '<!DOCTYPE html>'
call KTH page, 1, '<html>'
call KTH page, 1, 'Fruit', 'title'
call KTH page, 1, 'Fruit on hand', 'h1'
/* KTH writes text as it stands: escape what HTML would read as markup. */
call KTH page, 1, '<pre>' || html(f.0.0)
do i = 1 to f.0
  call KTH page, 1, html(f.i)
end
call KTH page, 1, '</pre>'
call KTH page, 1, f.0 'kinds, costing' total 'in all.', 'p'
call KTH page, 1, '</html>'
say 'wrote' page 'with' f.0 'rows'
call KTConnectReset
call KTDropFuncs
exit 0

html: procedure
  parse arg text
  text = changestr('&', text, '&amp;')
  text = changestr('<', text, '&lt;')
  return changestr('>', text, '&gt;')

fail:
  say arg(1)':' kt.!msgno kt.!msgtext kt.!dberr kt.!dberrstr
  exit 1
