#!/usr/bin/python3
"""Download benchmark: DownloadFile against the bare WinHTTP read loop under
Wine (download-bench.exe), from nginx over TLS on 127.0.0.1 (the same nginx as
the resume tests), twice: at the full speed of loopback, and paced by nginx's
own limit_rate to 50 MB/s, closer to a user's link. The body is 200 MB. Then
the time from the last byte of a signed 4 MB and 200 MB setup program to its
start: the read-back with the signature check beside it, against the read-back
alone. Runs on the peers (tools/peers.py) (prefix, nginx). Prints figures;
never fails on a slow machine.

Usage: download_bench.py --build DIR [--rounds N] [--size BYTES]
DIR is a build folder of the windows preset with download-bench.exe built;
the prefix is DIR/wineprefix-bench.
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import peers  # noqa: E402


def main():
    args, ca, prefix, work = peers.bench_start("download-work")
    os.makedirs(work + "/nginx/www")
    with open(work + "/nginx/www/setup", "wb") as body:
        body.truncate(args.size)
    try:
        for label, rate in (("loopback", 0), ("paced to 50 MB/s", 50 * 1000 * 1000)):
            with peers.nginx(work + "/nginx", ca.issue_cert("localhost"), rate) as (port, _):
                print("== %s: %d bytes, %d rounds each, interleaved (MB = 10^6 bytes)" %
                      (label, args.size, args.rounds), flush=True)
                print(prefix.wine(peers.built("bench", "download-bench.exe"),
                                  "https://localhost:%d/setup" % port, str(args.rounds),
                                  "velnor-bench-download.bin", timeout=1800, cwd=work)[1], flush=True)
        # What the installer does between the last byte and the start, on the stand-in
        # setup program padded to each size and signed by a throwaway publisher.
        signer = peers.code_signer(peers.built("bench", "signer"), "Velnor bench", "Velnor")
        for size in (4 << 20, 200 << 20):
            program = os.path.join(work, "signed-%d.exe" % size)
            open(program, "wb").write(peers.signed(peers.padded_payload(
                peers.built("tests", "peer.exe"), size), signer))
            print(prefix.wine(peers.built("bench", "download-bench.exe"), "--signature",
                              peers.windows_path(program), "5", timeout=600, cwd=work)[1], flush=True)
    finally:
        prefix.kill()
    return 0


if __name__ == "__main__":
    sys.exit(main())
