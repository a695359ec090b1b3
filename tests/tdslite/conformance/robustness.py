"""Malformed, truncated and random input, unknown packet types and clients
that vanish mid-result: each such connection is dropped, and afterwards the
server is alive, serves a normal client, and holds no more descriptors or
threads than before.

Usage: robustness.py PATH/TO/tdslite-binary QUERY [SETUP-BATCH...]
(QUERY: a batch the server answers with a long result, used for the
disconnect-mid-result cases; the SETUP batches run first, to create its data.)
"""
import random
import socket
import struct
import sys
import time

import pytds

from harness import Checker, Server, wait_until


def packet(ptype, payload, status=1, length=None):
    if length is None:
        length = 8 + len(payload)
    return struct.pack(">BBHHBB", ptype, status, length & 0xFFFF, 0, 1, 0) + payload


def ucs2(s):
    return s.encode("utf-16-le")


def login7(version=0x74000004, user="sa", password="", fixed=94, bad_offset=False):
    strings = [("host", "h"), ("user", user), ("password", password), ("app", "robust"),
               ("server", "s"), ("unused", ""), ("library", "lib"), ("language", ""),
               ("database", "")]
    data = b""
    table = b""
    offset = fixed
    for name, value in strings:
        raw = ucs2(value)
        if name == "password":
            raw = bytes((((b << 4) & 0xF0) | (b >> 4)) ^ 0xA5 for b in raw)
        if name == "unused":
            table += struct.pack("<HH", 0, 0)
            continue
        table += struct.pack("<HH", 0xFFF0 if bad_offset and name == "user" else offset,
                             len(value))
        data += raw
        offset += len(raw)
    table += b"\x00" * 6 + struct.pack("<HHHH", 0, 0, 0, 0)
    if fixed == 94:
        table += struct.pack("<HHI", 0, 0, 0)
    head = struct.pack("<IIIIII", fixed + len(data), version, 4096, 0, 0, 0)
    head += bytes([0xE0, 0x03, 0, 0]) + struct.pack("<iI", 0, 0x409)
    return head + table + data


def batch(sql, headers=True):
    payload = ucs2(sql)
    if headers:
        payload = struct.pack("<IIHQI", 22, 18, 2, 0, 1) + payload
    return packet(1, payload)


def read_reply(sock, timeout=5):
    """Reads one reply message; answers its payload, or None when the server
    closed the connection."""
    sock.settimeout(timeout)
    out = b""
    while True:
        head = b""
        while len(head) < 8:
            chunk = sock.recv(8 - len(head))
            if not chunk:
                return None
            head += chunk
        length = struct.unpack(">H", head[2:4])[0]
        body = b""
        while len(body) < length - 8:
            chunk = sock.recv(length - 8 - len(body))
            if not chunk:
                return None
            body += chunk
        out += body
        if head[1] & 1:
            return out


def closed_by_server(sock, timeout=5):
    sock.settimeout(timeout)
    try:
        while True:
            if not sock.recv(65536):
                return True
    except socket.timeout:
        return False
    except OSError:
        return True


def attack(port, data, ck, what, expect_close=True, after_login=False):
    s = socket.create_connection(("127.0.0.1", port))
    try:
        if after_login:
            s.sendall(packet(16, login7()))
            reply = read_reply(s)
            ck.true(what + ": login accepted", reply is not None and b"\xad" in reply)
        s.sendall(data)
        if expect_close:
            ck.true(what + ": connection closed", closed_by_server(s))
    except OSError:
        pass  # the server may close while we are still sending
    finally:
        s.close()


def main():
    binary, long_query = sys.argv[1], sys.argv[2]
    ck = Checker()
    rng = random.Random(1234)
    with Server(binary) as server:
        port = server.port
        with pytds.connect(server="127.0.0.1", port=port, user="sa", password="",
                           autocommit=True) as warm:
            for setup in sys.argv[3:]:
                warm.cursor().execute(setup)
            warm.cursor().execute("select 1")
        base_fds, base_threads = server.open_fds(), server.threads()

        cases = [
            ("empty connection", b""),
            ("random bytes", bytes(rng.randrange(256) for _ in range(5000))),
            ("length below header", packet(18, b"", length=4)),
            ("unknown first type", packet(0x55, b"abcd")),
            ("pre-7 login", packet(2, b"\x00" * 100)),
            ("prelogin bad offset", packet(18, b"\x00\x10\x00\x00\x06\xff")),
            ("prelogin no terminator", packet(18, b"\x00\x00\x05\x00\x01")),
            ("login unknown version", packet(16, login7(version=0x06000000))),
            ("login bad offset", packet(16, login7(bad_offset=True))),
            ("login truncated", packet(16, login7()[:60])),
            ("login length lies", packet(16, struct.pack("<I", 5000) + login7()[4:])),
            ("truncated packet", packet(16, login7(), length=400)[:50]),
        ]
        for what, data in cases:
            # A peer that sends a truncated packet and then goes quiet is
            # dropped after the stall timeout; closing our side ends it now.
            attack(port, data, ck, what, expect_close=what not in ("truncated packet",
                                                                   "empty connection"))
        for i in range(30):
            blob = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 300)))
            attack(port, packet(rng.choice([1, 3, 6, 7, 14, 16, 18, 99]), blob,
                                status=rng.choice([0, 1])), ck, "fuzz %d" % i,
                   expect_close=False)

        after_login = [
            ("unknown type after login", packet(99, b"xx")),
            ("second login", packet(16, login7())),
            ("bad ALL_HEADERS", packet(1, struct.pack("<I", 1000) + ucs2("select 1"))),
            ("short ALL_HEADERS", packet(1, b"\x02\x00")),
            ("type change mid-message", packet(1, ucs2("sel"), status=0) + packet(14, b"xx")),
            ("bad transaction request", packet(14, b"\x01")),
        ]
        for what, data in after_login:
            attack(port, data, ck, what, after_login=True)

        # Requests that are odd but valid get an answer, not a close.
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(packet(16, login7()))
        read_reply(s)
        for what, data in [("odd-length batch", batch("select 1") + b""),
                           ("rpc", packet(3, struct.pack("<IIHQI", 22, 18, 2, 0, 1)
                                         + b"\xff\xff\x0a\x00\x00\x00")),
                           ("bulk", packet(7, b"\x05\x00\x00\x00hello")),
                           ("idle attention", packet(6, b""))]:
            s.sendall(data)
            reply = read_reply(s)
            ck.true(what + ": answered", reply is not None and reply[-13:-12] in (b"\xfd", b"\xfe"))
        s.close()

        # Clients that vanish while rows are being sent.
        for i in range(3):
            s = socket.create_connection(("127.0.0.1", port))
            s.sendall(packet(16, login7()))
            read_reply(s)
            s.sendall(batch(long_query))
            s.recv(1000)
            s.close()
        # A client that cancels and vanishes before reading the ack.
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(packet(16, login7()))
        read_reply(s)
        s.sendall(batch(long_query))
        s.recv(1000)
        s.sendall(packet(6, b""))
        s.close()

        with pytds.connect(server="127.0.0.1", port=port, user="sa", password="",
                           autocommit=True) as conn:
            cur = conn.cursor()
            cur.execute("select 1")
            ck.true("normal client served afterwards", cur.fetchall() is not None)
        ck.true("server alive", server.alive())
        ck.true("descriptors back to %d (now %d)" % (base_fds, server.open_fds()),
                wait_until(lambda: server.open_fds() <= base_fds, 40))
        ck.true("threads back to %d (now %d)" % (base_threads, server.threads()),
                wait_until(lambda: server.threads() <= base_threads, 40))
    ck.done()


if __name__ == "__main__":
    main()
