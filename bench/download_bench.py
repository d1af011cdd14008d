#!/usr/bin/python3
"""Download benchmark: DownloadFile against the bare WinHTTP read loop under
Wine (download-bench.exe), over TLS on 127.0.0.1, twice: at the full speed of
loopback, and through a server paced to 50 MB/s, closer to a user's link.
The body (made on the fly) is 200 MB. Prints figures; never fails on a slow
machine.

Usage: download_bench.py --build DIR [--prefix DIR] [--rounds N] [--size BYTES]
DIR is a build folder of the windows preset (download-bench.exe and
velnor_trust_ca.exe built); the prefix defaults to DIR/wineprefix-bench.
"""

import argparse
import glob
import http.server
import os
import ssl
import subprocess
import sys
import tempfile
import threading
import time

import trustme

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
WINE_RUN = os.path.join(ROOT, "cmake", "wine-run.sh")
PIECE = bytes(range(256)) * 1024  # 256 KiB


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    size, rate = 0, 0  # set per server; rate 0: as fast as the link goes

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Length", str(self.size))
        self.end_headers()
        start, sent = time.monotonic(), 0
        while sent < self.size:
            chunk = PIECE[:min(len(PIECE), self.size - sent)]
            self.wfile.write(chunk)
            sent += len(chunk)
            if self.rate:
                # Paced by the clock, so the time spent writing counts too.
                delay = start + sent / self.rate - time.monotonic()
                if delay > 0:
                    time.sleep(delay)

    def log_message(self, *args):
        pass


def serve(cert, size, rate):
    handler = type("PacedHandler", (Handler,), {"size": size, "rate": rate})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    cert.configure_cert(context)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--prefix")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--size", type=int, default=200 * 1000 * 1000)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    env = dict(os.environ, VELNOR_WINEPREFIX=args.prefix or os.path.join(build, "wineprefix-bench"))
    work = tempfile.mkdtemp(prefix="velnor-download-bench-")

    ca = trustme.CA()
    cert = ca.issue_cert("localhost")
    der = os.path.join(work, "ca.der")
    with open(der, "wb") as out:
        out.write(ssl.PEM_cert_to_DER_cert(ca.cert_pem.bytes().decode()))
    trust = glob.glob(os.path.join(build, "*", "velnor_trust_ca.exe")) + \
        glob.glob(os.path.join(build, "tests", "*", "velnor_trust_ca.exe"))
    trust = trust[0]
    subprocess.run(["timeout", "180", WINE_RUN, trust, "Z:" + der.replace("/", "\\")], env=env,
                   check=True, stdout=subprocess.DEVNULL)

    for label, rate in (("loopback", 0), ("paced to 50 MB/s", 50 * 1000 * 1000)):
        server = serve(cert, args.size, rate)
        url = "https://localhost:%d/setup" % server.server_address[1]
        print("== %s: %d bytes, %d rounds each, interleaved (MB = 10^6 bytes)" %
              (label, args.size, args.rounds))
        sys.stdout.flush()
        subprocess.run(["timeout", "-k", "5", "1800", WINE_RUN,
                        os.path.join(build, "bench", "download-bench.exe"), url, str(args.rounds),
                        "velnor-bench-download.bin"], cwd=work, env=env, check=False)
        server.shutdown()
    subprocess.run(["wineserver", "-k"], env=dict(env, WINEPREFIX=env["VELNOR_WINEPREFIX"]),
                   check=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
