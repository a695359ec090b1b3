/* Value text of every type tdslite sends: the longest values of each
   numeric and date type come back whole, as DB-Library writes them, and
   character data comes back byte for byte (UTF-8 end to end). */
call LoadPackage
call ConnectServer

/* expression ==> expected text */
cases = ,
  "cast(255 as tinyint)==>255" ||,
  "|cast(-32768 as smallint)==>-32768" ||,
  "|cast(-2147483648 as int)==>-2147483648" ||,
  "|cast(-9223372036854775808 as bigint)==>-9223372036854775808" ||,
  "|cast(1 as bit)==>1" ||,
  "|cast(-1.7976931348623157e+308 as float)==>-1.7976931348623157e+308" ||,
  "|cast(-2.2250738585072014e-308 as float)==>-2.2250738585072014e-308" ||,
  "|cast(-2.25 as float)==>-2.25" ||,
  "|cast(-3.40282347e+38 as real)==>-3.40282347e+38" ||,
  "|cast(-922337203685477.5808 as money)==>-922337203685477.5808" ||,
  "|cast(-214748.3648 as smallmoney)==>-214748.3648" ||,
  "|cast(12 as money)==>12.0000" ||,
  "|cast('9999-12-31 23:59:59.997' as datetime)==>Dec 31 9999 11:59:59:997PM" ||,
  "|cast('2023-01-02 03:04:05.670' as datetime)==>Jan  2 2023  3:04:05:670AM" ||,
  "|cast('2079-06-06 23:59' as smalldatetime)==>Jun  6 2079 11:59:00:000PM" ||,
  "|cast(-0.00000000000000000000000000000000000001 as decimal(38,38))==>-0.00000000000000000000000000000000000001" ||,
  "|cast(-99999999999999999999999999999999999999 as numeric(38,0))==>-99999999999999999999999999999999999999" ||,
  "|cast(-9999999999.99 as decimal(12,2))==>-9999999999.99" ||,
  "|cast(0 as decimal(5,2))==>0.00" ||,
  "|cast('abc' as char(6))==>abc   " ||,
  "|cast('abc' as varchar(20))==>abc" ||,
  "|cast('' as varchar(20))==>" ||,
  "|cast('Grüße €' as varchar(40))==>Grüße €" ||,
  "|cast(N'Grüße € 日本 𝄞' as nvarchar(20))==>Grüße € 日本 𝄞" ||,
  "|cast(N'ü' as nchar(3))==>ü  " ||,
  "|cast(0x00AB10FF as binary(4))==>00ab10ff" ||,
  "|cast(0x00ab as varbinary(10))==>00ab" ||,
  "|cast(0x as varbinary(10))==>"
do while cases \= ''
  parse var cases expression '==>' expected '|' cases
  drop r.
  answer = KTSelectData('select' expression, 'r.', 1, '?')
  call Check expression, answer r.0 '['r.1.1']' kt.!dberr kt.!msgno, '1 1 ['expected'] 0 0'
  call Check 'KTSelectOne' expression, '['KTSelectOne('select' expression, '?')']', '['expected']'
end

/* Stored and read back: text, ntext and image within the text size,
   non-ASCII text byte for byte (char(4) holds 'é' and three blanks), NULL
   and empty values of every kind. */
call Setup 'set textsize 100000',,
           'create table v (k int, t text, n ntext, i image, c char(4), u nvarchar(10))',,
           "insert into v values (1, 'Grüße € text', N'日本語 ntext', 0x0102ff, 'é', N'ħ')",,
           "insert into v values (2, NULL, NULL, NULL, NULL, NULL)",,
           "insert into v values (3, '', N'', 0x, '', N'')"
call Check 'read back', KTSelectData('select t, n, i, c, u from v order by k', 'r.', 3, '~'), '1'
call Check 'row 1', r.1.1'|'r.1.2'|'r.1.3'|'r.1.4'|'r.1.5, 'Grüße € text|日本語 ntext|0102ff|é   |ħ'
call Check 'row 2 (NULL)', r.2.1'|'r.2.2'|'r.2.3'|'r.2.4'|'r.2.5, '~|~|~|~|~'
call Check 'row 3 (empty)', r.3.1'|'r.3.2'|'r.3.3'|'r.3.4'|'r.3.5, '|||    |'
call Check 'batch reads the same', KTBatch("q. ", 'b.'), '0'
q.0 = 1; q.1 = 'select t, i, c from v order by k'
call Check 'batch', KTBatch('q.', 'b.'), '1'
call Check 'batch values', b.1.1.1'|'b.1.1.2'|'b.1.1.3'|'b.1.2.1'|'b.1.3.1, 'Grüße € text|0102ff|é   |(null)|'

/* A long text value within the text size comes back whole. */
long = copies('äöü', 5000)
c.0 = 1; c.1 = "insert into v (k, t) values (4, '"long"')"
call Check 'insert long', KTBatch('c.', 'r.'), '1'
call Check 'long text', KTSelectOne('select t from v where k = 4') == long, '1'
call Check 'long text: KT.!LONGRESULT', kt.!longresult == long, '1'

call Check 'reset', KTConnectReset(), '1'
call KTDropFuncs
exit CheckSummary()
