/* call LoadPackage
   Registers the package's functions (KTLoadFuncs); answers what
   KTLoadFuncs answers. The registration is the interpreter's, not this
   routine's: the caller sees the functions. */
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
return KTLoadFuncs()
