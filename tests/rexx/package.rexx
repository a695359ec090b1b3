/* The package's life cycle through the real interpreter: registration,
   the entry guard of every function before load, while loaded and after
   drop, the KT.! reset values, and incorrect calls. */
lib = 'rexxktdb'
guarded = 'KTDropFuncs KTConnect KTConnectReset KTSelectCols KTSelectData',
          'KTSelectForm KTSelectOne KTBatch KTCurTimeStamp KTLOB2File',
          'KTFile2LOB KTHTML'
needConnection = subword(guarded, 3)

/* Before KTLoadFuncs: the script registers the functions itself; each one
   refuses, even without its required arguments. */
do i = 1 to words(guarded)
  call RxFuncAdd word(guarded, i), lib, word(guarded, i)
end
call CheckRefusals 'before load', guarded

/* Load: "1", then "0" for a second load, which publishes nothing. */
kt.!severity = 'x'; kt.!dberr = 'x'; kt.!oserr = 'x'; kt.!dberrstr = 'x'
kt.!oserrstr = 'x'; kt.!msgno = 'x'; kt.!msgstate = 'x'; kt.!msgtext = 'x'
call RxFuncAdd 'KTLoadFuncs', lib, 'KTLoadFuncs'
call Check 'first load', KTLoadFuncs(), '1'
call Check 'KT.!SEVERITY', kt.!severity, '0'
call Check 'KT.!DBERR', kt.!dberr, '0'
call Check 'KT.!OSERR', kt.!oserr, '0'
call Check 'KT.!DBERRSTR', kt.!dberrstr, ''
call Check 'KT.!OSERRSTR', kt.!oserrstr, ''
call Check 'KT.!MSGNO', kt.!msgno, '0'
call Check 'KT.!MSGSTATE', kt.!msgstate, '0'
call Check 'KT.!MSGTEXT', kt.!msgtext, ''
kt.!dberr = 'kept'
call Check 'second load', KTLoadFuncs(), '0'
call Check 'KT.!DBERR after a refused load', kt.!dberr, 'kept'

/* Loaded, not connected: every function that needs a connection refuses
   (which also shows that each registered name resolves to its entry). */
call CheckRefusals 'loaded', needConnection

/* An empty or missing required argument is an incorrect call (REXX error
   40); the package stays Idle, so the next call is served. */
call Check 'KTConnect empty user', Try("KTConnect('')"), 'ERROR 40'
call Check 'KTConnect no argument', Try("KTConnect()"), 'ERROR 40'
call Check 'KTConnect empty user, other arguments', Try("KTConnect('', 'pw', 'srv')"), 'ERROR 40'
/* A complete KTConnect is served: port 1 of this machine refuses it. */
call Check 'KTConnect served', Try("KTConnect('sa', 'pw', '127.0.0.1:1', '1')"), '0'
call CheckRefusals 'after connect', needConnection

/* Drop: "1"; every name is deregistered, KTLoadFuncs too. ooRexx keeps
   the functions a script has called known to that script after they are
   deregistered (RxFuncQuery answers 0); they then refuse, as below. */
call Check 'drop', KTDropFuncs(), '1'
parse version version
known = (pos('ooRexx', version) > 0) + 0
do i = 1 to words(guarded)
  call Check 'registered after drop:' word(guarded, i), RxFuncQuery(word(guarded, i)), 1 - known
end
call Check 'registered after drop: KTLoadFuncs', RxFuncQuery('KTLoadFuncs'), 1 - known

/* Unloaded again: everything refuses when the script registers it itself. */
do i = 1 to words(guarded)
  call RxFuncAdd word(guarded, i), lib, word(guarded, i)
end
call CheckRefusals 'after drop', guarded
call Check 'KTConnect after drop', Try("KTConnect('')"), '0'

/* The package can be loaded again once KTLoadFuncs is registered again. */
call RxFuncAdd 'KTLoadFuncs', lib, 'KTLoadFuncs'
call Check 'reload', KTLoadFuncs(), '1'
call Check 'drop after reload', KTDropFuncs(), '1'

exit CheckSummary()

/* Calls every function in the list without arguments and with a full set;
   each must refuse with "0", or "" for the three that answer text. */
CheckRefusals: procedure
  parse arg state, names
  do i = 1 to words(names)
    name = word(names, i)
    expected = '0'
    if wordpos(translate(name), 'KTSELECTONE KTLOB2FILE KTFILE2LOB') > 0 then expected = ''
    call Check state':' name'()', Try(name'()'), expected
    call Check state':' name'(...)', Try(name"('select 1', 'r.', '2', '3', '4', '5')"), expected
  end
  return
