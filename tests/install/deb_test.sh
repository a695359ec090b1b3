#!/usr/bin/env bash
# Installs the Debian package into a clean Debian 12 root and runs every
# example there against the installed tdslite, then checks `man rexxktdb`.
#
# Usage (as root): tests/install/deb_test.sh DEB WORKDIR
#
# The clean root is made with debootstrap (installed when missing) from the
# host's mirror, and uses the host's apt sources, so that apt resolves the
# package's dependencies as on a fresh machine. When debootstrap cannot
# reach a mirror, the package is unpacked with dpkg -x into a staging root
# instead and the examples run from there with LD_LIBRARY_PATH; the output
# says which of the two ran.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 DEB WORKDIR" >&2
  exit 2
fi
deb="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
work=$2
if [ "$(id -u)" != 0 ]; then
  echo "deb-test: run as root (debootstrap and chroot need it)" >&2
  exit 1
fi
examples=(report_html export_csv load_files run_sql)
mkdir -p "$work"
work="$(cd "$work" && pwd)"

mirror=$(sed -n 's/^URIs: *\(.*debian\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $3 == "bookworm" {print $2; exit}' /etc/apt/sources.list 2>/dev/null)
[ -n "$mirror" ] || mirror=http://deb.debian.org/debian

# debootstrap fills base once; every run installs into a fresh copy of it.
base="$work/base"
root="$work/root"
chroot_ready=
if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi
if [ ! -x "$base/usr/bin/apt-get" ]; then
  rm -rf "$base"
  timeout 900 debootstrap --variant=minbase bookworm "$base" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    rm -rf "$base"
fi
if [ -x "$base/usr/bin/apt-get" ]; then
  umount "$root/proc" 2>/dev/null || true
  rm -rf "$root"
  cp -a "$base" "$root"
  chroot_ready=1
else
  echo "deb-test: debootstrap could not build a root from $mirror (see $work/debootstrap.log)"
fi

if [ -n "$chroot_ready" ]; then
  echo "deb-test: installing $(basename "$deb") into a clean Debian 12 root ($root)"
  # The host's apt sources replace the root's own (which name the same mirror).
  rm -f "$root/etc/apt/sources.list"
  cp -a /etc/apt/sources.list* "$root/etc/apt/" 2>/dev/null || true
  rm -f "$root"/etc/apt/sources.list.d/*.disabled*
  cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
  mount -t proc proc "$root/proc"
  # /proc must never stay mounted inside the build folder (make clean removes it).
  trap 'umount "$root/proc" 2>/dev/null || true' EXIT
  trap 'exit 1' INT TERM
  cp "$deb" "$root/tmp/rexxktdb.deb"
  chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  chroot "$root" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends /tmp/rexxktdb.deb regina-rexx man-db
  for name in "${examples[@]}"; do
    echo "--- $name"
    chroot "$root" env OUT=/tmp/examples-out HOME=/root \
      /usr/share/doc/rexxktdb/examples/run.sh "$name"
  done
  echo "--- man rexxktdb"
  chroot "$root" man -w rexxktdb
  chroot "$root" env MANPAGER=cat man rexxktdb 2>&1 | head -n 5
  echo "deb-test: every example ran in the clean root"
else
  stage="$work/stage"
  rm -rf "$stage"
  dpkg -x "$deb" "$stage"
  echo "deb-test: FALLBACK: unpacked into $stage, running with LD_LIBRARY_PATH"
  for name in "${examples[@]}"; do
    echo "--- $name"
    PATH="$stage/usr/bin:$PATH" LD_LIBRARY_PATH="$stage/usr/lib:$stage/usr/lib/x86_64-linux-gnu" \
      OUT="$work/examples-out" "$stage/usr/share/doc/rexxktdb/examples/run.sh" "$name"
  done
  man -l "$stage/usr/share/man/man3/rexxktdb.3" 2>&1 | head -n 5
  echo "deb-test: every example ran from the staging root (not a clean root)"
fi
