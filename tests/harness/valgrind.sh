#!/usr/bin/env bash
# The end-to-end REXX scripts with both processes under valgrind memcheck:
# regina (with the package) and tdslite. Fails on any invalid access or use
# of an uninitialised value in either, and on a definite leak whose stack
# passes through the package or through tdslite. Regina's own leaks are not
# ours and are left out.
# Usage: valgrind.sh BUILD_DIR [SCRIPT...]   (default: every server script)
set -u
build=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
rexx="$here/../rexx"
scripts=("$@")
if [ ${#scripts[@]} -eq 0 ]; then
  scripts=(connect select_data select_one batch values server_death select_cols select_form
           cur_timestamp lob2file file2lob html)
fi
logs=$(mktemp -d "${TMPDIR:-/tmp}/ktdb-valgrind.XXXXXX")
work="$logs/work"
mkdir -p "$work"
memcheck=(valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite
          --num-callers=30 --track-origins=yes)
# with_tdslite.sh runs "$tdslite" and "$regina": two wrappers put each under
# valgrind with a log of its own. exec keeps the process id, which
# server_death.rexx uses to kill the server.
cat >"$logs/tdslite" <<WRAP
#!/bin/sh
exec ${memcheck[*]} --log-file=$logs/%q{KTDB_SCRIPT}.%p.tdslite.log "$build/tdslite" "\$@"
WRAP
cat >"$logs/regina" <<WRAP
#!/bin/sh
exec ${memcheck[*]} --log-file=$logs/%q{KTDB_SCRIPT}.%p.regina.log regina "\$@"
WRAP
chmod +x "$logs/tdslite" "$logs/regina"

status=0
for script in "${scripts[@]}"; do
  [ -f "$rexx/$script.rexx" ] || continue
  echo "== $script"
  rm -rf "$work/webroot"
  if ! (cd "$work" && KTDB_SCRIPT=$script KTDB_FILE_ROOT="$work/webroot" \
        LD_LIBRARY_PATH="$build" REGINA_MACROS="$rexx/lib" timeout 900 \
        "$rexx/with_tdslite.sh" "$logs/tdslite" "$logs/regina" "$rexx/$script.rexx" \
        >"$logs/$script.out" 2>&1) || grep -q FAIL "$logs/$script.out"; then
    echo "NOTE $script: a check failed under valgrind (see $logs/$script.out):"
    grep -a FAIL "$logs/$script.out" | head -n 5
  fi
done
/usr/bin/python3 - "$logs" <<'PY' || status=1
import pathlib, re, sys
bad = 0
for log in sorted(pathlib.Path(sys.argv[1]).glob("*.log")):
    text = log.read_text(errors="replace")
    is_server = log.name.endswith(".tdslite.log")
    # Records are separated by blank lines after the "==pid==" prefix.
    records = re.split(r"\n==\d+== \n", text)
    found = []
    for record in records:
        if re.search(r"Invalid (read|write|free)|uninitialised|Mismatched free|overlap", record):
            found.append(record)
        elif "definitely lost" in record and "loss record" in record:
            if is_server or "rexxktdb" in record:
                found.append(record)
    for record in found:
        print(f"--- {log.name}\n{record}")
    summary = re.search(r"ERROR SUMMARY: (\d+)", text)
    print(f"{log.name}: {len(found)} finding(s) of ours"
          f"{'' if summary is None else ', valgrind error summary ' + summary.group(1)}")
    bad += len(found)
sys.exit(1 if bad else 0)
PY
echo "valgrind logs: $logs"
exit $status
