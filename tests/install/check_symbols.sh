#!/usr/bin/env bash
# Checks the dynamic symbols of librexxktdb.so: it defines exactly the entry
# points of exports.map, needs no interpreter library, and every undefined
# symbol is either one of the four interpreter functions (bound when an
# interpreter loads the library) or defined by a library it needs.
#
# Usage: check_symbols.sh LIBRARY EXPORTS_MAP FUNCTIONS_DEF
set -u
lib=$1
map=$2
list=$3
status=0
fail() { echo "FAIL: $*"; status=1; }
interpreter_functions="RexxAllocateMemory RexxDeregisterFunction RexxRegisterFunctionDll RexxVariablePool"

want=$(sed -n 's/^ *\(KT[A-Z0-9; ]*\)$/\1/p' "$map" | tr -d ';' | tr ' ' '\n' | sed '/^$/d' | sort)
have=$(nm -D --defined-only "$lib" | awk '$2 == "T" { print $3 }' | sort)
listed=$(sed -n 's/^KTDB_FUNCTION([A-Za-z0-9]*, *\([A-Z0-9]*\)).*/\1/p' "$list" | sort)
[ -n "$listed" ] || fail "functions.def lists no function"
[ "$want" = "$listed" ] || fail "exports.map differs from functions.def: $(diff <(echo "$listed") <(echo "$want") | grep '^[<>]' | tr '\n' ' ')"
[ "$want" = "$have" ] || fail "exported functions differ from exports.map: $(diff <(echo "$want") <(echo "$have") | grep '^[<>]' | tr '\n' ' ')"

needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
if echo "$needed" | grep -Eq '^lib(regina|rexx|rexxapi)\.'; then
  fail "linked to an interpreter library: $(echo "$needed" | tr '\n' ' ')"
fi
# Everything the needed libraries define (their paths as the loader finds them).
defined=$(ldd "$lib" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }' | xargs -r nm -D --defined-only 2>/dev/null |
  awk 'NF >= 3 { sub(/@.*/, "", $3); print $3 }' | sort -u)
undefined=$(nm -D --undefined-only "$lib" | awk '$1 == "U" { sub(/@.*/, "", $2); print $2 }' | sort -u)
left=$(comm -23 <(echo "$undefined") <(echo "$defined"))
expected=$(echo "$interpreter_functions" | tr ' ' '\n' | sort)
[ "$left" = "$expected" ] || fail "undefined symbols no needed library defines: $(echo "$left" | tr '\n' ' ') (expected: $interpreter_functions)"
[ $status = 0 ] && echo "symbols: $(echo "$have" | wc -l) entry points; undefined beyond its libraries: $interpreter_functions"
exit $status
