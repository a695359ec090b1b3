"""The package's logins over TLS, end to end: REXX scripts (tls_login.rexx)
run by regina call KTConnect through a recording proxy to tdslite, with
freetds.conf sections and TDSVER choosing version and encryption.

Usage: package_tls.py TDSLITE REGINA WORKDIR
(LD_LIBRARY_PATH finds librexxktdb.so; KTDB_REGINA_PRELOAD, when set, is
regina's LD_PRELOAD.)
"""
import os
import re
import signal
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tdslite", "conformance"))
sys.path.insert(0, HERE)

from harness import Checker  # noqa: E402
from recording_proxy import RecordingProxy  # noqa: E402
from tls_clients import PASSWORD, MARKER, seen  # noqa: E402
import tls_files  # noqa: E402

QUERY = "select m, n from marks order by n"


class Server:
    """tdslite on a free port, its --verbose log kept in a file."""

    def __init__(self, binary, log, *args):
        self.log = log
        self.proc = subprocess.Popen(
            [binary, "--port", "0", "--verbose", "--user", "ktdb:" + PASSWORD, *args],
            stdout=subprocess.PIPE, stderr=open(log, "w"), text=True)
        line = self.proc.stdout.readline()
        m = re.fullmatch(r"tdslite listening on 127\.0\.0\.1:(\d+)\n", line)
        if not m:
            self.proc.kill()
            raise RuntimeError("tdslite did not start: %r" % line)
        self.port = int(m.group(1))

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=20)

    def lines(self):
        with open(self.log) as f:
            return f.read().splitlines()


def rexx(regina, conf, server, env=None, user="ktdb", password=PASSWORD):
    environment = dict(os.environ, FREETDSCONF=conf)
    environment.pop("TDSVER", None)
    environment.update(env or {})
    preload = os.environ.get("KTDB_REGINA_PRELOAD")
    if preload:
        environment["LD_PRELOAD"] = preload
    p = subprocess.run([regina, os.path.join(HERE, "tls_login.rexx"), user, password, server,
                        QUERY], capture_output=True, text=True, env=environment, timeout=120)
    answer = {}
    for line in p.stdout.splitlines():
        key, _, value = line.partition(" ")
        answer.setdefault(key, value)
        if key == "ROW":
            answer.setdefault("ROWLIST", []).append(value)
    answer["STDERR"] = p.stderr
    return answer


def main():
    tdslite, regina, work = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(work, exist_ok=True)
    files = tls_files.make(work)
    check = Checker()
    rows = ["1 %s 1" % MARKER, "2 %s 2" % MARKER, "3 %s 3" % MARKER]

    def prepare(server):
        conf = tls_files.freetds_conf(work, "setup.conf", server.port)
        environment = dict(os.environ, FREETDSCONF=conf)
        environment.pop("TDSVER", None)
        subprocess.run(["tsql", "-S", "plain74", "-U", "ktdb", "-P", PASSWORD],
                       input="create table marks (m varchar(20), n int)\n"
                             "insert into marks values ('%s', 1)\n"
                             "insert into marks values ('%s', 2)\n"
                             "insert into marks values ('%s', 3)\n"
                             "create table big (n int)\ninsert into big values (1)\n" %
                             ((MARKER,) * 3) +
                             "insert into big select n + (select max(n) from big) from big\n" * 15 +
                             "go\nexit\n",
                       capture_output=True, text=True, env=environment, timeout=60, check=True)

    def run(what, proxy, conf, server_name, env, expect):
        """expect: 'full' (rows, nothing secret on the wire), 'login' (rows,
        the password hidden, the data plain), 'plain' (rows, the scrambled
        password visible), or a refusal: ('refused', text the report holds,
        the password forms the refused login could not help sending)."""
        proxy.clear()
        a = rexx(regina, conf, server_name, env)
        wire = proxy.to_server() + proxy.to_client()
        if isinstance(expect, tuple):
            check.eq(what + ": KTConnect", a.get("CONNECT"), "0")
            report = " ".join(a.get(k, "") for k in ("MSGNO", "MSGTEXT", "DBERR", "DBERRSTR"))
            check.true(what + ": the report says why (%s)" % report, expect[1] in report)
            check.true(what + ": answers within 5 s (%s)" % a.get("SECONDS"),
                       a.get("SECONDS") is not None and float(a["SECONDS"]) < 5)
            check.eq(what + ": password forms on the wire", seen(wire, PASSWORD),
                     list(expect[2:]))
            return a
        check.eq(what + ": KTConnect (%s)" % a.get("DBERRSTR", "") + a["STDERR"][-300:],
                 a.get("CONNECT"), "1")
        check.eq(what + ": rows", a.get("ROWLIST"), rows)
        check.eq(what + ": password forms on the wire", seen(wire, PASSWORD),
                 ["scrambled"] if expect == "plain" else [])
        check.eq(what + ": marker on the wire", seen(wire, MARKER) != [], expect != "full")
        return a

    # ---- the default certificate ----
    server = Server(tdslite, os.path.join(work, "default.log"))
    prepare(server)
    with RecordingProxy(server.port) as proxy:
        conf = tls_files.freetds_conf(work, "package.conf", proxy.port)
        address = "127.0.0.1:%d" % proxy.port
        a = run("require", proxy, conf, "require", None, "full")
        check.eq("require: TDS 7.4 (bigint as itself)", a.get("BIGINT"), "B BIGINT 20")
        # The package's default: TDS 7.4, FreeTDS's default encryption
        # (request): the login is encrypted.
        a = run("host:port", proxy, conf, address, None, "login")
        check.eq("host:port: TDS 7.4", a.get("BIGINT"), "B BIGINT 20")
        run("default section", proxy, conf, "default", None, "login")
        # TDSVER and the section's version still choose, 7.0 included.
        a = run("host:port, TDSVER=7.0", proxy, conf, address, {"TDSVER": "7.0"}, "plain")
        check.eq("host:port, TDSVER=7.0: bigint as numeric(19,0)", a.get("BIGINT"),
                 "B DECIMAL 19.0")
        run("v72", proxy, conf, "v72", None, "login")
        run("off", proxy, conf, "off", None, "plain")
        # encryption = require is never given up for a version without it.
        for what, section, env in [("require, TDSVER=7.0", "require", {"TDSVER": "7.0"}),
                                   ("require70", "require70", None),
                                   ("require70, TDSVER=70", "require70", {"TDSVER": "70"})]:
            run(what, proxy, conf, section, env, ("refused", "encryption = require"))
        a = run("require70, TDSVER=7.4", proxy, conf, "require70", {"TDSVER": "7.4"}, "full")
    server.stop()
    logins = [line for line in server.lines() if "logged in" in line]
    versions = [line.rsplit(" ", 1)[-1] for line in logins]
    # The table's owner (tsql), then two logins per KTConnect.
    check.eq("server: the versions logged in with", versions,
             ["7.4"] + ["7.4"] * 6 + ["7.0"] * 2 + ["7.2"] * 2 + ["7.4"] * 4)

    # ---- --force-encryption ----
    server = Server(tdslite, os.path.join(work, "force.log"), "--force-encryption")
    prepare(server)
    with RecordingProxy(server.port) as proxy:
        conf = tls_files.freetds_conf(work, "force.conf", proxy.port)
        address = "127.0.0.1:%d" % proxy.port
        run("forced, host:port", proxy, conf, address, None, "full")
        # A 7.0 login cannot be encrypted: it is refused after it was sent.
        run("forced, TDSVER=7.0", proxy, conf, address, {"TDSVER": "7.0"},
            ("refused", "17835 Encryption is required", "scrambled"))
        # The server closes the connection: the report names that cause
        # (20017), not the "connection failed" (20002) that follows it.
        run("forced, off", proxy, conf, "off", None, ("refused", "20017"))
    server.stop()

    # ---- a certificate from the test's CA ----
    server = Server(tdslite, os.path.join(work, "ca.log"), "--tls-cert", files["cert"],
                    "--tls-key", files["key"])
    prepare(server)
    with RecordingProxy(server.port) as proxy:
        conf = tls_files.freetds_conf(work, "ca.conf", proxy.port, ca=files["ca"],
                                      other_ca=files["other_ca"])
        a = run("verified", proxy, conf, "verified", {"KTDB_TLS_EXTRA": "cancel"}, "full")
        # 2 of 32768 rows, the rest cancelled by an attention through TLS.
        check.eq("verified: two rows, then the rest cancelled", a.get("CANCEL"), "1 2 1 2")
        check.eq("verified: the connection goes on", a.get("AFTER"), "32768")
        # A result spoiled on the way: the client's TLS layer notices, the
        # call ends with a reason, in time.
        proxy.corrupt_to_client_at = 60000
        a = rexx(regina, conf, "verified", {"KTDB_TLS_EXTRA": "all"})
        proxy.corrupt_to_client_at = None
        result, stored, dberr, seconds = (a.get("ALL", "") + " ? ? ? ?").split()[:4]
        check.true("spoiled result: reported (%s: %s)" % (a.get("ALL"), a.get("ALLERR")),
                   dberr not in ("0", "?") and stored != "32768")
        check.true("spoiled result: within 10 s (%s)" % seconds,
                   seconds != "?" and float(seconds) < 10)
        form = (a.get("FORM", "") + " ? ? ? ?").split()
        check.true("spoiled formatted result: reported (%s)" % a.get("FORM"),
                   form[1] != "32768" and form[2] not in ("0", "?") and float(form[3]) < 10)
        batch = (a.get("BATCH", "") + " ? ? ? ? ?").split()
        check.true("spoiled batch: its set failed and the loss is reported (%s)" % a.get("BATCH"),
                   batch[2] == "0" and batch[3] != "32768" and batch[4] not in ("0", "?"))
        # The connection is gone: the next call says so (not "no rows").
        one = (a.get("ONE", "") + " ? ? ?").split()
        check.true("after the spoiled result: KTSelectOne reports the loss (%s)" % a.get("ONE"),
                   one[0] != "32768" and one[1] not in ("0", "?"))
        run("verified, after the spoiled result", proxy, conf, "verified", None, "full")
        run("other CA", proxy, conf, "other_ca", None, ("refused", "20002"))
        run("name not in the certificate", proxy, conf, "verified_ip", None, ("refused", "20002"))
    server.stop()
    check.done()


if __name__ == "__main__":
    main()
