#!/usr/bin/env python3
"""Download benchmark: serves a 200 MB body (made on the fly) over TLS on
127.0.0.1 and measures, in one run, curl natively (the link's reference) and,
under Wine, DownloadFile against the bare WinHTTP read loop (download-bench).
Prints figures; never fails on a slow machine.

Usage: download_bench.py --build DIR [--prefix DIR] [--rounds N] [--size BYTES]
DIR is a build folder of the windows preset (download-bench.exe and
velnor_trust_ca.exe built); the prefix defaults to DIR/wineprefix.
"""

import argparse
import os
import resource
import subprocess
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "tls"))
import tls_peers  # noqa: E402


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def curl_rounds(url, rounds):
    speeds, cpu_per_mb = [], []
    for round_number in range(1, rounds + 1):
        before = children_cpu()
        out = subprocess.run(["curl", "-k", "-s", "-o", "/dev/null", "-w",
                              "%{size_download} %{time_total}", url],
                             check=True, capture_output=True, text=True, timeout=300).stdout
        cpu = children_cpu() - before
        size, seconds = out.split()
        mb = int(size) / 1e6
        speeds.append(mb / float(seconds))
        cpu_per_mb.append(cpu * 1000 / mb)
        print("round %d curl -k       %7.1f MB/s  CPU %.2f ms/MB  %s bytes"
              % (round_number, speeds[-1], cpu_per_mb[-1], size))
    speeds.sort()
    cpu_per_mb.sort()
    print("curl -k       median %7.1f MB/s (best %7.1f), CPU %.2f ms/MB"
          % (speeds[len(speeds) // 2], speeds[-1], cpu_per_mb[len(cpu_per_mb) // 2]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--prefix")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--size", type=int, default=200 * 1000 * 1000)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    prefix = args.prefix or os.path.join(build, "wineprefix")
    work = os.path.join(build, "bench", "download-work")
    os.makedirs(work, exist_ok=True)
    certs = tls_peers.make_certs(os.path.join(work, "certs"))
    tls_peers.trust_ca(os.path.join(ROOT, "cmake", "wine-run.sh"), prefix,
                       os.path.join(build, "net", "velnor_trust_ca.exe"),
                       os.path.join(certs, "ca.der"))

    with tls_peers.TlsServer(os.path.join(certs, "localhost.pem"),
                             os.path.join(certs, "localhost.key"), timeout=1200) as server:
        url = "https://localhost:%d/file/%d" % (server.ports[0], args.size)
        print("%s, %d rounds each (MB = 10^6 bytes)" % (url, args.rounds))
        sys.stdout.flush()
        curl_rounds(url, args.rounds)
        sys.stdout.flush()
        env = dict(os.environ, VELNOR_WINEPREFIX=prefix)
        subprocess.run(["timeout", "-k", "5", "900", os.path.join(ROOT, "cmake", "wine-run.sh"),
                        os.path.join(build, "bench", "download-bench.exe"), url,
                        str(args.rounds), "velnor-bench-download.bin"],
                       cwd=work, env=env, check=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
