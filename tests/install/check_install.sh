#!/usr/bin/env bash
# Stages an install of BUILD_DIR under a temporary DESTDIR with prefix /usr
# (as the Debian package lays it out) and checks that every file is where it
# belongs, that the library loads into Regina from there, that the man pages
# render without a warning, and that the manual documents every function the
# library exports.
#
# Usage: check_install.sh BUILD_DIR SOURCE_DIR REGINA
set -u
build=$1
source=$2
regina=$3
stage=$(mktemp -d "${TMPDIR:-/tmp}/ktdb-install.XXXXXX")
trap 'rm -rf "$stage"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# One component, so that the manifest written (install_manifest_Unspecified.txt)
# is not the one `make uninstall` reads.
if ! DESTDIR="$stage" cmake --install "$build" --prefix /usr --component Unspecified >"$stage.log" 2>&1; then
  cat "$stage.log"
  rm -f "$stage.log"
  fail "cmake --install failed"
  exit 1
fi
rm -f "$stage.log"
root="$stage/usr"

lib=$(find "$root/lib" -name librexxktdb.so 2>/dev/null | head -n 1)
[ -n "$lib" ] || fail "librexxktdb.so is not under usr/lib"
[ -x "$root/bin/tdslite" ] || fail "usr/bin/tdslite is missing or not executable"
for f in share/man/man3/rexxktdb.3 share/man/man1/tdslite.1 \
         share/doc/rexxktdb/rexxktdb.html share/doc/rexxktdb/rexxktdb.md \
         share/doc/rexxktdb/tdslite.html share/doc/rexxktdb/README.md \
         share/doc/rexxktdb/examples/report_html.rexx share/doc/rexxktdb/examples/export_csv.rexx \
         share/doc/rexxktdb/examples/load_files.rexx share/doc/rexxktdb/examples/run_sql.rexx \
         share/doc/rexxktdb/examples/sample_data.sql share/doc/rexxktdb/examples/report.sql; do
  [ -s "$root/$f" ] || fail "$f is missing or empty"
done
[ -x "$root/share/doc/rexxktdb/examples/run.sh" ] || fail "examples/run.sh is not executable"
[ -e "$root/share/doc/rexxktdb/examples/out" ] && fail "the examples' output folder was installed"
# Nothing but the staged tree is written: no file lands outside DESTDIR's usr.
others=$(cd "$stage" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$others" ] || fail "files installed outside usr: $others"

# The staged library is the one Regina loads: its 14 functions register.
if [ -n "$lib" ]; then
  script="$stage/load.rexx"
  cat >"$script" <<'REXX'
call RxFuncAdd 'KTLoadFuncs', 'rexxktdb', 'KTLoadFuncs'
say KTLoadFuncs() KTDropFuncs()
REXX
  # KTDB_REXX_PRELOAD: the sanitizer runtime an instrumented library needs.
  got=$(LD_PRELOAD="${KTDB_REXX_PRELOAD:-}" LD_LIBRARY_PATH="$(dirname "$lib")" "$regina" "$script" 2>&1)
  [ "$got" = "1 1" ] || fail "the staged library did not load into Regina: $got"
fi

# The man pages render cleanly: groff -ww warns of every bad request or
# escape (but for lines it cannot adjust, which tables with long words have).
for page in "$root/share/man/man3/rexxktdb.3" "$root/share/man/man1/tdslite.1"; do
  [ -f "$page" ] || continue
  warnings=$(LC_ALL=C.UTF-8 groff -t -man -Tutf8 -ww -Wbreak -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings: $warnings"
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)
  echo "$text" | grep -q "^NAME" || fail "$(basename "$page") has no NAME section"
done

# Every exported function has its entry in the manual and in the HTML page.
man_text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/share/man/man3/rexxktdb.3" 2>/dev/null)
for name in $(sed -n 's/^KTDB_FUNCTION([A-Za-z0-9]*, *\([A-Z0-9]*\)).*/\1/p' "$source/frame/functions.def"); do
  printf '%s\n' "$man_text" | grep -qi "^ *$name(" || fail "the man page has no entry for $name"
  grep -qi "<h3 id=\"[^\"]*\">$name(" "$root/share/doc/rexxktdb/rexxktdb.html" ||
    fail "the HTML manual has no entry for $name"
done
# The message numbers a user looks up.
for number in 20002 20003 20009 20047 20049 18456 208 207 102 156 2627 515 8152 245; do
  printf '%s\n' "$man_text" | grep -qw "$number" || fail "the man page does not explain message $number"
done

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "install layout: ok"
