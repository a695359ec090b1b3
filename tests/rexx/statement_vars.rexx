/* Statements held in REXX variables: an unset or empty variable sends
   nothing, a word that is no variable name is refused, a huge statement
   count costs no unbounded work; and the NULL text's first-character rule.
   Run against a tdslite of the test's own, at the protocol version TDSVER
   names. */
call LoadPackage
call ConnectServer
call Check 'create', KTSelectData('create table t (a int)', 'r.'), '1'

/* KTBatch: an unset or empty statement variable anywhere stops the whole
   batch before anything is sent; KT.!DBERRSTR names the variable. */
cases = 'unset|empty|nul'
do while cases \= ''
  parse var cases case '|' cases
  drop s. r.
  s.0 = 3; s.1 = 'insert into t values (1)'; s.2 = 'insert into t values (2)'
  select
    when case = 'unset' then nop
    when case = 'empty' then s.3 = ''
    otherwise s.3 = 'select 1' || '00'x
  end
  call Check 'batch, s.3' case, KTBatch('s.', 'r.'), '0'
  call Check 'batch, s.3' case': R.0 not written', symbol('R.0'), 'LIT'
  call Check 'batch, s.3' case': the variable named', pos('S.3', kt.!dberrstr) > 0, '1'
  call Check 'batch, s.3' case': KT.!DBERR', kt.!dberr, '20176'
  call Check 'batch, s.3' case': nothing ran', KTSelectOne('select count(*) from t'), '0'
end

/* A count of nearly a thousand million with one statement set: answered at
   once (the first unset variable ends the check), nothing sent. */
drop s.
s.0 = 999999999; s.1 = 'insert into t values (3)'
started = time('E')
call Check 'huge count', KTBatch('s.', 'r.'), '0'
call Check 'huge count: S.2 named', pos('S.2 is not set', kt.!dberrstr) > 0, '1'
call Check 'huge count: answered in time', time('E') - started < 30, '1'
call Check 'huge count: nothing ran', KTSelectOne('select count(*) from t'), '0'
/* Set through the stem's default, every statement exists: the batch is
   refused by its size, well before a thousand million appends. */
drop s.
s. = 'insert into t values (4)'
s.0 = 999999999
started = time('E')
call Check 'huge count, stem default', KTBatch('s.', 'r.'), '0'
call Check 'huge count, stem default: DBERR', kt.!dberr, '20049'
call Check 'huge count, stem default: text', pos('longer than', kt.!dberrstr) > 0, '1'
call Check 'huge count, stem default: in time', time('E') - started < 300, '1'
call Check 'huge count, stem default: nothing ran', KTSelectOne('select count(*) from t'), '0'
drop s.

/* The other statement functions: an unset or empty variable named as the
   statement sends nothing; KT.!DBERRSTR names it. */
drop never
empty = ''
do v = 1 to 2
  name = word('never empty', v)
  drop r.
  r.0 = 'old'
  call Check 'KTSelectData' name, KTSelectData(name, 'r.'), '0'
  call Check 'KTSelectData' name': R.0 kept', r.0, 'old'
  call Check 'KTSelectData' name': named', pos(translate(name), kt.!dberrstr) > 0, '1'
  call Check 'KTSelectData' name': DBERR', kt.!dberr, '20176'
  call Check 'KTSelectForm' name, KTSelectForm(name, 'r.'), '0'
  call Check 'KTSelectForm' name': named', pos(translate(name), kt.!dberrstr) > 0, '1'
  call Check 'KTSelectOne' name, KTSelectOne(name), ''
  call Check 'KTSelectOne' name': named', pos(translate(name), kt.!dberrstr) > 0, '1'
  call Check 'KTSelectCols' name, KTSelectCols(name, 'c.'), '0'
  call Check 'KTSelectCols' name': named', pos(translate(name), kt.!dberrstr) > 0, '1'
end
/* A compound name that is unset: its tail is taken literally. */
drop q.
call Check 'unset compound', KTSelectData('q.1', 'r.'), '0'
call Check 'unset compound: named', pos('Q.1 is not set', kt.!dberrstr) > 0, '1'
/* A set variable still works, also a compound one and a stem default. */
q.1 = 'select 42'
call Check 'set compound', KTSelectOne('q.1'), '42'
drop q.; q. = 'select 43'
call Check 'stem default', KTSelectOne('q.7'), '43'

/* A statement variable longer than the 32765 bytes a fetch delivers is not
   sent cut (a delete would lose its where clause): nothing is sent. */
call Check 'long: two rows', KTSelectData('insert into t values (5) insert into t values (6)', 'r.'), '1'
long = 'delete from t' || copies(' ', 32760) || 'where a = 5'
call Check 'long KTSelectOne', KTSelectOne('long'), ''
call Check 'long KTSelectOne: DBERR', kt.!dberr, '20049'
call Check 'long KTSelectOne: named', pos('LONG is longer', kt.!dberrstr) > 0, '1'
call Check 'long KTSelectData', KTSelectData('long', 'r.'), '0'
drop s.
s.0 = 1; s.1 = long
call Check 'long KTBatch', KTBatch('s.', 'r.'), '0'
call Check 'long KTBatch: named', pos('S.1 is longer', kt.!dberrstr) > 0, '1'
call Check 'long: both rows kept', KTSelectOne('select count(*) from t'), '2'
call Check 'long: clean up', KTSelectData('delete from t', 'r.'), '1'
drop s.

/* A constant symbol is no variable name: refused as a stem name is. */
constants = '1abc|7|.5x|1e3'
do while constants \= ''
  parse var constants word '|' constants
  drop r.
  call Check 'KTSelectData' word, KTSelectData(word, 'r.'), '0'
  call Check 'KTSelectData' word': R.0 not written', symbol('R.0'), 'LIT'
  call Check 'KTSelectForm' word, KTSelectForm(word, 'r.'), '0'
  call Check 'KTSelectOne' word, KTSelectOne(word), ''
  call Check 'KTSelectCols' word, Try("KTSelectCols('"word"', 'c.')"), 'ERROR 40'
end
/* Symbols that REXX accepts as variable names. */
a1! = 'select 1'; ab_c? = 'select 2'
call Check 'name with ! and digit', KTSelectOne('a1!'), '1'
call Check 'name with _ and ?', KTSelectOne('ab_c?'), '2'

/* The NULL text is the argument's first character, a whole UTF-8 sequence;
   when the sequence is not whole, its first byte alone. */
nulls = "'E282AC'x='E282AC'x|'E282'x||'Z'='E2'x|'F09F9880'x='F09F9880'x|" ||,
        "'F09F98'x='F0'x|'C3A9'x||'x'='C3A9'x|'80'x='80'x|'-'='-'"
do while nulls \= ''
  parse var nulls given '=' expected '|' nulls
  interpret 'given =' given '; expected =' expected
  call Check 'NULL text' c2x(given), c2x(KTSelectOne('select NULL', given)), c2x(expected)
  drop r.
  call KTSelectData 'select NULL', 'r.', 1, given
  call Check 'NULL text' c2x(given) '(KTSelectData)', c2x(r.1.1), c2x(expected)
end

call Check 'reset', KTConnectReset(), '1'
call KTDropFuncs
exit CheckSummary()
