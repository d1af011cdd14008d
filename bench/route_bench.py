#!/usr/bin/python3
"""Route benchmark under Wine: what choosing the route adds to a direct download
of 1 MB when no proxy is set, and, with auto-detection and no WPAD server (in the
tests' private resolver, where a stub answers "no such name"), the time until the
first request can be sent (route-bench.exe, median of 7 rounds). Runs on the
tests' harness. Prints figures; never fails on a slow machine.

Usage: route_bench.py DIR   (a windows preset build folder with route-bench.exe)
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import harness  # noqa: E402
import trustme  # noqa: E402


def main():
    harness.BUILD = os.path.abspath(sys.argv[1])
    ca = trustme.CA()
    prefix = harness.Prefix(harness.built("wineprefix-bench"))
    prefix.prepare(ca.cert_pem.bytes())
    work = harness.fresh(harness.built("bench", "route-work"))
    resolver, asked = harness.no_such_name()
    route = {"/setup": lambda handler: harness.reply(handler, 200, bytes(1 << 20))}
    try:
        with harness.Server(ca.issue_cert("localhost"), route) as server:
            command = [os.path.join(harness.ROOT, "cmake", "wine-run.sh"), harness.built("bench", "route-bench.exe"),
                       "https://localhost:%d/setup" % server.port, "7"]
            for label, detect in (("no proxy set", False), ("auto-detection, no WPAD server", True)):
                harness.set_proxy(prefix, detect=detect)
                prefix.kill()
                with open(os.path.join(work, "out"), "w") as out:  # no pipe a wineserver would hold
                    subprocess.run(harness.private_resolver(work, command, resolver) if detect else command,
                                   env=prefix.env, cwd=work, stdout=out, stderr=out, timeout=600)
                print("== %s" % label)
                print(open(os.path.join(work, "out")).read().rstrip(), flush=True)
            print("  WPAD names asked of the stub: %d" % sum(name.startswith(b"\x04wpad") for name in asked))
    finally:
        harness.set_proxy(prefix)
        prefix.kill()
    return 0


if __name__ == "__main__":
    sys.exit(main())
