#!/usr/bin/python3
"""Route benchmark under Wine: what choosing the route adds to a direct download
of 1 MB when no proxy is set, and, with auto-detection and no WPAD server (in the
tests' private resolver, where a stub answers "no such name"), the time until the
first request can be sent (route-bench.exe, median of 7 rounds). Runs on the
tests' peers. Prints figures; never fails on a slow machine.

Usage: route_bench.py DIR   (a windows preset build folder with route-bench.exe)
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import peers  # noqa: E402
import trustme  # noqa: E402


def main():
    peers.BUILD = os.path.abspath(sys.argv[1])
    ca = trustme.CA()
    prefix = peers.Prefix(peers.built("wineprefix-bench"))
    prefix.prepare(ca.cert_pem.bytes())
    work = peers.fresh(peers.built("bench", "route-work"))
    resolver, asked = peers.no_such_name()
    route = {"/setup": lambda handler: peers.reply(handler, 200, bytes(1 << 20))}
    try:
        with peers.Server(ca.issue_cert("localhost"), route) as server:
            command = [os.path.join(peers.ROOT, "cmake", "wine-run.sh"), peers.built("bench", "route-bench.exe"),
                       "https://localhost:%d/setup" % server.port, "7"]
            for label, detect in (("no proxy set", False), ("auto-detection, no WPAD server", True)):
                peers.set_proxy(prefix, detect=detect)
                prefix.kill()
                with open(os.path.join(work, "out"), "w") as out:  # no pipe a wineserver would hold
                    subprocess.run(peers.private_resolver(work, command, resolver) if detect else command,
                                   env=prefix.env, cwd=work, stdout=out, stderr=out, timeout=600)
                print("== %s" % label)
                print(open(os.path.join(work, "out")).read().rstrip(), flush=True)
            print("  WPAD names asked of the stub: %d" % sum(name.startswith(b"\x04wpad") for name in asked))
    finally:
        peers.set_proxy(prefix)
        prefix.kill()
    return 0


if __name__ == "__main__":
    sys.exit(main())
