"""WAITFOR over the wire: a delay runs its length, an ATTENTION during a
long wait is answered at once and the connection goes on, and a client that
goes away (or a server that stops) ends the wait. A wait that runs on is
caught by the socket time-outs here, well below the 30 s asked, and by the
test's own time limit.

Usage: waitfor_clients.py PATH/TO/tdslite-binary
"""
import socket
import struct
import sys
import time

import pytds

from harness import Checker, Server, wait_until
from robustness import batch, login7, packet, read_reply

LONG_WAIT = "waitfor delay '00:00:30'"


def connect(port):
    return pytds.connect(server="127.0.0.1", port=port, user="sa", password="", autocommit=True)


def logged_in(port):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(packet(16, login7()))
    read_reply(s)
    return s


def last_done_status(reply):
    """The status of the reply's closing DONE (TDS 7.2+: 13 bytes), or None."""
    if reply is None or len(reply) < 13 or reply[-13] != 0xFD:
        return None
    return struct.unpack("<H", reply[-12:-10])[0]


def attention_cases(port, ck):
    for what, sql in [("delay", LONG_WAIT),
                      ("after a result", "select 1 " + LONG_WAIT),
                      ("in a loop", "declare @i int = 0 while @i < 100 begin"
                                    " waitfor delay '00:00:01' set @i += 1 end"),
                      ("time", "waitfor time '%s'" % time.strftime(
                          "%H:%M:%S", time.localtime(time.time() - 60)))]:
        s = logged_in(port)
        s.sendall(batch(sql))
        time.sleep(0.3)  # most likely inside the wait by now; either way it ends
        s.sendall(packet(6, b""))
        status = last_done_status(read_reply(s, timeout=10))
        ck.true("attention (%s): acknowledged" % what,
                status is not None and status & 0x20 != 0)
        s.sendall(batch("select 42"))
        reply = read_reply(s, timeout=10)
        ck.true("attention (%s): served afterwards" % what,
                reply is not None and last_done_status(reply) == 0x10)
        s.close()


def main():
    binary = sys.argv[1]
    ck = Checker()
    with Server(binary) as server:
        port = server.port
        with connect(port) as conn:
            cur = conn.cursor()
            cur.execute("create table w (a int)")
            start = time.monotonic()
            cur.execute("waitfor delay '00:00:00.300' select 5")
            ck.eq("delay: result after it", cur.fetchall(), [(5,)])
            ck.true("delay: waited", time.monotonic() - start >= 0.3)
            try:
                cur.execute("waitfor delay '00:61'")
                ck.true("bad time string refused", False)
            except pytds.OperationalError as e:
                ck.eq("bad time string: 148", e.msg_no, 148)
            base_threads = server.threads()

            attention_cases(port, ck)

            # A client that leaves during the wait: its session ends, and the
            # transaction it held is rolled back, so another writer gets in
            # (SQLite's busy time-out would fail it otherwise).
            s = logged_in(port)
            s.sendall(batch("begin tran insert into w values (1) " + LONG_WAIT))
            time.sleep(0.3)
            s.close()
            ck.true("disconnect: session thread ended",
                    wait_until(lambda: server.threads() <= base_threads, 10))
            cur.execute("insert into w values (2)")
            cur.execute("select count(*) from w")
            ck.eq("disconnect: the waiting transaction rolled back", cur.fetchall(), [(1,)])

        # A server told to stop ends a wait in progress: Server's exit
        # checks that it stops within its time limit.
        s = logged_in(port)
        s.sendall(batch(LONG_WAIT))
        time.sleep(0.3)
    s.close()
    ck.done()


if __name__ == "__main__":
    main()
