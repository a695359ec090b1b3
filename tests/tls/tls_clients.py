"""Encrypted connections to tdslite from tsql (FreeTDS, GnuTLS) and pytds,
with a recording proxy between them that must see neither the password (in
any encoding, the scrambled login form included) nor the selected data.

Usage: tls_clients.py TDSLITE WORKDIR
"""
import os
import pty
import select
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tdslite", "conformance"))
sys.path.insert(0, HERE)

from harness import Checker, Server  # noqa: E402
from recording_proxy import RecordingProxy  # noqa: E402
import tls_files  # noqa: E402

PASSWORD = "Pw-7f3a!Secret"
MARKER = "TLSMARKER4711"
QUERY = "select '%s' as m, 42 as n\ngo\nexit\n" % MARKER


def wire_forms(secret):
    """The forms a secret may take on the wire: as typed, UTF-16LE, and
    the login's scrambled UTF-16LE (nibbles swapped, then XOR 0xA5)."""
    utf16 = secret.encode("utf-16-le")
    scrambled = bytes((((b << 4) & 0xF0) | (b >> 4)) ^ 0xA5 for b in utf16)
    return {"plain": secret.encode(), "utf-16le": utf16, "scrambled": scrambled}


def seen(data, secret):
    return sorted(name for name, form in wire_forms(secret).items() if form in data)


def tsql(conf, section, sql=QUERY, user="ktdb", password=PASSWORD, env=None, timeout=60):
    environment = dict(os.environ, FREETDSCONF=conf, LC_ALL="C.UTF-8")
    environment.pop("TDSVER", None)
    environment.update(env or {})
    # A tsql that never ends fails the test (TimeoutExpired) before ctest's
    # TIMEOUT would.
    p = subprocess.run(["tsql", "-S", section, "-U", user, "-P", password],
                       input=sql, capture_output=True, text=True, env=environment,
                       timeout=timeout)
    return p.returncode, p.stdout + p.stderr


def main():
    tdslite, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    files = tls_files.make(work)
    check = Checker()

    # ---- the default certificate (self-signed, made at start) ----
    with Server(tdslite, "--user", "ktdb:" + PASSWORD, "--verbose") as server, \
            RecordingProxy(server.port) as proxy:
        conf = tls_files.freetds_conf(work, "default.conf", proxy.port)
        # (section, TDSVER, whole session encrypted, login encrypted)
        cases = [
            ("require", None, True, True),
            ("plain74", None, False, True),       # FreeTDS default: login only
            ("off", None, False, False),          # no TLS at all
            ("plain74", "7.0", False, False),     # 7.0 has no PRELOGIN
            ("plain74", "7.1", False, True),
            ("require", "7.2", True, True),
        ]
        for section, version, full, login in cases:
            what = "%s/%s" % (section, version or "conf")
            proxy.clear()
            rc, out = tsql(conf, section, env={"TDSVER": version} if version else None)
            check.true(what + ": rows read", rc == 0 and MARKER in out and "42" in out)
            wire = proxy.to_server() + proxy.to_client()
            check.eq(what + ": password forms on the wire", seen(wire, PASSWORD),
                     [] if login else ["scrambled"])
            # The marker crosses in the batch (UTF-16LE) and in the row.
            check.eq(what + ": marker on the wire", seen(wire, MARKER),
                     [] if full else ["plain", "utf-16le"])

        # Many rows through TLS records: nothing lost or reordered.
        proxy.clear()
        doublings = "".join("insert into big select n + (select max(n) from big) from big\n"
                            for _ in range(14))
        rc, out = tsql(conf, "require",
                          "create table big (n int)\ninsert into big values (1)\n" + doublings +
                          "select count(*), sum(n) from big\ngo\n"
                          "select n, '%s' from big\ngo\nexit\n" % MARKER)
        rows = 1 << 14
        check.true("16384 rows: count and sum",
                   rc == 0 and ("%d\t%d" % (rows, rows * (rows + 1) // 2)) in out)
        check.eq("16384 rows: all read", out.count(MARKER), rows)
        check.eq("16384 rows: marker on the wire", seen(proxy.to_client(), MARKER), [])

        # pytds: encrypts only when given a CA file; the self-signed
        # certificate is then not trusted.
        code = ("import pytds\n"
                "try:\n"
                "  c = pytds.connect('127.0.0.1', port=%d, user='ktdb', password=%r,"
                " cafile=%r, validate_host=False, login_timeout=10)\n"
                "  print('CONNECTED')\n"
                "except Exception as e:\n"
                "  print('REFUSED', type(e).__name__, e)\n") % (
                    proxy.port, PASSWORD, files["ca"])
        p = subprocess.run(["/usr/bin/python3", "-c", code], capture_output=True, text=True,
                           timeout=60)
        check.true("pytds, self-signed certificate not trusted: " + p.stdout.strip(),
                   p.stdout.startswith("REFUSED"))
        check.true("server alive after the refused handshake", server.alive())

    # ---- a certificate from a CA of the test's own ----
    with Server(tdslite, "--user", "ktdb:" + PASSWORD, "--tls-cert", files["cert"],
                "--tls-key", files["key"]) as server, RecordingProxy(server.port) as proxy:
        conf = tls_files.freetds_conf(work, "ca.conf", proxy.port, ca=files["ca"],
                                      other_ca=files["other_ca"])
        for section, ok in [("verified", True), ("verified_ip", False), ("other_ca", False)]:
            proxy.clear()
            rc, out = tsql(conf, section)
            check.eq("tsql %s: connects" % section, rc == 0 and MARKER in out, ok)
            check.eq("tsql %s: password forms on the wire" % section,
                     seen(proxy.to_server(), PASSWORD), [])
        for ca, ok in [(files["ca"], True), (files["other_ca"], False)]:
            proxy.clear()
            code = ("import pytds\n"
                    "try:\n"
                    "  c = pytds.connect('localhost', port=%d, user='ktdb', password=%r,"
                    " cafile=%r, validate_host=True, login_timeout=10)\n"
                    "  cur = c.cursor(); cur.execute(\"select '%s'\"); print(cur.fetchall())\n"
                    "except Exception as e:\n"
                    "  print('REFUSED', type(e).__name__, e)\n") % (
                        proxy.port, PASSWORD, ca, MARKER)
            p = subprocess.run(["/usr/bin/python3", "-c", code], capture_output=True, text=True,
                               timeout=60)
            what = "pytds %s" % os.path.basename(ca)
            check.eq(what + ": connects (%s)" % p.stdout.strip()[:120], MARKER in p.stdout, ok)
            wire = proxy.to_server() + proxy.to_client()
            check.eq(what + ": secrets on the wire", seen(wire, PASSWORD) + seen(wire, MARKER), [])

    # ---- --force-encryption ----
    with Server(tdslite, "--user", "ktdb:" + PASSWORD, "--force-encryption") as server, \
            RecordingProxy(server.port) as proxy:
        conf = tls_files.freetds_conf(work, "force.conf", proxy.port)
        for section, version, ok in [("plain74", None, True), ("require", None, True),
                                     ("plain74", "7.0", False), ("off", None, False)]:
            what = "forced, %s/%s" % (section, version or "conf")
            proxy.clear()
            rc, out = tsql(conf, section, env={"TDSVER": version} if version else None)
            check.eq(what + ": connects", rc == 0 and MARKER in out, ok)
            if ok:
                wire = proxy.to_server() + proxy.to_client()
                check.eq(what + ": secrets on the wire",
                         seen(wire, PASSWORD) + seen(wire, MARKER), [])
            if version == "7.0":
                check.true(what + ": the server says why", "Msg 17835" in out)
        check.true("forced: server alive", server.alive())

    # ---- bad certificate options ----
    for args, message in [
            (["--tls-cert", files["cert"]], "go together"),
            (["--tls-cert", files["cert"], "--tls-key", files["other_key"]], "private key"),
            (["--tls-cert", os.path.join(work, "missing.pem"), "--tls-key", files["key"]],
             "cannot load the certificate"),
            (["--tls-cert", files["cert"], "--tls-key", files["ca"]], "cannot load the private key"),
            (["--force-encryption=1"], "takes no value")]:
        p = subprocess.run([tdslite, "--port", "0"] + args, capture_output=True, text=True,
                           timeout=30)
        check.true("options %s: status 2, %r (%d, %s)" % (
            " ".join(os.path.basename(a) for a in args), message, p.returncode,
            p.stderr.strip()), p.returncode == 2 and message in p.stderr)

    # ---- a key protected by a passphrase fails at once, even on a terminal ----
    locked = os.path.join(work, "locked.key")
    subprocess.run(["openssl", "pkey", "-in", files["key"], "-out", locked, "-aes256",
                    "-passout", "pass:secret"], check=True, capture_output=True, timeout=60)
    status, said = run_on_terminal([tdslite, "--port", "0", "--tls-cert", files["cert"],
                                    "--tls-key", locked], 20)
    check.true("passphrase key on a terminal: status 2, no prompt (%s, %r)" % (status, said[-200:]),
               status == 2 and "cannot load the private key" in said)

    check.done()


def run_on_terminal(argv, seconds):
    """Runs argv with a terminal as its controlling tty; answers its exit
    status (None when it was still running after `seconds`) and its output."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(argv[0], argv)
    out, deadline = b"", time.monotonic() + seconds
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                chunk = b""
            out += chunk
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            os.close(fd)
            return os.waitstatus_to_exitcode(status), out.decode(errors="replace")
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    os.close(fd)
    return None, out.decode(errors="replace")


if __name__ == "__main__":
    main()
