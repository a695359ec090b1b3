#!/usr/bin/env bash
# The large-object benchmark: MiB/s of KTFile2LOB and KTLOB2File for one
# image value, beside a plain C DB-Library program doing the same
# dbwritetext/dbmoretext and dbreadtext transfers with 512-byte and 64 KiB
# pieces, all against one tdslite in the same run. Prints the ratios and
# the REXX process's peak memory growth during each package call.
#
# Usage: run.sh TDSLITE LIBRARY_DIR LOB_BENCH REGINA [MIB]
#   MIB  the value's size in MiB (default 256); the files go under /tmp and
#        are removed afterwards.
set -euo pipefail
. "$(dirname "$0")/../bench_start.sh"
bench_start "LOB_BENCH REGINA [MIB]" "$@"
lob=$program
mib=${extra:-256}
work=$(mktemp -d "${TMPDIR:-/tmp}/ktdb-lob-bench.XXXXXX")
bench_cleanup() { rm -rf "$work"; }

"$lob" "$server" setup
head -c $((mib * 1048576)) /dev/urandom >"$work/in"

# rate SECONDS: MiB/s of the value.
rate() { awk -v s="$1" -v m="$mib" 'BEGIN { printf "%.1f", (s > 0 ? m / s : 0) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
check() { cmp -s "$work/in" "$work/out" || { echo "bench: the copy differs" >&2; exit 1; }; rm -f "$work/out"; }

# timed WHAT COMMAND...: the seconds the command prints, or the end of the
# benchmark with what went wrong.
timed() {
  local what=$1 out
  shift
  if ! out=$("$@"); then
    echo "bench: $what failed: $out" >&2
    exit 1
  fi
  echo "$out"
}
read -r in_package in_growth <<<"$(timed KTFile2LOB "$regina" "$here/lob_bench.rexx" "$server" in "$work/in")"
read -r out_package out_growth <<<"$(timed KTLOB2File "$regina" "$here/lob_bench.rexx" "$server" out "$work/out")"; check
in_512=$(timed "db-lib write (512)" "$lob" "$server" write "$work/in" 512)
out_512=$(timed "db-lib read (512)" "$lob" "$server" read "$work/out" 512); check
in_64k=$(timed "db-lib write (64 KiB)" "$lob" "$server" write "$work/in" 65536)
out_64k=$(timed "db-lib read (64 KiB)" "$lob" "$server" read "$work/out" 65536); check

echo "large objects, $mib MiB image value, MiB/s:"
printf '  %-34s %8s %8s\n' "" "to value" "to file"
printf '  %-34s %8s %8s\n' "package (KTFile2LOB / KTLOB2File)" "$(rate "$in_package")" "$(rate "$out_package")"
printf '  %-34s %8s %8s\n' "C db-lib, 512-byte pieces" "$(rate "$in_512")" "$(rate "$out_512")"
printf '  %-34s %8s %8s\n' "C db-lib, 64 KiB pieces" "$(rate "$in_64k")" "$(rate "$out_64k")"
echo "ratios (package time / C time; 1.00 = as fast):"
echo "  to value: vs 512 B $(ratio "$in_package" "$in_512"), vs 64 KiB $(ratio "$in_package" "$in_64k")"
echo "  to file:  vs 512 B $(ratio "$out_package" "$out_512"), vs 64 KiB $(ratio "$out_package" "$out_64k")"
echo "speed of KTLOB2File against the C 64 KiB loop (target >= 0.80): $(ratio "$out_64k" "$out_package")"
echo "REXX process peak growth (target < 8192 kB): KTFile2LOB $in_growth kB, KTLOB2File $out_growth kB"
