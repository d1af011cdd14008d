#!/usr/bin/env python3
"""Download with the window: velnor-installer.exe end to end on a 200 MB
setup program (window shown and painting, file saved, setup run, file
deleted) against the bare WinHTTP read loop (winhttp-get.exe, which discards
the body), in turns, on the peers (tools/peers.py) (server, prefix, display). Both
are timed by the server, from the first body byte to the last, so both
figures mean the same. Prints figures; a slow machine makes no failure.

  bench_window.py --installer EXE --bare EXE --setup EXE --prefix DIR
                  [--rounds 5] [--size 200000000]
--installer is the frame-counting build (velnor-installer-frames.exe).
"""

import argparse
import os
import re
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import peers  # noqa: E402
import trustme  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("installer", "bare", "setup", "prefix"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--size", type=int, default=200 * 1000 * 1000)
    args = parser.parse_args()
    xvfb, display = peers.start_display()
    ca = trustme.CA()
    prefix = peers.Prefix(os.path.abspath(args.prefix), display)
    # Signed for the publisher the windows preset's installer expects.
    signer = peers.code_signer(os.path.abspath(args.prefix) + "-signer", *peers.PUBLISHER)
    payload = peers.signed(peers.padded_payload(args.setup, args.size), signer)
    speeds = {"installer": [], "bare": []}
    frames, changes = [], []
    try:
        prefix.prepare(ca.cert_pem.bytes(), peers.WIN10_WITH_WEBVIEW2)
        for number in range(1, args.rounds + 1):
            # The order swapped each round, so a drift of the machine falls on both.
            for step in ("installer", "bare")[::1 if number % 2 else -1]:
                routes = peers.installer_routes(payload)
                with peers.Server(ca.issue_cert("localhost"), routes, port=peers.PORT) as server:
                    work = peers.fresh(peers.built("bench-window", step))
                    count = os.path.join(work, "frames.txt")
                    if step == "installer":
                        run = peers.Run(prefix, args.installer, work,
                                          {"VELNOR_BENCH_FRAMES": peers.windows_path(count)})
                        ok = run.wait(600) == 0 and run.setup_log() != {}
                    else:
                        code, out = prefix.wine(args.bare, peers.RELEASE_URL, timeout=600)
                        printed = re.search(r"(\d+) bytes in", out)
                        ok = code == 0 and printed and int(printed.group(1)) == len(payload)
                events = server.events
                if not ok or "body-end" not in events:
                    print("round %d %s: the download did not complete" % (number, step))
                    continue
                speeds[step].append(len(payload) / 1e6 / (events["body-end"] - events["body-start"]))
                counted = step == "installer" and os.path.exists(count)
                if counted:
                    painted, raised = map(int, open(count).read().split())
                    frames.append(painted)
                    changes.append(raised)
                print("round %d %-9s %7.1f MB/s%s" % (number, step, speeds[step][-1], (
                    "  %d frames painted, %d value-change events" % (painted, raised)) if counted else ""))
    finally:
        prefix.kill()
        xvfb.terminate()
    if not speeds["installer"] or not speeds["bare"]:
        return 1
    installer, bare = (statistics.median(speeds[k]) for k in ("installer", "bare"))
    print("download with the window, %d bytes, %d rounds (MB = 10^6 bytes)" % (len(payload), args.rounds))
    print("  installer end to end  median %7.1f MB/s" % installer)
    print("  bare WinHTTP loop     median %7.1f MB/s" % bare)
    print("  ratio installer / bare loop: %.2f (goal at least 0.9)" % (installer / bare))
    if frames:
        print("  frames painted per run: median %d (%s)" % (statistics.median(frames),
                                                        ", ".join(map(str, frames))))
        print("  value-change events per run: at most %d (goal at most 101)" % max(changes))
    return 0


if __name__ == "__main__":
    sys.exit(main())
