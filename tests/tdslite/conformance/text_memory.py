"""A large image value written with dbwritetext/dbmoretext and read back
must stream through the server: its peak resident size (VmHWM) may grow by
less than the bound while the value goes in and out.

Usage: text_memory.py TDSLITE DBLIB_TEXT SIZE-MiB BOUND-MiB
"""
import subprocess
import sys

from harness import Server


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise RuntimeError("no VmHWM")


def main():
    tdslite, program, size_mib, bound_mib = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    with Server(tdslite) as server:
        # One small round trip first, so that the baseline includes a
        # connection's ordinary set-up.
        before = peak_kib(server.proc.pid)
        rc = subprocess.run([program, str(server.port), "74", size_mib], timeout=800).returncode
        after = peak_kib(server.proc.pid)
        alive = server.alive()
    growth = (after - before) / 1024.0
    print("server VmHWM %d KiB -> %d KiB: grew %.1f MiB for a %s MiB image" %
          (before, after, growth, size_mib))
    if rc != 0 or not alive:
        print("FAIL: the round trip failed")
        return 1
    if growth >= bound_mib:
        print("FAIL: grew by %.1f MiB, bound %d MiB" % (growth, bound_mib))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
