#!/usr/bin/env bash
# The package benchmark: every figure a ratio measured in this run against the
# same tdslite.
#
# Usage: run.sh TDSLITE LIBRARY_DIR DBLIB_BENCH REGINA [ROUNDS]
#   TDSLITE      the tdslite program
#   LIBRARY_DIR  the directory holding librexxktdb.so
#   DBLIB_BENCH  the dblib_bench program (plain C DB-Library loops)
#   REGINA       the regina interpreter
#   ROUNDS       KTSelectOne calls to time (default 5000)
# Each figure is the best of three runs.
set -euo pipefail
. "$(dirname "$0")/../bench_start.sh"
bench_start "DBLIB_BENCH REGINA [ROUNDS]" "$@"
dblib=$program
rounds=${extra:-5000}

"$dblib" "$server" fill

# best COMMAND...: the smallest of three timings the command prints.
best() {
  local best_time=
  for _ in 1 2 3; do
    local t
    t=$("$@")
    if [ -z "$best_time" ] || awk -v a="$t" -v b="$best_time" 'BEGIN { exit !(a < b) }'; then
      best_time=$t
    fi
  done
  echo "$best_time"
}

select_data=$(best "$regina" "$here/select_data.rexx" "$server")
c_loop=$(best "$dblib" "$server" select)
assignments=$(best "$regina" "$here/stem_assignments.rexx")
have_pymssql=0
if /usr/bin/python3 -c 'import pymssql' 2>/dev/null; then
  have_pymssql=1
  pymssql_fetch=$(best /usr/bin/python3 "$here/pymssql_fetch.py" "$server")
fi
select_one=$(best "$regina" "$here/select_one.rexx" "$server" "$rounds")
c_one=$(best "$dblib" "$server" one "$rounds")

awk -v sd="$select_data" -v c="$c_loop" -v a="$assignments" -v havep="$have_pymssql" \
    -v p="${pymssql_fetch:-0}" -v so="$select_one" -v co="$c_one" -v n="$rounds" 'BEGIN {
  printf "KTSelectData, 100,000 rows x 5 columns into a stem: %.3f s\n", sd
  printf "  (a) C db-lib loop, fetch and convert:            %.3f s   KTSelectData / (a) = %.2f\n", c, sd / c
  printf "  (b) (a) + 500,000 Regina stem assignments:       %.3f s   KTSelectData / (b) = %.2f\n", c + a, sd / (c + a)
  if (havep) {
    printf "  (c) python3-pymssql fetchall:                    %.3f s   KTSelectData / (c) = %.2f\n", p, sd / p
  } else {
    printf "  (c) python3-pymssql: not installed\n"
  }
  printf "KTSelectOne(\"select 1\"): %.0f calls/s; C db-lib round trip: %.0f/s; ratio %.2f\n", n / so, n / co, (n / so) / (n / co)
}'

# Wide results: the same 100,000 values in 5, 16 and 50 columns, each beside
# its floor (the C loop's fetch and conversion plus the same number of REXX
# stem assignments).
echo "Wide results, 100,000 values each, nanoseconds per value (best of three):"
printf "  %-7s %12s %9s %9s %14s %13s %15s %13s\n" columns KTSelectData KTBatch floor \
  "Select/floor" "Batch/floor" "Select/5 cols" "Batch/5 cols"
base_select=
base_batch=
for width in 5 16 50; do
  ws=$(best "$regina" "$here/wide.rexx" "$server" select "$width")
  wb=$(best "$regina" "$here/wide.rexx" "$server" batch "$width")
  wc=$(best "$dblib" "$server" wide "$width")
  wa=$(best "$regina" "$here/wide_assignments.rexx" "$width")
  values=$((100000 / width * width))
  [ -z "$base_select" ] && base_select=$ws && base_batch=$wb
  awk -v w="$width" -v s="$ws" -v b="$wb" -v c="$wc" -v a="$wa" -v n="$values" \
      -v s5="$base_select" -v b5="$base_batch" 'BEGIN {
    f = c + a
    printf "  %-7d %12.0f %9.0f %9.0f %14.2f %13.2f %15.2f %13.2f\n", w, s / n * 1e9, b / n * 1e9,
      f / n * 1e9, s / f, b / f, (s / n) / (s5 / 100000), (b / n) / (b5 / 100000)
  }'
done
