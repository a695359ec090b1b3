/* call WriteFile name, data: the file made anew with data alone (an empty
   file for empty data). */
parse arg name, data
address system 'rm -f "'name'"'
if data == '' then address system 'touch "'name'"'
else call charout name, data, 1
call stream name, 'c', 'close'
return
