/* The frame's variable pool access against the real interpreter, through
   the test-only probe package (probe.cc). */
call RxFuncAdd 'ProbeFetch', 'ktdbprobe', 'PROBEFETCH'
call RxFuncAdd 'ProbeSet', 'ktdbprobe', 'PROBESET'
call RxFuncAdd 'ProbeStem', 'ktdbprobe', 'PROBESTEM'
call RxFuncAdd 'ProbeResultSize', 'ktdbprobe', 'PROBERESULTSIZE'

/* The frame writes results of up to 255 characters into the result buffer
   the interpreter supplies; it must be at least that large. */
call Check 'result buffer', ProbeResultSize() >= 256, 1

stmt = 'select * from t'
call Check 'fetch length', ProbeFetch('STMT'), 15
call Check 'fetched value', probe.value, stmt
big = copies('x', 39999)'y'
call Check 'fetch of 40000 characters', ProbeFetch('BIG'), 32765
call Check 'value cut at the fetch limit', probe.value == left(big, 32765), 1
bin = 'a'||'00'x||'b'
call Check 'fetch with a NUL byte', ProbeFetch('BIN'), 3
call Check 'value with a NUL byte', probe.value == bin, 1
drop never
call Check 'fetch of an unset variable', ProbeFetch('NEVER'), 5
call Check 'its value is its name', probe.value, 'NEVER'
call Check 'fetch of a bad name', ProbeFetch('A B'), 'BADN'

call Check 'set of a new variable', ProbeSet('NEWVAR', 'v1'), 1
call Check 'new variable', newvar, 'v1'
call Check 'set of an existing variable', ProbeSet('NEWVAR', 'v2'), 1
call Check 'existing variable', newvar, 'v2'
call Check 'set of a bad name', ProbeSet('A B', 'v'), 0

/* Names on which the interpreters' pools answer differently are refused
   alike: constant symbols, names beyond 250 characters, characters only
   one of them takes. */
bad = '42 3.5 .X @X X$ T.A+B' copies('S', 251) copies('S', 248)'.12'
do i = 1 to words(bad)
  call Check 'refused fetch' left(word(bad, i), 12), ProbeFetch(word(bad, i)), 'BADN'
  call Check 'refused set' left(word(bad, i), 12), ProbeSet(word(bad, i), 'v'), 0
end
call Check 'refused tail with a blank', ProbeSet('T.A B', 'v'), 0
call Check 'longest name', ProbeSet(copies('S', 248)'.1', 'v'), 1
call Check 'longest name: set', value(copies('S', 248)'.1'), 'v'
call Check 'lower-case tail', ProbeSet('T.ab', 'v'), 1

call Check 'stem name', ProbeStem('rows.', '1.2', 'cell'), 'ROWS.1.2'
call Check 'stem variable', rows.1.2, 'cell'
call Check 'mixed-case stem', ProbeStem('Kt.!', 'LONGRESULT', 'long'), 'KT.!LONGRESULT'
call Check 'stem variable', kt.!longresult, 'long'

/* Compound variables are set with a fetch of the same name chained behind
   the set. The values must be exactly those set, a stem's default must
   stay, no NOVALUE may be raised, and answers stay those of a plain set. */
signal on novalue name NoValueRaised
wide. = 'default'
do r = 1 to 300
  do c = 1 to 20
    if ProbeSet('WIDE.'r'.'c, r*1000 + c) \= 1 then call Check 'wide set' r c, 0, 1
  end
end
bad = 0
do r = 1 to 300
  do c = 1 to 20
    if wide.r.c \== r*1000 + c then bad = bad + 1
  end
end
call Check 'wide values read back', bad, 0
call Check 'stem default kept', wide.301.1 wide.0, 'default default'
call Check 'empty compound value', ProbeSet('WIDE.EMPTY', '') || '['wide.empty']', '1[]'
drop fresh.
call Check 'new compound variable', ProbeSet('FRESH.1', 'v') fresh.1, '1 v'
call Check 'bad compound name', ProbeSet('A B.1', 'v'), 0
call Check 'exposed stem', SetExposed(), 'inside'
signal off novalue

exit CheckSummary()

SetExposed: procedure expose shared.
  call ProbeSet 'SHARED.7', 'inside'
  return shared.7

NoValueRaised:
  say 'FAIL a NOVALUE condition was raised for' condition('D')
  exit 1
