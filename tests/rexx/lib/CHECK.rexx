/* call Check what, actual, expected
   Nothing when actual equals expected exactly (==). Otherwise says
   FAIL what: got "actual", expected "expected"
   and counts one more failed check for CheckSummary.

   The library of the test scripts: one file a routine (CHECK.rexx,
   TRY.rexx, CHECKSUMMARY.rexx, READFILE.rexx, WRITEFILE.rexx,
   LOADPACKAGE.rexx, CONNECTSERVER.rexx, SETUP.rexx, CHECKROWLIMITS.rexx,
   CHECKINCORRECTROWCALLS.rexx), named in capitals because that is the name Regina looks for. The scripts find it
   through REGINA_MACROS (Regina) and REXX_PATH (ooRexx), which the test
   runner sets. An external routine sees none of its caller's variables:
   every routine here takes values, never names, and the count of failed
   checks lives in the environment variable KTDB_FAILED_CHECKS. */
parse arg what, actual, expected
if actual == expected then return
failed = value('KTDB_FAILED_CHECKS', , 'ENVIRONMENT')
if \datatype(failed, 'W') then failed = 0
call value 'KTDB_FAILED_CHECKS', failed + 1, 'ENVIRONMENT'
say 'FAIL' what': got "'Shown(actual)'", expected "'Shown(expected)'"'
return

/* A long value is shown by its start and its length. */
Shown: procedure
  parse arg v
  if length(v) <= 200 then return v
  return left(v, 200)'..." ('length(v) 'characters)'
