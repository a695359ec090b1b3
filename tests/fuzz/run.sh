#!/usr/bin/env bash
# Runs every fuzz target in FUZZ_DIR for SECONDS each: first over the saved
# regressions (tests/fuzz/regressions/TARGET-*), then from the seed corpus
# (tests/fuzz/corpus/NAME, NAME being the target without "_fuzz") into a
# working corpus kept in FUZZ_DIR/corpus. A crash leaves its input in
# FUZZ_DIR/artifacts and fails the run.
# Usage: run.sh FUZZ_DIR SECONDS
set -u
dir=$(cd "$1" && pwd)
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir/artifacts"
status=0
for target in "$dir"/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  seeds="$here/corpus/${name%_fuzz}"
  work="$dir/corpus/$name"
  mkdir -p "$work"
  regressions=("$here"/regressions/"$name"-*)
  if [ -e "${regressions[0]}" ]; then
    echo "== $name: ${#regressions[@]} saved input(s)"
    if ! "$target" -runs=1 "${regressions[@]}" >"$dir/artifacts/$name.regressions.log" 2>&1; then
      echo "FAIL $name: a saved input fails again (see $dir/artifacts/$name.regressions.log)"
      status=1
    fi
  fi
  echo "== $name: ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=70000 \
      -print_final_stats=1 -artifact_prefix="$dir/artifacts/$name-" \
      "$work" ${seeds:+"$seeds"} >"$dir/artifacts/$name.log" 2>&1; then
    echo "FAIL $name: see $dir/artifacts/$name.log"
    tail -n 30 "$dir/artifacts/$name.log"
    status=1
  else
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$dir/artifacts/$name.log" |
      sed "s/^/   /"
  fi
done
exit $status
