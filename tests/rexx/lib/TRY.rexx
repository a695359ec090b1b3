/* Try(expression [, name, value]...)
   The value of the expression, or "ERROR n" when evaluating it raises REXX
   error n (an incorrect call of a package function is error 40).
   The expression is evaluated here, among this routine's own variables: it
   sees only the variables named after it, each set to the value that
   follows its name (a compound name such as 'web.!query' sets that one
   variable). What a function it calls sets stays here and goes when Try
   returns. */
signal on syntax name TryFailed
do try_arg = 2 to arg() - 1 by 2
  call value arg(try_arg), arg(try_arg + 1)
end
drop try_arg
interpret 'try_answer =' arg(1)
return try_answer

TryFailed:
  return 'ERROR' rc
