#!/usr/bin/env python3
"""Download with the window: velnor-installer.exe end to end on a 200 MB
setup program (window shown and painting, file saved, setup run, file
deleted) against the bare WinHTTP read loop (winhttp-get.exe, which discards
the body), in turns, on the peers (tools/peers.py) (server, prefix, display). Both
are timed by the server, from the first body byte to the last, so both
figures mean the same. Then one more turn of each paced to 12.5 MB/s, an
ordinary fast line: the frames painted a second, and the CPU time each
program spent a MB while the body came. Prints figures; a slow machine makes
no failure.

  bench_window.py --installer EXE --bare EXE --setup EXE --prefix DIR
                  [--rounds 5] [--size 200000000]
--installer is the frame-counting build (velnor-installer-frames.exe).
"""

import argparse
import os
import re
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import peers  # noqa: E402
import trustme  # noqa: E402


PACED = 12500000  # bytes a second


class CpuWatch:
    """Polls the CPU time (user and system, in s) of the Unix process running a program of
    the prefix, found by its name (Wine names the process after the program, cut to 15
    characters): cpu_at(t) is the reading nearest before time t."""

    def __init__(self, name):
        self.name, self.readings, self.done = name[:15], [], False
        threading.Thread(target=self._poll, daemon=True).start()

    def _poll(self):
        pid, tick = None, os.sysconf("SC_CLK_TCK")
        while not self.done:
            try:
                pid = pid or next(p for p in os.listdir("/proc") if p.isdigit() and open(
                    "/proc/%s/comm" % p).read().strip() == self.name)
                fields = open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()
                self.readings.append((time.time(), (int(fields[11]) + int(fields[12])) / tick))
            except (StopIteration, OSError):
                pid = None
            time.sleep(0.05)

    def cpu_at(self, moment):
        return max([cpu for when, cpu in self.readings if when <= moment] or [0])


def run_once(args, prefix, payload, step, number, rate=0):
    """One turn of step ("installer" or "bare"): (MB/s by the server's clock, the frames
    painted or None, the value-change events or None, the CPU s while the body came), or
    None when the download did not complete."""
    routes = peers.installer_routes(payload, rate=rate)
    with peers.Server(args.ca.issue_cert("localhost"), routes, port=peers.PORT) as server:
        work = peers.fresh(peers.built("bench-window", step))
        count = os.path.join(work, "frames.txt")
        watch = CpuWatch(os.path.basename(args.installer if step == "installer" else args.bare))
        try:
            if step == "installer":
                run = peers.Run(prefix, args.installer, work, {"VELNOR_BENCH_FRAMES": peers.windows_path(count)})
                ok = run.wait(600) == 0 and run.setup_log() != {}
            else:
                code, out = prefix.wine(args.bare, peers.RELEASE_URL, timeout=600)
                printed = re.search(r"(\d+) bytes in", out)
                ok = code == 0 and printed and int(printed.group(1)) == len(payload)
        finally:
            watch.done = True
        events = server.events
    if not ok or "body-end" not in events:
        print("round %s %s: the download did not complete" % (number, step))
        return None
    start, end = events["body-start"], events["body-end"]
    frames = events_raised = None
    if step == "installer" and os.path.exists(count):
        frames, events_raised = map(int, open(count).read().split())
    return len(payload) / 1e6 / (end - start), frames, events_raised, watch.cpu_at(end) - watch.cpu_at(start), end - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("installer", "bare", "setup", "prefix"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--size", type=int, default=200 * 1000 * 1000)
    args = parser.parse_args()
    xvfb, display = peers.start_display()
    args.ca = trustme.CA()
    prefix = peers.Prefix(os.path.abspath(args.prefix), display)
    # Signed for the publisher the windows preset's installer expects.
    signer = peers.code_signer(os.path.abspath(args.prefix) + "-signer", *peers.PUBLISHER)
    payload = peers.signed(peers.padded_payload(args.setup, args.size), signer)
    speeds = {"installer": [], "bare": []}
    frames, changes, paced = [], [], {}
    try:
        prefix.prepare(args.ca.cert_pem.bytes(), peers.WIN10_WITH_WEBVIEW2)
        for number in range(1, args.rounds + 1):
            # The order swapped each round, so a drift of the machine falls on both.
            for step in ("installer", "bare")[::1 if number % 2 else -1]:
                result = run_once(args, prefix, payload, step, number)
                if result is None:
                    continue
                speeds[step].append(result[0])
                if result[1] is not None:
                    frames.append(result[1])
                    changes.append(result[2])
                print("round %d %-9s %7.1f MB/s%s" % (number, step, result[0], (
                    "  %d frames painted, %d value-change events" % result[1:3]) if result[1] is not None else ""))
        for step in ("installer", "bare"):
            paced[step] = run_once(args, prefix, payload, step, "paced", rate=PACED)
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
        print("  frames painted per run: median %d, min %d, max %d (goal at most 700)" % (
            statistics.median(frames), min(frames), max(frames)))
        print("  value-change events per run: at most %d (goal at most 101)" % max(changes))
    if paced.get("installer") and paced.get("bare"):
        mb = len(payload) / 1e6
        (_, painted, _, cpu, seconds), bare_cpu = paced["installer"], paced["bare"][3]
        print("paced to %.1f MB/s, one run each:" % (PACED / 1e6))
        print("  frames painted a second: %.1f (%d in %.1f s)" % (painted / seconds, painted, seconds))
        print("  CPU while the body came: installer %.2f ms/MB, bare loop %.2f ms/MB" % (
            cpu * 1000 / mb, bare_cpu * 1000 / mb))
    return 0


if __name__ == "__main__":
    sys.exit(main())
