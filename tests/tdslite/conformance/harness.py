"""Starts a tdslite binary on a free port for one test and stops it again.

Used by every client-driven test: each starts its own server with
`--port 0`, reads the port from the one line the server prints, and at the
end sends SIGTERM and checks that the server exits with status 0.
"""
import os
import re
import signal
import subprocess
import sys
import time


class Server:
    def __init__(self, binary, *args):
        self.binary = binary
        self.args = list(args)
        self.proc = None
        self.port = None

    def __enter__(self):
        self.proc = subprocess.Popen(
            [self.binary, "--port", "0", *self.args],
            stdout=subprocess.PIPE, stderr=sys.stderr, text=True)
        line = self.proc.stdout.readline()
        m = re.fullmatch(r"tdslite listening on 127\.0\.0\.1:(\d+)\n", line)
        if not m:
            self.proc.kill()
            raise RuntimeError("unexpected first line from tdslite: %r" % line)
        self.port = int(m.group(1))
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                rc = self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                raise AssertionError("tdslite did not stop within 20 s of SIGTERM")
            if exc[0] is None and rc != 0:
                raise AssertionError("tdslite exited with status %d" % rc)
        return False

    def alive(self):
        return self.proc.poll() is None

    def open_fds(self):
        return len(os.listdir("/proc/%d/fd" % self.proc.pid))

    def threads(self):
        return len(os.listdir("/proc/%d/task" % self.proc.pid))


def tsql(port, sql, version="7.4", user="sa", password="", timeout=60):
    """Runs `sql` (batches separated by lines `go`) through tsql; answers
    (exit status, stdout, stderr)."""
    env = dict(os.environ, TDSVER=version, LC_ALL="C.UTF-8")
    p = subprocess.run(
        ["tsql", "-H", "127.0.0.1", "-p", str(port), "-U", user, "-P", password, "-o", "q"],
        input=sql, capture_output=True, text=True, env=env, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


class Checker:
    """Collects failures so that one run reports every broken case.

    `known` maps the start of a case's description to the reason it cannot
    pass yet (an engine gap, reported with the reason); such a case prints
    SKIP instead of failing, and a note once it passes.
    """

    def __init__(self, known=None):
        self.failures = 0
        self.known = known or {}

    def _known(self, what):
        for prefix, reason in self.known.items():
            if what.startswith(prefix):
                return reason
        return None

    def _fail(self, what, detail):
        reason = self._known(what)
        if reason:
            print("SKIP %s: known engine gap: %s" % (what, reason))
            return
        self.failures += 1
        print("FAIL %s%s" % (what, detail))

    def _pass(self, what):
        if self._known(what):
            print("NOTE %s now passes: drop it from the known gaps" % what)

    def eq(self, what, actual, expected):
        if actual != expected:
            self._fail(what, ":\n  got      %r\n  expected %r" % (actual, expected))
        else:
            self._pass(what)

    def true(self, what, cond):
        if not cond:
            self._fail(what, "")
        else:
            self._pass(what)

    def done(self):
        if self.failures:
            print("%d failure(s)" % self.failures)
            sys.exit(1)
        print("ok")
        sys.exit(0)


def connect(port, **options):
    """A python3-tds connection as sa to the tdslite on the loopback `port`:
    autocommit, a 10 s login and a 60 s query time-out unless `options` (any
    of pytds.connect's) say otherwise."""
    import pytds  # only the client-driven tests need it
    settings = dict(server="127.0.0.1", port=port, user="sa", password="", autocommit=True,
                    login_timeout=10, timeout=60)
    settings.update(options)
    return pytds.connect(**settings)


def first_value(cur, sql):
    """The first column of the first row `sql` answers."""
    cur.execute(sql)
    return cur.fetchall()[0][0]


def wait_until(pred, timeout=10.0):
    end = time.time() + timeout
    while time.time() < end:
        if pred():
            return True
        time.sleep(0.05)
    return pred()
