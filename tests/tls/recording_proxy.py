"""A TCP proxy that relays every connection to a server and keeps what
passed in each direction, so that a test can look for secrets on the wire.

    with RecordingProxy(server_port) as proxy:
        ... connect clients to proxy.port ...
        proxy.to_server(), proxy.to_client()   # all bytes so far

Also usable as a program: `recording_proxy.py UPSTREAM_PORT CAPTURE_FILE`
prints "listening on PORT", relays until killed and appends every byte (both
directions) to CAPTURE_FILE as it passes.
"""
import select
import socket
import sys
import threading


class RecordingProxy:
    def __init__(self, upstream_port, sink=None):
        self.upstream_port = upstream_port
        self.sink = sink  # optional file: every byte is appended to it
        self._lock = threading.Lock()
        self._up = bytearray()
        self._down = bytearray()
        self._stop = False
        self._threads = []
        # When set: the byte at this offset of each connection's traffic to
        # the client is spoiled (its bits flipped) on the way.
        self.corrupt_to_client_at = None
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]

    def __enter__(self):
        t = threading.Thread(target=self._accept, daemon=True)
        t.start()
        self._threads.append(t)
        return self

    def __exit__(self, *exc):
        self._stop = True
        self.listener.close()
        return False

    def to_server(self):
        with self._lock:
            return bytes(self._up)

    def to_client(self):
        with self._lock:
            return bytes(self._down)

    def clear(self):
        with self._lock:
            self._up.clear()
            self._down.clear()

    def _accept(self):
        while not self._stop:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            try:
                server = socket.create_connection(("127.0.0.1", self.upstream_port))
            except OSError:
                client.close()
                continue
            t = threading.Thread(target=self._relay, args=(client, server), daemon=True)
            t.start()
            self._threads.append(t)

    def _record(self, upstream, data):
        with self._lock:
            (self._up if upstream else self._down).extend(data)
            if self.sink is not None:
                self.sink.write(data)
                self.sink.flush()

    def _relay(self, client, server):
        peers = {client: server, server: client}
        sent_down = 0
        try:
            while not self._stop:
                ready, _, _ = select.select(list(peers), [], [], 0.2)
                for s in ready:
                    data = s.recv(65536)
                    if not data:
                        return
                    self._record(s is client, data)
                    at = self.corrupt_to_client_at
                    if s is server and at is not None and sent_down <= at < sent_down + len(data):
                        data = bytearray(data)
                        data[at - sent_down] ^= 0xFF
                        data = bytes(data)
                    if s is server:
                        sent_down += len(data)
                    peers[s].sendall(data)
        except OSError:
            pass
        finally:
            client.close()
            server.close()


def main():
    upstream, capture = int(sys.argv[1]), sys.argv[2]
    with open(capture, "ab") as sink, RecordingProxy(upstream, sink) as proxy:
        print("listening on %d" % proxy.port, flush=True)
        threading.Event().wait()


if __name__ == "__main__":
    main()
