/* uniqueidentifier columns in KTSelectCols and KTSelectForm: described as
   36 characters wide, and the longest value fits its field of 37. */
server = value('KTDB_SERVER', , 'ENVIRONMENT')
user = value('KTDB_USER', , 'ENVIRONMENT')
if user = '' then user = 'ktdb'
password = value('KTDB_PASSWORD', , 'ENVIRONMENT')
if password = '' then password = 'secret'
call LoadPackage
call Check 'connect', KTConnect(user, password, server), '1'

guid = "cast('6F9619FF-8B86-D011-B42D-00C04FC964FF' as uniqueidentifier) as u"
call Check 'describe', KTSelectCols('select' guid', 1 as k', 'c.'), '1'
call Check 'describe: C.1', c.1, 'U UNIQUEIDENTIFIER 36'
call Check 'form', KTSelectForm('select' guid', 1 as k', 'f.'), '1'
call Check 'form: heading', f.0.0, 'U'copies('_', 36)'  K___________  '
call Check 'form: row', f.1, '6F9619FF-8B86-D011-B42D-00C04FC964FF   'right(1, 12)'  '

call Check 'reset', KTConnectReset(), '1'
call KTDropFuncs
exit CheckSummary()
