"""Text and image values through python3-tds: byte-exact round trips of
0 bytes to 1 MiB (binary zeros included), SET TEXTSIZE (an ODBC-flagged
login starts unlimited; the upper-case form FreeTDS sends after login is
honoured too), and textptr().

Usage: text_clients.py PATH/TO/tdslite
"""
import sys

import pytds

from harness import Checker, Server, connect, first_value


def data(n):
    return bytes((i * 7 + 3) % 256 if i % 5 else 0 for i in range(n))


def main():
    ck = Checker()
    with Server(sys.argv[1]) as server:
        conn = connect(server.port, timeout=120)
        cur = conn.cursor()

        def one(sql):
            return first_value(cur, sql)

        cur.execute("create table tc (id int not null primary key, i image null, t text null)")
        cur.execute("insert into tc values (1, null, null)")
        ck.eq("ODBC login: unlimited textsize", one("select @@textsize"), 2147483647)
        for n in (0, 1, 1300, 1 << 20):
            value = data(n)
            cur.execute("update tc set i = 0x%s, t = '%s' where id = 1" %
                        (value.hex(), "x" * n))
            ck.eq("image of %d bytes" % n, one("select i from tc where id = 1"), value)
            ck.eq("text of %d bytes" % n, len(one("select t from tc where id = 1")), n)
            ck.eq("datalength %d" % n, one("select datalength(i) from tc where id = 1"), n)
        ptr = one("select textptr(i) from tc where id = 1")
        ck.eq("textptr is 16 bytes", len(ptr), 16)
        for setting, expected in (("set textsize 100", 100), ("set textsize 0", 4096),
                                  ("set textsize 2147483647", 1 << 20)):
            cur.execute(setting)
            ck.eq("%s: image" % setting, len(one("select i from tc where id = 1")), expected)
            ck.eq("%s: text" % setting, len(one("select t from tc where id = 1")), expected)
        cur.execute("SET TEXTSIZE 64512")
        ck.eq("upper-case SET TEXTSIZE", one("select @@textsize"), 64512)
        cur.execute("update tc set i = null where id = 1")
        ck.eq("NULL image", one("select i from tc where id = 1"), None)
        ck.eq("textptr of NULL", one("select textptr(i) from tc where id = 1"), None)
        conn.close()
    ck.done()


if __name__ == "__main__":
    sys.exit(main())
