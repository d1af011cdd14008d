#!/usr/bin/env python3
"""The download server that the installer meets in the end-to-end runs.

Serves the two channel paths of the installer's download origin on a fixed
port of 127.0.0.1 (8443 in the windows preset), on top of the shared TLS test
server (tests/tls/tls_server.py: certificates, request log).

Usage:
  installer_server.py --cert C --key K [--port 8443] --payload FILE
                      [--mode serve|404|cut] [--rate BYTES_PER_S]
                      [--delay SECONDS] [--log FILE] [--events FILE]
                      [--ready FILE] [--timeout SECONDS] [--wait-port SECONDS]

/velnor-video/win7 and /velnor-video/release answer by --mode:
  serve  200 with Content-Length and the payload, after --delay seconds
         (headers first, then the wait, then the body), at --rate bytes per
         second when given
  404    404 with an empty body
  cut    200 with the payload's Content-Length, half the payload, then the
         connection is closed
Any other path is 404. Every request line and User-Agent goes to --log (one
line each, as in the shared server); --events gets JSON lines with a wall
clock time for "request", "body-start" and "body-end". --ready is written
(complete, then renamed) once the port is bound. A port that is still taken after
--wait-port seconds (default 0) ends the server with exit code 3 and a message
saying so.
"""

import argparse
import http.server
import json
import os
import socket
import ssl
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tls"))
import tls_server  # noqa: E402  (the shared TLS test server)

CHANNEL_PATHS = ("/velnor-video/win7", "/velnor-video/release")
EVENTS_LOCK = threading.Lock()


class InstallerHandler(tls_server.Handler):
    payload = b""
    mode = "serve"
    rate = 0
    delay = 0.0
    events_path = None

    def event(self, name):
        if not self.events_path:
            return
        line = json.dumps({"event": name, "path": self.path, "time": time.time()})
        with EVENTS_LOCK, open(self.events_path, "a", encoding="utf-8") as events:
            events.write(line + "\n")

    def do_GET(self):
        self.record()
        self.event("request")
        if self.path not in CHANNEL_PATHS or self.mode == "404":
            self.head(404, [("Content-Length", "0")])
            return
        data = self.payload
        self.head(200, [("Content-Length", str(len(data)))])
        self.wfile.flush()
        if self.mode == "cut":
            self.event("body-start")
            self.wfile.write(data[:len(data) // 2])
            self.wfile.flush()
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            self.event("body-end")
            return
        if self.delay > 0:
            time.sleep(self.delay)
        self.event("body-start")
        if self.rate > 0:
            step = max(1, self.rate // 20)
            started = time.monotonic()
            for start in range(0, len(data), step):
                self.wfile.write(data[start:start + step])
                self.wfile.flush()
                # Paced against the start, so slow writes do not add up.
                ahead = started + (start + step) / self.rate - time.monotonic()
                if ahead > 0:
                    time.sleep(ahead)
        else:
            self.wfile.write(data)
        self.wfile.flush()
        self.event("body-end")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port", type=int, default=8443)
    parser.add_argument("--payload", required=True)
    parser.add_argument("--mode", choices=("serve", "404", "cut"), default="serve")
    parser.add_argument("--rate", type=int, default=0)
    parser.add_argument("--delay", type=float, default=0)
    parser.add_argument("--log")
    parser.add_argument("--events")
    parser.add_argument("--ready")
    parser.add_argument("--timeout", type=float, default=300)
    parser.add_argument("--wait-port", type=float, default=0)
    args = parser.parse_args()

    with open(args.payload, "rb") as payload:
        InstallerHandler.payload = payload.read()
    InstallerHandler.mode = args.mode
    InstallerHandler.rate = args.rate
    InstallerHandler.delay = args.delay
    InstallerHandler.log_path = args.log
    InstallerHandler.events_path = args.events

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    # The port is fixed, so runs from other build folders take turns: wait a
    # bounded time for it, then give up saying why.
    deadline = time.monotonic() + args.wait_port
    while True:
        try:
            server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), InstallerHandler)
            break
        except OSError as error:
            if time.monotonic() >= deadline:
                sys.stderr.write("installer_server: cannot listen on 127.0.0.1:%d (%s) after "
                                 "waiting %.0f s; is another run or program using that port?\n"
                                 % (args.port, error, args.wait_port))
                return 3
            time.sleep(0.25)
    server.daemon_threads = True
    # As in the shared server: the handshake runs in the request's own thread.
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    if args.ready:
        with open(args.ready + ".tmp", "w", encoding="ascii") as ready:
            ready.write("%d\n" % server.server_port)
        os.replace(args.ready + ".tmp", args.ready)
    time.sleep(args.timeout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
