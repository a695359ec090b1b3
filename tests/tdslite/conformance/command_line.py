"""The command line: bad options fail with status 2 and a one-line message
naming the option; --port 0 prints the listening line; SIGINT and SIGTERM
stop the server with status 0 and remove its private database; --user
replaces the default login.

Usage: command_line.py PATH/TO/tdslite-binary [--engine]
(--engine: the binary has the real engine, which opens --database files.)
"""
import glob
import os
import signal
import subprocess
import sys
import tempfile

import pytds

from harness import Checker, Server


def main():
    binary = sys.argv[1]
    ck = Checker()
    bad = [
        (["--port", "x"], "--port"),
        (["--port", "70000"], "--port"),
        (["--port"], "--port"),
        (["--bogus"], "--bogus"),
        (["--user", "nopassword"], "--user"),
        (["--verbose=1"], "--verbose"),
        (["--dbname", ""], "--dbname"),
        (["--host", "no.such.host.invalid", "--port", "0"], "--host"),
        (["--file-root", "/no/such/dir"], "--file-root"),
        (["--max-connections", "0"], "--max-connections"),
        (["--login-timeout", "-1"], "--login-timeout"),
        (["--send-timeout", "x"], "--send-timeout"),
        (["--users-file", "/no/such/file"], "--users-file"),
        (["--max-value-bytes", "10"], "--max-value-bytes"),
        (["--host", "0.0.0.0", "--port", "0"], "--host"),
    ]
    if "--engine" in sys.argv[2:]:
        bad.append((["--port", "0", "--database", "/no/such/dir/x.db"], "--database"))
    for args, option in bad:
        p = subprocess.run([binary, *args], capture_output=True, text=True, timeout=20)
        ck.eq("%s: status" % args, p.returncode, 2)
        lines = p.stderr.strip().splitlines()
        ck.true("%s: one line naming %s (%r)" % (args, option, p.stderr),
                len(lines) == 1 and option in lines[0])
        ck.eq("%s: nothing on stdout" % args, p.stdout, "")

    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, TMPDIR=tmp)
        for sig in (signal.SIGINT, signal.SIGTERM):
            p = subprocess.Popen([binary, "--port", "0"], stdout=subprocess.PIPE, text=True,
                                 env=env)
            line = p.stdout.readline()
            ck.true("listening line %r" % line, line.startswith("tdslite listening on 127.0.0.1:"))
            port = int(line.strip().rsplit(":", 1)[1])
            ck.true("private database exists", len(glob.glob(tmp + "/*")) >= 1)
            conn = pytds.connect(server="127.0.0.1", port=port, user="sa", password="",
                                 autocommit=True, login_timeout=10)
            p.send_signal(sig)
            ck.eq("exit status after %s" % sig.name, p.wait(timeout=20), 0)
            ck.eq("rest of stdout", p.stdout.read(), "")
            conn.close()
            ck.eq("private database removed", glob.glob(tmp + "/*"), [])

    with Server(binary, "--user", "alice:s3cr:et", "--user", "bob:") as server:
        for user, password, ok in (("alice", "s3cr:et", True), ("bob", "", True),
                                   ("sa", "", False), ("alice", "s3cr", False)):
            try:
                pytds.connect(server="127.0.0.1", port=server.port, user=user,
                              password=password, autocommit=True, login_timeout=10).close()
                ck.true("login %s/%s accepted" % (user, password), ok)
            except pytds.OperationalError as e:
                ck.true("login %s/%s refused" % (user, password), not ok and e.msg_no == 18456)
    ck.done()


if __name__ == "__main__":
    main()
