#!/usr/bin/python3
"""HTTPS server that misbehaves on request, for the network and update tests.

Started (and stopped) by servers.py; it is not meant to be run by hand. The request path alone
chooses the behaviour, so a test needs no control channel:

  /status/<code>               that status (200-599), body "status <code>\\n" (none for 204, 304);
                               301, 302, 303, 307 and 308 carry Location: <origin>/status/200
  /bytes/<n>                   200, Content-Length n, byte i = i mod 251
  /bytes/<n>/seed/<s>          the same length, byte i = (i + s) mod 251 ("right size, wrong bytes")
  /short/<announced>/<sent>    Content-Length <announced>, only <sent> (< announced) bytes, then a
                               clean TLS close: the client must notice the missing bytes itself
  /long/<announced>/<sent>     <sent> (> announced) bytes in a close-delimited body (no
                               Content-Length, as an HTTP/1.0 server would send it), so the client
                               really receives more than the <announced> size it expects
  /unsized/<n>                 n bytes in a close-delimited body: a legitimate response without
                               Content-Length
  /drop/<n>/<after>            Content-Length n, <after> bytes, then a TCP reset (SO_LINGER 0)
  /trickle/<n>/<chunk>/<ms>    Content-Length n, <chunk> bytes every <ms> milliseconds
  /body/<name>                 the bytes of DIR/fault-bodies/<name> (text/plain; charset=utf-8 for
                               .txt and .php names, else application/octet-stream)
  /echo-request[?query]        the request line and headers as received, byte for byte
  anything else                404

Every response is HTTP/1.1 with Connection: close. Besides the main port (TLS 1.2 and 1.3, the
development localhost certificate) it listens on: an old-TLS port (TLS 1.0 and 1.1 only, every path
answers "old tls"), an untrusted port (self-signed certificate), a wrong-host port (a certificate
for other.example) and a silent port (accepts TCP connections and never sends or reads a byte).
The bound ports go to DIR/fault-ports.json once all of them listen. One line per request or failed
handshake goes to DIR/fault.log.
"""

import argparse
import datetime
import http
import json
import os
import re
import signal
import socket
import ssl
import struct
import sys
import threading
import time
import warnings
from pathlib import Path

PATTERN_PERIOD = 251
# A multiple of the period, so any slice of it starting at (offset mod 251) continues the pattern.
PATTERN = bytes(i % PATTERN_PERIOD for i in range(PATTERN_PERIOD * 261))
MAX_HEAD = 64 * 1024
IO_TIMEOUT = 30.0
REDIRECTS = {301, 302, 303, 307, 308}


class Server:
    def __init__(self, run_dir: Path, tls_dir: Path):
        self.run_dir = run_dir
        self.bodies_dir = run_dir / "fault-bodies"
        self.tls_dir = tls_dir
        self.log_lock = threading.Lock()
        self.log_file = open(run_dir / "fault.log", "a", buffering=1, encoding="utf-8")
        self.held = []  # sockets of the silent port, kept open until the process ends

    def log(self, kind, peer, text):
        stamp = datetime.datetime.now().isoformat(timespec="milliseconds")
        with self.log_lock:
            self.log_file.write(f"{stamp} {kind} {peer[1]} {text}\n")

    def context(self, cert, old_tls=False):
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        if old_tls:
            # OpenSSL 3 refuses TLS 1.0/1.1 (and their SHA-1 signatures) at the default security
            # level; level 0 brings them back for this one port.
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)
                ctx.minimum_version = ssl.TLSVersion.TLSv1
                ctx.maximum_version = ssl.TLSVersion.TLSv1_1
            ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
        else:
            ctx.minimum_version = ssl.TLSVersion.TLSv1_2
        ctx.load_cert_chain(self.tls_dir / f"dev-{cert}-DEVELOPMENT-ONLY.crt",
                            self.tls_dir / f"dev-{cert}-DEVELOPMENT-ONLY.key")
        return ctx

    # -- listening -------------------------------------------------------------------------------

    def listen(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.bind(("127.0.0.1", 0))
        listener.listen(128)
        return listener

    def serve_tls(self, kind, listener, ctx, handler):
        while True:
            conn, peer = listener.accept()
            threading.Thread(target=self.connection, args=(kind, conn, peer, ctx, handler),
                             daemon=True).start()

    def serve_silent(self, listener):
        while True:
            conn, _ = listener.accept()
            self.held.append(conn)

    def connection(self, kind, conn, peer, ctx, handler):
        conn.settimeout(IO_TIMEOUT)
        try:
            tls = ctx.wrap_socket(conn, server_side=True)
        except (OSError, ssl.SSLError) as e:
            self.log(kind, peer, f"handshake failed: {e}")
            conn.close()
            return
        port = tls.getsockname()[1]
        try:
            head = read_head(tls)
            if head is None:
                self.log(kind, peer, f"{tls.version()} no request")
                return
            status, sent, clean = handler(tls, head, port)
            self.log(kind, peer, f"{tls.version()} {request_line(head)} {status} {sent}")
            if clean:
                close_cleanly(tls)
        except (OSError, ssl.SSLError) as e:
            self.log(kind, peer, f"{tls.version()} connection error: {e}")
        finally:
            tls.close()

    # -- handlers: each writes a whole response and returns (status, body bytes sent, clean) -----
    # "clean" asks for a TLS close_notify before the TCP close; a dropped connection skips it.

    def old_tls(self, tls, head, port):
        return respond(tls, head, 200, b"old tls\n")

    def faults(self, tls, head, port):
        target = request_line(head).split(" ")
        if len(target) != 3 or target[0] not in ("GET", "HEAD"):
            return respond(tls, head, 405, b"method not allowed\n")
        path, _, _ = target[1].partition("?")
        for pattern, action in self.routes:
            m = re.fullmatch(pattern, path)
            if m:
                return action(self, tls, head, port, *m.groups())
        return respond(tls, head, 404, b"not found\n")

    def status(self, tls, head, port, code):
        code = int(code)
        if not 200 <= code <= 599:
            return respond(tls, head, 404, b"not found\n")
        extra = []
        if code in REDIRECTS:
            extra.append(f"Location: https://localhost:{port}/status/200")
        if code == 206:
            extra.append("Content-Range: bytes 0-10/11")
        body = None if code in (204, 304) else f"status {code}\n".encode()
        return respond(tls, head, code, body, extra)

    def bytes_(self, tls, head, port, n, seed=None):
        n = int(n)
        write_head(tls, 200, [f"Content-Length: {n}"])
        if is_head(head):
            return 200, 0, True
        return 200, send_pattern(tls, int(seed or 0), n), True

    def short(self, tls, head, port, announced, sent):
        announced, sent = int(announced), int(sent)
        if sent >= announced:
            return respond(tls, head, 404, b"short needs sent < announced\n")
        write_head(tls, 200, [f"Content-Length: {announced}"])
        return 200, send_pattern(tls, 0, sent), True

    def long(self, tls, head, port, announced, sent):
        announced, sent = int(announced), int(sent)
        if sent <= announced:
            return respond(tls, head, 404, b"long needs sent > announced\n")
        return self.unsized(tls, head, port, sent)

    def unsized(self, tls, head, port, n):
        write_head(tls, 200, [])
        return 200, send_pattern(tls, 0, int(n)), True

    def drop(self, tls, head, port, n, after):
        n, after = int(n), int(after)
        write_head(tls, 200, [f"Content-Length: {n}"])
        sent = send_pattern(tls, 0, min(after, n))
        # Give the bytes time to reach the client before the reset overtakes them.
        time.sleep(0.1)
        tls.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        return 200, sent, False

    def trickle(self, tls, head, port, n, chunk, ms):
        n, chunk, ms = int(n), max(1, int(chunk)), int(ms)
        write_head(tls, 200, [f"Content-Length: {n}"])
        sent = 0
        while sent < n:
            sent += send_pattern(tls, sent, min(chunk, n - sent))
            if sent < n:
                time.sleep(ms / 1000)
        return 200, sent, True

    def body(self, tls, head, port, name):
        try:
            data = (self.bodies_dir / name).read_bytes()
        except OSError:
            return respond(tls, head, 404, b"not found\n")
        text = name.endswith((".txt", ".php"))
        kind = "text/plain; charset=utf-8" if text else "application/octet-stream"
        return respond(tls, head, 200, data, [f"Content-Type: {kind}"])

    def echo(self, tls, head, port):
        return respond(tls, head, 200, head, ["Content-Type: text/plain; charset=utf-8"])

    N = r"(\d{1,12})"
    routes = [
        (r"/status/(\d{3})", status),
        (rf"/bytes/{N}", bytes_),
        (rf"/bytes/{N}/seed/{N}", bytes_),
        (rf"/short/{N}/{N}", short),
        (rf"/long/{N}/{N}", long),
        (rf"/unsized/{N}", unsized),
        (rf"/drop/{N}/{N}", drop),
        (rf"/trickle/{N}/{N}/{N}", trickle),
        (r"/body/([A-Za-z0-9_-][A-Za-z0-9._-]*)", body),
        (r"/echo-request", echo),
    ]


# -- HTTP plumbing -------------------------------------------------------------------------------

def read_head(tls):
    data = b""
    while b"\r\n\r\n" not in data:
        if len(data) > MAX_HEAD:
            return None
        chunk = tls.recv(4096)
        if not chunk:
            return None
        data += chunk
    return data[:data.index(b"\r\n\r\n") + 4]


def request_line(head):
    return head.split(b"\r\n", 1)[0].decode("latin-1")


def is_head(head):
    return head.startswith(b"HEAD ")


def write_head(tls, status, headers):
    try:
        reason = http.HTTPStatus(status).phrase
    except ValueError:
        reason = "Status"
    lines = [f"HTTP/1.1 {status} {reason}", *headers, "Connection: close", "", ""]
    tls.sendall("\r\n".join(lines).encode("latin-1"))


def respond(tls, head, status, body, headers=()):
    headers = list(headers)
    if body is not None:
        headers.append(f"Content-Length: {len(body)}")
        if not any(h.startswith("Content-Type:") for h in headers):
            headers.append("Content-Type: text/plain; charset=utf-8")
    write_head(tls, status, headers)
    if body and not is_head(head):
        tls.sendall(body)
        return status, len(body), True
    return status, 0, True


def send_pattern(tls, offset, count):
    sent = 0
    while sent < count:
        start = (offset + sent) % PATTERN_PERIOD
        piece = PATTERN[start:start + min(count - sent, len(PATTERN) - PATTERN_PERIOD)]
        tls.sendall(piece)
        sent += len(piece)
    return sent


def close_cleanly(tls):
    # close_notify marks a close-delimited body as complete. unwrap() would then wait for the
    # client's close_notify, and clients that only stop at the TCP close (WinHTTP under Wine)
    # would wait with it; with the read side shut, that wait ends at once.
    try:
        socket.socket.shutdown(tls, socket.SHUT_RD)
        tls.unwrap()
    except (OSError, ssl.SSLError, ValueError):
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--dir", type=Path, required=True, help="run folder made by servers.py")
    parser.add_argument("--tls-dir", type=Path, required=True, help="development TLS material")
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    server = Server(args.dir, args.tls_dir)
    ports = {}
    threads = []
    for kind, ctx, handler in [
        ("main", server.context("localhost"), server.faults),
        ("old_tls", server.context("localhost", old_tls=True), server.old_tls),
        ("untrusted", server.context("self-signed"), server.faults),
        ("wrong_host", server.context("other-host"), server.faults),
    ]:
        listener = server.listen()
        ports[kind] = listener.getsockname()[1]
        threads.append(threading.Thread(target=server.serve_tls,
                                        args=(kind, listener, ctx, handler), daemon=True))
    silent = server.listen()
    ports["silent"] = silent.getsockname()[1]
    threads.append(threading.Thread(target=server.serve_silent, args=(silent,), daemon=True))
    for thread in threads:
        thread.start()

    tmp = args.dir / "fault-ports.json.tmp"
    tmp.write_text(json.dumps(ports))
    tmp.rename(args.dir / "fault-ports.json")
    while True:
        signal.pause()


if __name__ == "__main__":
    sys.exit(main())
