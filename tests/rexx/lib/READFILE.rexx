/* ReadFile(name): the whole file, or "(no file)" when there is none. */
parse arg name
size = stream(name, 'c', 'query size')
if size = '' then return '(no file)'
data = ''
if size > 0 then data = charin(name, 1, size)
call stream name, 'c', 'close'
return data
