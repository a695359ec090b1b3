"""python3-tds and tsql against the real tdslite: the web task procedure
calls exactly as the package composes them (a batch starting with the
procedure name, named arguments without blanks), at TDS 7.0 and 7.4; the
page written, the errors the client gets, output files outside --file-root
refused, and a task run again after a server restart.

Usage: web_task_clients.py PATH/TO/tdslite PATH/TO/expected
"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "conformance"))

import pytds  # noqa: E402
from pytds.tds_base import TDS70, TDS74  # noqa: E402

from harness import Checker, Server, connect, tsql  # noqa: E402


def error_of(cur, sql):
    """Runs `sql`; answers (message number, procedure name) of the error, or
    (None, None) when there was none."""
    try:
        cur.execute(sql)
    except pytds.Error as e:
        return getattr(e, "msg_no", None), getattr(e, "procname", None)
    return None, None


def framed_page(expected_dir, name):
    """The expected page `name`: expected/body/NAME.html in place of the body
    line of the standard frame, expected/frame.html."""
    with open(os.path.join(expected_dir, "frame.html"), "rb") as f:
        head, marker, tail = f.read().partition(b"<!-- body -->\n")
    if not marker:
        sys.exit("expected/frame.html has no body line")
    with open(os.path.join(expected_dir, "body", name + ".html"), "rb") as f:
        return head + f.read() + tail


def main():
    binary, expected_dir = sys.argv[1], sys.argv[2]
    expected_page = framed_page(expected_dir, "clients")
    ck = Checker()
    work = tempfile.mkdtemp(prefix="tdslite-webtask-")
    try:
        root = os.path.join(work, "root")
        outside = os.path.join(work, "outside")
        os.makedirs(root)
        os.makedirs(outside)
        os.symlink(outside, os.path.join(root, "away"))
        db = os.path.join(work, "tasks.db")
        args = ("--file-root", root, "--database", db)
        with Server(binary, *args) as srv:
            for version, tag in ((TDS70, "7.0"), (TDS74, "7.4")):
                with connect(srv.port, tds_version=version) as conn:
                    cur = conn.cursor()
                    if tag == "7.0":
                        cur.execute("create table staff (id int not null, name varchar(20) "
                                    "not null) insert into staff values (1, 'Ann') "
                                    "insert into staff values (2, 'B<o>b')")
                    name = "daily" + tag.replace(".", "")
                    page = name + ".htm"
                    cur.execute("sp_makewebtask @procname='%s',@outputfile='%s',"
                                "@query='select name from staff order by id',@dbname='master',"
                                "@bold=1,@lastupdated=0" % (name, page))
                    ck.eq(tag + " make: return status", cur.get_proc_return_status(), 0)
                    with open(os.path.join(root, page), "rb") as f:
                        ck.eq(tag + " make: page", f.read(), expected_page)
                    for call in ("sp_runwebtask @procname='%s'" % name,
                                 "sp_runwebtask @outputfile='%s'" % page,
                                 "sp_runwebtask @procname='%s',@outputfile='%s'" % (name, page)):
                        os.remove(os.path.join(root, page))
                        cur.execute(call)
                        ck.true(tag + " " + call, os.path.exists(os.path.join(root, page)))
                    cases = (
                        ("sp_makewebtask @outputfile='x.htm',@query='select 1',@nosuch=1", 8145),
                        ("sp_makewebtask @query='select 1'", 201),
                        ("sp_runwebtask @procname='nosuch'", 16815),
                        ("sp_dropwebtask @procname='nosuch'", 16802),
                        ("sp_makewebtask @outputfile='x.htm',@query='select * from nosuch'",
                         16805),
                        ("sp_makewebtask @outputfile='../x.htm',@query='select 1'", 16821),
                        ("sp_makewebtask @outputfile='%s/x.htm',@query='select 1'" % outside,
                         16821),
                        ("sp_makewebtask @outputfile='away/x.htm',@query='select 1'", 16821),
                    )
                    for sql, number in cases:
                        ck.eq(tag + " " + sql, error_of(cur, sql)[0], number)
                    ck.eq(tag + " procedure name in the error",
                          error_of(cur, "sp_runwebtask @procname='nosuch'")[1], "sp_runwebtask")
                    ck.eq(tag + " nothing written outside the root", os.listdir(outside), [])
                    ck.eq(tag + " nothing written beside the root",
                          sorted(os.listdir(work)), ["outside", "root", "tasks.db",
                                                     "tasks.db-shm", "tasks.db-wal"])
            rc, out, err = tsql(srv.port, "sp_makewebtask @procname='bytsql',"
                                "@outputfile='tsql.htm',@query='select 1 as one',@whentype=5\ngo\n"
                                "sp_runwebtask @procname='bytsql'\ngo\n")
            ck.eq("tsql: exit status", rc, 0)
            ck.true("tsql: no error (%r)" % err, "Msg " not in err and "Msg " not in out)
            ck.true("tsql: page written", os.path.exists(os.path.join(root, "tsql.htm")))
        # The tasks are in the database: a new server process runs them.
        os.remove(os.path.join(root, "daily74.htm"))
        with Server(binary, *args) as srv:
            with connect(srv.port, tds_version=TDS74) as conn:
                cur = conn.cursor()
                cur.execute("sp_runwebtask @procname='daily74'")
                with open(os.path.join(root, "daily74.htm"), "rb") as f:
                    ck.eq("after restart: page", f.read(), expected_page)
                cur.execute("sp_dropwebtask @procname='daily74'")
                ck.eq("after drop", error_of(cur, "sp_runwebtask @procname='daily74'")[0], 16815)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    ck.done()


if __name__ == "__main__":
    main()
