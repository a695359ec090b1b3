"""Batches built to exhaust a recursive front end: long operator chains,
deep parentheses and subqueries, huge IN lists and literals. Each must be
answered (a result or an error), and the server must stay up.

Usage: deep_nesting.py PATH/TO/tdslite
"""
import sys

import pytds

from harness import Checker, Server

BATCHES = [
    ("operator chain 1000", "select 1" + " + 1" * 1000),
    ("operator chain 20000", "select 1" + " + 1" * 20000),
    ("string concatenation 20000", "select 'a'" + " + 'a'" * 20000),
    ("parentheses 100000", "select " + "(" * 100000 + "1" + ")" * 100000),
    ("unary minus 100000", "select " + "- " * 100000 + "1"),
    ("subqueries 5000", "select " + "(select " * 5000 + "1" + ")" * 5000),
    ("nested case 5000", "select " + "case when 1 = 1 then " * 5000 + "1" + " end" * 5000),
    ("and chain 20000", "select 1 where 1 = 1" + " and 1 = 1" * 20000),
    ("in list 100000", "select 1 where 1 in (" + ", ".join(["1"] * 100000) + ")"),
    ("literal 4 MB", "select '" + "x" * (4 << 20) + "'"),
]


def main():
    ck = Checker()
    with Server(sys.argv[1]) as server:
        for what, sql in BATCHES:
            try:
                with pytds.connect(server="127.0.0.1", port=server.port, user="sa", password="",
                                   autocommit=True, login_timeout=10, timeout=120) as conn:
                    cur = conn.cursor()
                    try:
                        cur.execute(sql)
                        while cur.description is not None and cur.fetchall() is not None \
                                and cur.nextset():
                            pass
                    except pytds.ClosedConnectionError as e:
                        ck.true("%s: connection closed (%s)" % (what, e), False)
                    except pytds.Error:
                        pass  # an error answer is fine
            except Exception as e:
                ck.true("%s: %r" % (what, e), False)
            ck.true("%s: server alive" % what, server.alive())
            if not server.alive():
                break
    ck.done()


if __name__ == "__main__":
    main()
