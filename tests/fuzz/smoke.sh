#!/usr/bin/env bash
# The short fuzz pass that `make test` runs: every saved regression input,
# then RUNS mutations from a fixed seed for each fuzz target that needs no
# server. A fixed seed and a fixed count make the pass repeatable, so a
# failure here is a real fault, never the luck of the run.
# Usage: smoke.sh FUZZ_DIR RUNS
set -u
dir=$(cd "$1" && pwd)
runs=$2
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/ktdb-fuzz-smoke.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
status=0
for name in frame_fuzz tds_decode_fuzz tsql_fuzz tls_fuzz; do
  target="$dir/$name"
  if [ ! -x "$target" ]; then
    echo "FAIL $name: not built"
    status=1
    continue
  fi
  regressions=("$here"/regressions/"$name"-*)
  if [ -e "${regressions[0]}" ] && ! "$target" -runs=1 "${regressions[@]}" >"$scratch/$name.reg.log" 2>&1; then
    echo "FAIL $name: a saved input fails again"
    tail -n 30 "$scratch/$name.reg.log"
    status=1
  fi
  mkdir -p "$scratch/$name"
  # A TLS handshake per input makes tls_fuzz slow: a quarter of the runs.
  n=$runs
  [ "$name" = tls_fuzz ] && n=$((runs / 4))
  if "$target" -seed=1 -runs="$n" -timeout=20 -rss_limit_mb=2048 -max_len=70000 \
      -artifact_prefix="$scratch/$name-" "$scratch/$name" "$here/corpus/${name%_fuzz}" \
      >"$scratch/$name.log" 2>&1; then
    echo "ok   $name: $n runs"
  else
    echo "FAIL $name"
    tail -n 30 "$scratch/$name.log"
    status=1
  fi
done
exit $status
