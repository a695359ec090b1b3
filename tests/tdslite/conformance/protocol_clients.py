"""python3-tds and tsql against tdslite_fake (the protocol layer over a
scripted engine): login at every TDS version, every type's value and NULL,
DONE counts and errors, transactions through transaction-manager requests,
cancel mid-result, concurrent connections, refused logins and RPC.

Usage: protocol_clients.py PATH/TO/tdslite_fake
"""
import datetime
import decimal
import sys
import threading

import pytds
from pytds.tds_base import TDS70, TDS71, TDS72, TDS73B, TDS74

from harness import Checker, Server, tsql

VERSIONS = [("7.0", TDS70), ("7.1", TDS71), ("7.2", TDS72), ("7.3", TDS73B), ("7.4", TDS74)]

EXPECTED_ROW = (
    255, -32768, -2147483648, -9223372036854775808, True, 1.5, -2.25e100,
    decimal.Decimal("-214748.3648"), decimal.Decimal("-1234.5678"),
    datetime.datetime(2079, 6, 6, 23, 59), datetime.datetime(2024, 2, 29, 13, 45, 7, 123000),
    decimal.Decimal("9999999999999999999999999999.9999999999"), decimal.Decimal("-123456.789"),
    "ab        ", "gr\u00fc\u00df \u20ac ", "\u00e9t\u00e9 ", "\u65e5\u672c \U0001F600",
    b"\x00\x01\xfe\x00", b"\x00\x00", "caf\u00e9 \u20ac text", "\u65e5\u672c ntext",
    b"\x00\xff\x00", 42)


def connect(port, version=TDS74, autocommit=True, **kw):
    return pytds.connect(server="127.0.0.1", port=port, user=kw.pop("user", "sa"),
                         password=kw.pop("password", ""), tds_version=version,
                         autocommit=autocommit, login_timeout=10, timeout=30, **kw)


def pytds_versions(port, ck):
    for name, version in VERSIONS:
        for autocommit in (True, False):
            what = "pytds %s autocommit=%s" % (name, autocommit)
            with connect(port, version, autocommit) as conn:
                cur = conn.cursor()
                cur.execute("types")
                rows = cur.fetchall()
                ck.eq(what + " types row", rows[0], EXPECTED_ROW)
                ck.eq(what + " NULL row", rows[1], (None,) * len(EXPECTED_ROW))
                ck.eq(what + " rowcount", cur.rowcount, 2)
                names = [d[0] for d in cur.description]
                ck.eq(what + " names", names[:3] + names[-1:],
                      ["c_tinyint", "c_smallint", "c_int", ""])
                cur.execute("multi")
                ck.eq(what + " multi first", cur.fetchall(), [(1,)])
                try:
                    while cur.nextset():
                        pass
                    ck.true(what + " multi: 8134 raised", False)
                except pytds.OperationalError as e:
                    ck.eq(what + " multi error", e.msg_no, 8134)
                try:
                    cur.execute("error")
                    ck.true(what + " error raised", False)
                except pytds.ProgrammingError as e:
                    ck.eq(what + " error number", e.msg_no, 208)
                cur.execute("echo")
                row = cur.fetchone()
                ck.eq(what + " odbc flag", row[3], 1)
                ck.true(what + " spid", row[2] >= 51)
                if not autocommit:
                    conn.commit()
                    conn.rollback()


def pytds_transactions(port, ck):
    # Transaction-manager requests: pytds begins a transaction right after
    # login and on every commit/rollback; tdslite reports the descriptors.
    with connect(port, TDS74, autocommit=False) as conn:
        cur = conn.cursor()
        ck.true("tm: transaction open after login", bool(conn._conn.tds72_transaction))
        cur.execute("echo")
        cur.fetchall()
        conn.commit()
        ck.true("tm: transaction open after commit", bool(conn._conn.tds72_transaction))
        conn.rollback()
        ck.true("tm: open after rollback", bool(conn._conn.tds72_transaction))


def pytds_cancel_and_concurrency(port, ck):
    with connect(port) as a, connect(port) as b:
        ca = a.cursor()
        ca.execute("rows 1000000")
        ck.eq("cancel: first row", ca.fetchone(), (0, "row 0", 0.0))
        # While `a` has a result pending, `b` is served.
        cb = b.cursor()
        cb.execute("rows 3")
        ck.eq("concurrent: rows", len(cb.fetchall()), 3)
        ca.cancel()
        ca.execute("rows 2")
        ck.eq("after cancel", ca.fetchall(), [(0, "row 0", 0.0), (1, "row 1", 0.5)])

    results = []

    def worker(n):
        with connect(port) as c:
            cur = c.cursor()
            cur.execute("rows %d" % n)
            results.append(len(cur.fetchall()))

    threads = [threading.Thread(target=worker, args=(20000 + i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    ck.eq("four concurrent clients", sorted(results), [20000, 20001, 20002, 20003])


def pytds_refusals(port, ck):
    for user, password in (("sa", "x"), ("nobody", "")):
        try:
            connect(port, user=user, password=password)
            ck.true("login %s/%s refused" % (user, password), False)
        except pytds.OperationalError as e:
            ck.eq("login refused number", e.msg_no, 18456)
            ck.eq("login refused text", str(e).splitlines()[0],
                  "Login failed for user '%s'." % user)
    try:
        connect(port, database="nosuchdb")
        ck.true("unknown database refused", False)
    except pytds.OperationalError as e:
        ck.true("unknown database: 4060 reported", "nosuchdb" in str(e))
    # sp_executesql runs with each parameter's value put in as a literal (the
    # scripted engine echoes the statement it was given); other procedures
    # are refused.
    params = (1, 2 ** 40, "it's \u00e9\u20ac\u65e5", 1.25, decimal.Decimal("-12.34"),
              datetime.datetime(2024, 2, 29, 13, 45, 7, 123000), None, True)
    # A date and time value keeps its type: datetime before 7.2, datetime2(6)
    # (python3-tds's choice) from 7.2.
    expected = ("select 1, cast(1099511627776 as bigint), N'it''s \u00e9\u20ac\u65e5', 1.25E0, "
                "-12.34, cast('2024-02-29 13:45:07.1230000' as %s), NULL, cast(1 as bit), "
                "'%%s @x', @@spid")
    for name, version in VERSIONS:
        with connect(port, version) as conn:
            cur = conn.cursor()
            binary = ", 0x00ff" if version >= TDS72 else ""
            expected_sql = expected % ("datetime2(6)" if binary else "datetime")
            values = params + ((pytds.Binary(b"\x00\xff"),) if binary else ())
            cur.execute("select %s, %s, %s, %s, %s, %s, %s, %s, '%%s @x', @@spid"
                        + (", %s" if binary else ""), values)
            ck.eq("sp_executesql %s" % name, cur.fetchall()[0][1], expected_sql + binary)
            try:
                cur.callproc("sp_who")
                ck.true("rpc refused", False)
            except pytds.ProgrammingError as e:
                ck.eq("rpc refused number", e.msg_no, 2812)
            cur.execute("rows 1")
            ck.eq("usable after rpc", cur.fetchall(), [(0, "row 0", 0.0)])


def tsql_versions(port, ck):
    for version in ("7.0", "7.1", "7.2", "7.3", "7.4"):
        batches = "types\ngo\nmulti\ngo\nselect N'\u00e9\u20ac\u65e5'\ngo\n"
        rc, out, err = tsql(port, batches, version)
        ck.eq("tsql %s status" % version, rc, 0)
        ck.true("tsql %s values" % version,
                "255\t-32768\t-2147483648\t-9223372036854775808\t1\t1.5\t" in out)
        ck.true("tsql %s utf-8 nvarchar" % version, "\u65e5\u672c \U0001F600" in out)
        ck.true("tsql %s utf-8 varchar" % version, "gr\u00fc\u00df \u20ac " in out)
        # The batch text reached the engine as UTF-8 (varchar loses what
        # code page 1252 lacks, as in SQL Server; nvarchar keeps it).
        ck.true("tsql %s batch text" % version,
                "select N'\u00e9\u20ac?'\n\tselect N'\u00e9\u20ac\u65e5'" in out)
        ck.true("tsql %s 8134" % version, "Msg 8134 (severity 16, state 1)" in err)
        ck.true("tsql %s print" % version, "hello" in err)
    rc, out, err = tsql(port, "select 1\ngo\n", "7.4", password="bad")
    ck.true("tsql bad login", rc != 0 and "Login failed for user 'sa'." in err)


def main():
    ck = Checker()
    with Server(sys.argv[1]) as server:
        pytds_versions(server.port, ck)
        pytds_transactions(server.port, ck)
        pytds_cancel_and_concurrency(server.port, ck)
        pytds_refusals(server.port, ck)
        tsql_versions(server.port, ck)
        ck.true("server alive", server.alive())
    ck.done()


if __name__ == "__main__":
    main()
