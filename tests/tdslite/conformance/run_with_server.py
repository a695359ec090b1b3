"""Runs a client program against a freshly started tdslite.

Usage: run_with_server.py TDSLITE-BINARY [server options...] -- PROGRAM ARGS...
Every `{port}` in the program's arguments is replaced by the server's port.
The program's exit status is the test's; the server must also stop cleanly.
"""
import subprocess
import sys

from harness import Server


def main():
    sep = sys.argv.index("--")
    server_args = sys.argv[1:sep]
    program = sys.argv[sep + 1:]
    with Server(*server_args) as server:
        cmd = [a.replace("{port}", str(server.port)) for a in program]
        rc = subprocess.run(cmd, timeout=600).returncode
        if not server.alive():
            print("tdslite died during the test")
            return 1
    return rc


if __name__ == "__main__":
    sys.exit(main())
