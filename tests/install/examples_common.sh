# Sourced by run_example.sh and manual_examples.sh: the interpreter they run
# the examples with, and the examples' sample data.
#
# KTDB_REXX names the interpreter (regina by default). with_tdslite.sh hands
# the sanitizer runtime over as LD_PRELOAD: it goes on to the interpreter
# alone.
preload=${LD_PRELOAD:-}
unset LD_PRELOAD
rexx_command=${KTDB_REXX:-regina}
rexx() {
  if [ -n "$preload" ]; then LD_PRELOAD="$preload" "$rexx_command" "$@"; else "$rexx_command" "$@"; fi
}

# load_sample_data EXAMPLES_DIR LOG: loads sample_data.sql into the tdslite
# at KTDB_SERVER (login ktdb/secret); ends the test when it does not load.
load_sample_data() {
  if ! (cd "$1" && rexx ./run_sql.rexx "$KTDB_SERVER" ktdb secret sample_data.sql) >"$2" 2>&1; then
    echo "FAIL: the sample data did not load"
    cat "$2"
    exit 1
  fi
}
