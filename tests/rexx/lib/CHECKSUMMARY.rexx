/* exit CheckSummary()
   Says how many checks failed and answers 1, or says that all passed and
   answers 0: a script's exit status. */
failed = value('KTDB_FAILED_CHECKS', , 'ENVIRONMENT')
if datatype(failed, 'W') then if failed > 0 then do
  say failed 'check(s) failed'
  return 1
end
say 'all checks passed'
return 0
