#!/usr/bin/env python3
"""Runs the downloader's Wine test program against real TLS servers on
127.0.0.1.

Usage: download_tls_test.py --wine-run SCRIPT --prefix DIR --trust-ca EXE
                            --test-exe EXE --work DIR

Makes the test certificates in DIR/certs (once), trusts the test CA in the
Wine prefix DIR only, starts one server with the localhost certificate on two
ports (redirects across ports) and one server for each bad certificate
(self-signed, another host name, expired), then runs the test program twice
at once: the stall case, which waits out the 30 s receive time-out, beside
every other case, each in a folder of its own with velnor-tls-full.bin linked
to /dev/full. Ports and the request log reach the program through
VELNOR_TLS_* variables. Servers end when this script does.
"""

import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tls"))
import tls_peers  # noqa: E402

STALL_FILTER = "DownloadTlsTest.StalledBody*"
RUN_LIMIT_S = 150


def main():
    parser = argparse.ArgumentParser()
    for name in ("wine-run", "prefix", "trust-ca", "test-exe", "work"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    certs = tls_peers.make_certs(os.path.join(args.work, "certs"))
    cert = lambda name: (os.path.join(certs, name + ".pem"), os.path.join(certs, name + ".key"))
    request_log = os.path.join(args.work, "requests.log")
    bad_log = os.path.join(args.work, "bad-cert-requests.log")
    for path in (request_log, bad_log):
        if os.path.exists(path):
            os.remove(path)

    tls_peers.trust_ca(args.wine_run, args.prefix, args.trust_ca, os.path.join(certs, "ca.der"))

    with tls_peers.TlsServer(*cert("localhost"), ports=2, log=request_log, timeout=300) as good, \
            tls_peers.TlsServer(*cert("selfsigned"), log=bad_log, timeout=300) as selfsigned, \
            tls_peers.TlsServer(*cert("otherhost"), log=bad_log, timeout=300) as otherhost, \
            tls_peers.TlsServer(*cert("expired"), log=bad_log, timeout=300) as expired:
        env = dict(os.environ,
                   VELNOR_WINEPREFIX=args.prefix,
                   VELNOR_TLS_PORT=str(good.ports[0]),
                   VELNOR_TLS_OTHER_PORT=str(good.ports[1]),
                   VELNOR_TLS_SELFSIGNED_PORT=str(selfsigned.ports[0]),
                   VELNOR_TLS_WRONGHOST_PORT=str(otherhost.ports[0]),
                   VELNOR_TLS_EXPIRED_PORT=str(expired.ports[0]),
                   VELNOR_TLS_LOG=tls_peers.windows_path(request_log),
                   VELNOR_TLS_BAD_CERT_LOG=tls_peers.windows_path(bad_log))
        runs = []
        for name, gtest_filter in (("stall", STALL_FILTER), ("main", "-" + STALL_FILTER)):
            work = os.path.join(args.work, name)
            os.makedirs(work, exist_ok=True)
            # A save path where every write fails.
            full = os.path.join(work, "velnor-tls-full.bin")
            if os.path.lexists(full):
                os.remove(full)
            os.symlink("/dev/full", full)
            command = ["timeout", "-k", "5", str(RUN_LIMIT_S), args.wine_run, args.test_exe,
                       "--gtest_filter=" + gtest_filter]
            output = open(os.path.join(args.work, name + ".out"), "w+")
            runs.append((name, output, subprocess.Popen(command, cwd=work, env=env, stdout=output,
                                                        stderr=subprocess.STDOUT)))
        failed = []
        for name, output, run in runs:
            if run.wait() != 0:
                failed.append("%s (exit %d)" % (name, run.returncode))
            output.seek(0)
            sys.stdout.write(output.read())
            output.close()
    if failed:
        print("download_tls_test: failed runs: " + ", ".join(failed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
