#!/usr/bin/python3
"""Resume benchmark: DownloadFile's time for a 200 MB body from nginx over TLS on
127.0.0.1, paced to 50 MB/s by the tests' relay, with the connection reset once at
half the body, against the same download uncut. Interleaved rounds (the order swaps
every round), min, median and max, under Wine, through download_check.exe, which
times DownloadFile alone. Prints figures beside the goal; never fails.

Usage: resume_bench.py --build DIR [--rounds N] [--size BYTES]
DIR is a build folder of the windows preset with tests/download_check.exe built;
the prefix is DIR/wineprefix-bench.
"""

import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import peers  # noqa: E402

RATE = 50 * 1000 * 1000  # bytes a second


def main():
    args, ca, prefix, work = peers.bench_start("resume-work")
    os.makedirs(work + "/nginx/www")
    with open(work + "/nginx/www/setup", "wb") as body:
        body.truncate(args.size)
    seconds = {"uncut": [], "reset at half": []}
    print("== %d bytes paced to %d MB/s, %d rounds each, interleaved" % (args.size, RATE // 10**6, args.rounds))
    try:
        with peers.nginx(work + "/nginx", ca.issue_cert("localhost")) as (port, _):
            for number in range(1, args.rounds + 1):
                for label in sorted(seconds, reverse=number % 2 == 0):
                    cuts = [args.size // 2] if label == "reset at half" else []
                    with peers.relay(port, 0, cuts, RATE) as (relay_port, _):
                        output = prefix.wine(peers.built("tests", "download_check.exe"),
                                             "https://localhost:%d/setup" % relay_port, timeout=600, cwd=work)[1]
                    fields = (output.splitlines() or ["no output"])[-1].split("\t")
                    if os.path.exists(work + "/file1.bin"):
                        os.remove(work + "/file1.bin")
                    if fields[0] == "ok":
                        seconds[label].append(int(fields[1]) / 1000)
                    result = "%.2f s" % seconds[label][-1] if fields[0] == "ok" else "failed: " + fields[0]
                    print("round %d %-13s %s" % (number, label, result), flush=True)
    finally:
        prefix.kill()
    for label, times in seconds.items():
        print("%-13s " % label + ("s min %.2f  median %.2f  max %.2f" % (
            min(times), statistics.median(times), max(times)) if times else "no download completed"))
    medians = {label: statistics.median(times) for label, times in seconds.items() if times}
    goal = "goal: reset at half at most the uncut time + 1.5 s"
    if len(medians) == 2:
        print("%s: median %.2f s against %.2f s (%+.2f s over uncut)" % (
            goal, medians["reset at half"], medians["uncut"] + 1.5, medians["reset at half"] - medians["uncut"]))
    else:
        print(goal + ": nothing to compare")
    return 0


if __name__ == "__main__":
    sys.exit(main())
