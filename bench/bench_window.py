#!/usr/bin/env python3
"""Download with the window: velnor-installer.exe end to end on a 200 MB
setup program (window shown and painting, file saved, setup run, file
deleted) against the bare WinHTTP read loop (winhttp-get.exe, which discards
the body), in turns, in one run, on the end-to-end harness's server, prefix
and display. Both are timed by the server, from the request to the last body
byte written, so both figures mean the same. Prints figures; a slow machine
makes no failure.

Takes the end-to-end driver's arguments (e2e.py) with the group "bench_window";
--installer is the frame-counting build (velnor-installer-frames.exe).
VELNOR_BENCH_BARE names winhttp-get.exe; VELNOR_BENCH_ROUNDS (5) and
VELNOR_BENCH_SIZE (200000000 bytes) are optional.
"""

import os
import re
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import e2e  # noqa: E402  the end-to-end harness, its server and its prefix

BARE = os.environ.get("VELNOR_BENCH_BARE", "")
ROUNDS = int(os.environ.get("VELNOR_BENCH_ROUNDS", "5"))
SIZE = int(os.environ.get("VELNOR_BENCH_SIZE", str(200 * 1000 * 1000)))


def served_seconds(events):
    """Seconds from the request to the last body byte written, or None."""
    times = {event["event"]: event["time"] for event in events}
    if "request" in times and "body-end" in times:
        return times["body-end"] - times["request"]
    return None


def installer_round(suite, payload, number):
    work = suite.workdir("bench-window-installer-%d" % number)
    frames_file = os.path.join(work, "frames.txt")
    run = e2e.run_installer(suite, work, e2e.Server(suite, payload), timeout=600,
                            env={"VELNOR_BENCH_FRAMES": e2e.windows_path(frames_file)})
    seconds = served_seconds(run.events)
    ok = suite.check(run.code == 0 and run.setup_log.get("exit") == "0" and seconds,
                     "round %d: the installer downloaded, ran and deleted the setup program" % number,
                     (run.code, run.setup_log.get("exit")))
    frames = None
    if os.path.exists(frames_file):
        with open(frames_file, encoding="ascii") as count:
            frames = int(count.read().strip() or 0)
    return (SIZE / 1e6 / seconds, frames, seconds) if ok else None


def bare_round(suite, payload, number):
    work = suite.workdir("bench-window-bare-%d" % number)
    server = e2e.Server(suite, payload)
    server.start(work)
    try:
        result = suite.wine(BARE, e2e.RELEASE_URL, timeout=600, check=False)
    finally:
        events = server.events()
        server.stop()
    printed = re.search(rb"(\d+) bytes in", result.stdout)
    seconds = served_seconds(events)
    ok = suite.check(result.returncode == 0 and printed and int(printed.group(1)) == SIZE and seconds,
                     "round %d: the bare loop read the whole body" % number,
                     (result.returncode, result.stdout[-200:], result.stderr[-200:]))
    return SIZE / 1e6 / seconds if ok else None


@e2e.scenario("bench_window")
def bench_window(suite):
    suite.configure(version="win10", pv_machine="1.2.3.4")
    suite.set_software_list(None)
    payload = e2e.padded_payload(suite, suite.args.setup, SIZE, "setup-bench.exe")
    installer, bare = [], []
    for number in range(1, ROUNDS + 1):
        # In turns, the order swapped each round, so a drift of the machine
        # falls on both.
        steps = ["installer", "bare"] if number % 2 else ["bare", "installer"]
        for step in steps:
            if step == "installer":
                result = installer_round(suite, payload, number)
                if result:
                    installer.append(result)
                    e2e.log("round %d installer     %7.1f MB/s  %.2f s  %s frames painted"
                            % (number, result[0], result[2], result[1]))
            else:
                result = bare_round(suite, payload, number)
                if result:
                    bare.append(result)
                    e2e.log("round %d bare WinHTTP  %7.1f MB/s" % (number, result))
    if not installer or not bare:
        return
    installer_speed = statistics.median(r[0] for r in installer)
    bare_speed = statistics.median(bare)
    frames = [r[1] for r in installer if r[1] is not None]
    print("download with the window, %d bytes, %d rounds (MB = 10^6 bytes)" % (SIZE, ROUNDS))
    print("  installer end to end  median %7.1f MB/s" % installer_speed)
    print("  bare WinHTTP loop     median %7.1f MB/s" % bare_speed)
    print("  ratio installer / bare loop: %.2f (goal at least 0.9)" % (installer_speed / bare_speed))
    if frames:
        print("  frames painted per run: median %d (%s), %.1f per second of download"
              % (statistics.median(frames), ", ".join(map(str, frames)),
                 statistics.median(frames) / statistics.median(r[2] for r in installer)))
    sys.stdout.flush()


if __name__ == "__main__":
    if not os.path.exists(BARE):
        sys.exit("VELNOR_BENCH_BARE does not name winhttp-get.exe")
    sys.exit(e2e.main())
