"""Datetime styles, literals, getdate() and datetime arithmetic through
python3-tds, against fixed dates: A = 2024-02-29 13:45:07.123 and
B = 2024-01-05 09:05:00.000 (midnight and noon where the 12-hour styles
differ).

Usage: dates.py PATH/TO/tdslite
"""
import datetime
import sys

import pytds

from harness import Checker, Server, connect, first_value

A = "'2024-02-29 13:45:07.123'"
B = "'2024-01-05 09:05:00'"

# style -> (A, B)
STYLES = {
    0: ("Feb 29 2024  1:45PM", "Jan  5 2024  9:05AM"),
    100: ("Feb 29 2024  1:45PM", "Jan  5 2024  9:05AM"),
    1: ("02/29/24", "01/05/24"), 101: ("02/29/2024", "01/05/2024"),
    2: ("24.02.29", "24.01.05"), 102: ("2024.02.29", "2024.01.05"),
    3: ("29/02/24", "05/01/24"), 103: ("29/02/2024", "05/01/2024"),
    4: ("29.02.24", "05.01.24"), 104: ("29.02.2024", "05.01.2024"),
    5: ("29-02-24", "05-01-24"), 105: ("29-02-2024", "05-01-2024"),
    6: ("29 Feb 24", "05 Jan 24"), 106: ("29 Feb 2024", "05 Jan 2024"),
    7: ("Feb 29, 24", "Jan 05, 24"), 107: ("Feb 29, 2024", "Jan 05, 2024"),
    8: ("13:45:07", "09:05:00"), 24: ("13:45:07", "09:05:00"), 108: ("13:45:07", "09:05:00"),
    9: ("Feb 29 2024  1:45:07:123PM", "Jan  5 2024  9:05:00:000AM"),
    109: ("Feb 29 2024  1:45:07:123PM", "Jan  5 2024  9:05:00:000AM"),
    10: ("02-29-24", "01-05-24"), 110: ("02-29-2024", "01-05-2024"),
    11: ("24/02/29", "24/01/05"), 111: ("2024/02/29", "2024/01/05"),
    12: ("240229", "240105"), 112: ("20240229", "20240105"),
    13: ("29 Feb 2024 13:45:07:123", "05 Jan 2024 09:05:00:000"),
    113: ("29 Feb 2024 13:45:07:123", "05 Jan 2024 09:05:00:000"),
    14: ("13:45:07:123", "09:05:00:000"), 114: ("13:45:07:123", "09:05:00:000"),
    20: ("2024-02-29 13:45:07", "2024-01-05 09:05:00"),
    120: ("2024-02-29 13:45:07", "2024-01-05 09:05:00"),
    21: ("2024-02-29 13:45:07.123", "2024-01-05 09:05:00.000"),
    25: ("2024-02-29 13:45:07.123", "2024-01-05 09:05:00.000"),
    121: ("2024-02-29 13:45:07.123", "2024-01-05 09:05:00.000"),
    22: ("02/29/24  1:45:07 PM", "01/05/24  9:05:00 AM"),
    23: ("2024-02-29", "2024-01-05"),
    126: ("2024-02-29T13:45:07.123", "2024-01-05T09:05:00"),
    127: ("2024-02-29T13:45:07.123", "2024-01-05T09:05:00"),
    131: ("20/08/1445  1:45:07:123PM", "24/06/1445  9:05:00:000AM"),
}
INVALID_STYLES = (15, 16, 19, 26, 99, 115, 119, 122, 128, 129, 132, 200)


def main():
    ck = Checker()
    with Server(sys.argv[1]) as server:
        conn = connect(server.port)
        cur = conn.cursor()

        def one(sql):
            return first_value(cur, sql)

        def error(sql):
            try:
                cur.execute(sql)
                cur.fetchall()
            except pytds.Error as e:
                return getattr(e, "msg_no", None) or getattr(e, "number", None), str(e)
            return None, ""

        for style, (a, b) in sorted(STYLES.items()):
            for value, expected in ((A, a), (B, b)):
                ck.eq("style %d of %s" % (style, value),
                      one("select convert(varchar(40), convert(datetime, %s), %d)" %
                          (value, style)), expected)
        # char(26) pads with blanks; a short target truncates.
        ck.eq("char(26) style 9", one("select convert(char(26), convert(datetime, %s), 9)" % B),
              "Jan  5 2024  9:05:00:000AM")
        ck.eq("char(26) style 121",
              one("select convert(char(26), convert(datetime, %s), 121)" % A),
              "2024-02-29 13:45:07.123   ")
        ck.eq("varchar(10) style 120",
              one("select convert(varchar(10), convert(datetime, %s), 120)" % A), "2024-02-29")
        ck.eq("varchar, no style", one("select convert(varchar, convert(datetime, %s))" % A),
              "Feb 29 2024  1:45PM")
        ck.eq("midnight", one("select convert(varchar, convert(datetime, '2024-01-05'), 100)"),
              "Jan  5 2024 12:00AM")
        ck.eq("noon", one("select convert(varchar, convert(datetime, '2024-01-05 12:00'), 100)"),
              "Jan  5 2024 12:00PM")
        ck.true("style 130 has the Hijri year",
                "1445" in one("select convert(nvarchar(40), convert(datetime, %s), 130)" % A))
        for style in INVALID_STYLES:
            number, text = error("select convert(varchar(30), convert(datetime, %s), %d)" %
                                 (A, style))
            ck.eq("style %d refused" % style, number, 281)
            ck.true("style %d text" % style,
                    "%d is not a valid style number when converting from datetime to a "
                    "character string." % style in text)
        # Literals in the common formats.
        for literal, expected in (
                ("2024-01-31", datetime.datetime(2024, 1, 31)),
                ("2024-01-31 13:45:00.123", datetime.datetime(2024, 1, 31, 13, 45, 0, 123000)),
                ("20240131", datetime.datetime(2024, 1, 31)),
                ("Jan 31 2024 1:45PM", datetime.datetime(2024, 1, 31, 13, 45)),
                ("2024-01-31T13:45:00", datetime.datetime(2024, 1, 31, 13, 45)),
                ("01/31/2024", datetime.datetime(2024, 1, 31))):
            ck.eq("literal %r" % literal, one("select convert(datetime, '%s')" % literal),
                  expected)
        # getdate(): local time, to the 1/300 s tick.
        now = one("select getdate()")
        ck.true("getdate is now", abs((now - datetime.datetime.now()).total_seconds()) < 5)
        ck.true("getdate ticks", now.microsecond // 1000 % 10 in (0, 3, 7))
        ck.eq("getdate style 9 is 26 wide", len(one("select convert(char(26), getdate(), 9)")),
              26)
        # Arithmetic and comparisons.
        ck.eq("datetime + 1", one("select convert(datetime, %s) + 1" % A),
              datetime.datetime(2024, 3, 1, 13, 45, 7, 123000))
        ck.eq("datetime - 1.5", one("select convert(datetime, %s) - 1.5" % B),
              datetime.datetime(2024, 1, 3, 21, 5))
        ck.eq("comparison", one("select case when convert(datetime, %s) > %s then 1 else 0 end"
                                % (A, B)), 1)
        ck.eq("comparison with a literal",
              one("select count(*) where convert(datetime, %s) between '20240101' and "
                  "'Mar 1 2024 12:00AM'" % A), 1)
        conn.close()
    return ck.done()


if __name__ == "__main__":
    sys.exit(main())
