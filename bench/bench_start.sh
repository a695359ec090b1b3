# Sourced (bash) by the benchmarks' run.sh, which all take the arguments
#   run.sh TDSLITE LIBRARY_DIR PROGRAM REGINA [EXTRA]
# (bench/CMakeLists.txt passes them), and run against a tdslite of their own.
#
#   bench_start "PROGRAM [EXTRA]" "$@"
#     With fewer than four arguments, prints the usage (the first argument
#     names the last three) and exits 2. Otherwise sets tdslite, program,
#     regina, extra (empty when absent) and here (the folder of the script
#     that runs), puts LIBRARY_DIR first on
#     LD_LIBRARY_PATH, starts tdslite with the login bench/bench, stopped
#     when the script exits (after bench_cleanup, should the script define
#     it), and sets server to its address.

bench_start() {
  local usage=$1
  shift
  if [ $# -lt 4 ]; then
    echo "usage: $0 TDSLITE LIBRARY_DIR $usage" >&2
    exit 2
  fi
  tdslite=$1
  program=$3
  regina=$4
  extra=${5:-}
  here="$(cd "$(dirname "$0")" && pwd)"
  local libdir
  libdir=$(cd "$2" && pwd)
  export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  . "$(dirname "${BASH_SOURCE[0]}")/../examples/tdslite_server.sh"
  trap _bench_stop EXIT
  tdslite_start "$tdslite" --user bench:bench || exit 1
  server=$TDSLITE_ADDRESS
}

_bench_stop() {
  if declare -F bench_cleanup >/dev/null; then bench_cleanup; fi
  tdslite_stop
}
