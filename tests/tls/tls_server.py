#!/usr/bin/env python3
"""Scriptable HTTPS server on 127.0.0.1 for the downloader's tests.

Usage:
  tls_server.py --cert localhost.pem --key localhost.key [--ports N]
                [--port-file FILE] [--log FILE] [--timeout SECONDS]

Binds N (default 1) ephemeral ports on 127.0.0.1, prints one port a line on
stdout and writes the same lines to --port-file (written complete, then
renamed, so a reader never sees half of it). Every request appends one line
"<request line>\\t<User-Agent>" to --log. Exits after --timeout seconds
(default 600) so a forgotten server never outlives its test.

Paths (n is a byte count; bodies are bytes i % 251 for i = 0..n-1):
  /file/n              200 with Content-Length
  /chunked/n           200, chunked transfer coding, no Content-Length
  /empty               200, Content-Length 0
  /status/code         that status, empty body
  /redirect/code?to=U  that status with Location U (U may name another port)
  /chain/k?base=B      302 to B/chain/k-1 ... and /chain/0 serves /file/16
  /longlocation/n      302 whose Location is n characters long (https://localhost/aaa...);
                       with ?base=B it is B/file/16?aaa..., so it names a live server
  /closeearly/n        Content-Length n, sends n // 2 bytes, closes
  /stall/n?seconds=s   Content-Length n, sends n // 2 bytes, waits s seconds
  /throttle/n?rate=r   Content-Length n, sent at about r bytes per second
"""

import argparse
import http.server
import os
import socket
import ssl
import sys
import threading
import time
import urllib.parse

LOG_LOCK = threading.Lock()


PATTERN = bytes(i % 251 for i in range(251))
# About 1 MB of the pattern, a whole number of periods, so pieces of it line up.
BLOCK = PATTERN * 4177


def body(n):
    whole, rest = divmod(n, 251)
    return PATTERN * whole + PATTERN[:rest]


def pieces(n):
    """body(n) in pieces of at most len(BLOCK) bytes, so big bodies are never
    held in memory whole."""
    while n > 0:
        piece = BLOCK[:min(n, len(BLOCK))]
        n -= len(piece)
        yield piece


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    log_path = None

    def log_message(self, *args):
        pass

    def handle(self):
        try:
            # A bounded handshake in this request's own thread (see main).
            self.request.settimeout(10)
            self.request.do_handshake()
            self.request.settimeout(None)
            super().handle()
        except OSError:
            # Clients that reject the certificate or hang up mid-body are
            # what the tests make; they are not server errors.
            pass

    def record(self):
        if self.log_path:
            with LOG_LOCK, open(self.log_path, "a", encoding="utf-8") as log:
                log.write("%s\t%s\n" % (self.requestline, self.headers.get("User-Agent", "")))

    def head(self, status, headers):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()

    def do_GET(self):
        self.record()
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        parts = [p for p in url.path.split("/") if p]
        kind = parts[0] if parts else ""
        arg = parts[1] if len(parts) > 1 else "0"
        try:
            number = int(arg)
        except ValueError:
            number = 0

        if kind == "file":
            self.head(200, [("Content-Length", str(max(0, number)))])
            for piece in pieces(number):
                self.wfile.write(piece)
        elif kind == "chunked":
            self.head(200, [("Transfer-Encoding", "chunked")])
            data = body(number)
            for start in range(0, len(data), 10000):
                piece = data[start:start + 10000]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        elif kind == "empty":
            self.head(200, [("Content-Length", "0")])
        elif kind == "status":
            self.head(number, [("Content-Length", "0")])
        elif kind == "redirect":
            self.head(number, [("Location", query.get("to", [""])[0]), ("Content-Length", "0")])
        elif kind == "chain":
            if number <= 0:
                data = body(16)
                self.head(200, [("Content-Length", str(len(data)))])
                self.wfile.write(data)
            else:
                base = query.get("base", ["https://localhost:%d" % self.server.server_port])[0]
                target = "%s/chain/%d?base=%s" % (base, number - 1, urllib.parse.quote(base, safe=""))
                self.head(302, [("Location", target), ("Content-Length", "0")])
        elif kind == "longlocation":
            base = query.get("base", [None])[0]
            start = base + "/file/16?" if base else "https://localhost/"
            target = start + "a" * max(0, number - len(start))
            self.head(302, [("Location", target), ("Content-Length", "0")])
        elif kind in ("closeearly", "stall"):
            data = body(number)
            self.head(200, [("Content-Length", str(len(data)))])
            self.wfile.write(data[:len(data) // 2])
            self.wfile.flush()
            if kind == "stall":
                time.sleep(float(query.get("seconds", ["60"])[0]))
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        elif kind == "throttle":
            data = body(number)
            rate = max(1, int(query.get("rate", ["65536"])[0]))
            self.head(200, [("Content-Length", str(len(data)))])
            step = max(1, rate // 20)
            for start in range(0, len(data), step):
                self.wfile.write(data[start:start + step])
                self.wfile.flush()
                time.sleep(step / rate)
        else:
            self.head(404, [("Content-Length", "0")])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--ports", type=int, default=1)
    parser.add_argument("--port-file")
    parser.add_argument("--log")
    parser.add_argument("--timeout", type=float, default=600)
    args = parser.parse_args()

    Handler.log_path = args.log
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    servers = []
    for _ in range(args.ports):
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        server.daemon_threads = True
        # The handshake happens on the first read, in the request's own
        # thread: a client that rejects the certificate or never finishes the
        # handshake then holds up no other client.
        server.socket = context.wrap_socket(server.socket, server_side=True,
                                            do_handshake_on_connect=False)
        servers.append(server)
        threading.Thread(target=server.serve_forever, daemon=True).start()

    lines = "".join("%d\n" % s.server_port for s in servers)
    if args.port_file:
        with open(args.port_file + ".tmp", "w", encoding="ascii") as out:
            out.write(lines)
        os.replace(args.port_file + ".tmp", args.port_file)
    sys.stdout.write(lines)
    sys.stdout.flush()
    time.sleep(args.timeout)


if __name__ == "__main__":
    main()
