#!/usr/bin/env python3
"""The demonstration run behind scripts/run.sh.

Serves the demonstration setup program (velnor-demo-setup.exe, padded so the
download lasts a while) from the loopback download server on 127.0.0.1:8443
at a throttled rate, runs velnor-installer.exe under Wine in a throwaway
prefix (the test CA trusted there only, a stand-in browser that only logs),
on $DISPLAY when set or else on a private Xvfb, saves frames of the window
and an animated GIF of the progress under --out, and prints what happened.

  demo.py --source DIR --wine-run FILE --installer EXE --demo-setup EXE
          --trust-ca EXE --prefix DIR --work DIR --out DIR
          [--seconds S] [--size BYTES]
"""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import e2e  # noqa: E402  (the end-to-end harness: server, prefix, display, screen)


def window_geometry(suite, name):
    """(x, y, width, height) of the shown X window called name, or None."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % name,
                          "getwindowgeometry", "--shell"], env=suite.env, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True, timeout=10).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    try:
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
    except (KeyError, ValueError):
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("source", "wine-run", "installer", "demo-setup", "trust-ca", "prefix", "work", "out"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--seconds", type=float, default=12, help="how long the download should take")
    parser.add_argument("--size", type=int, default=4 << 20, help="bytes served")
    args = parser.parse_args()
    # The harness's Suite wants these; the demonstration does not probe.
    args.setup, args.probe = args.demo_setup, ""

    suite = e2e.Suite(args)
    os.makedirs(suite.work, exist_ok=True)
    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    frames = []

    def record(run):
        geometry = e2e.wait_until(
            lambda: window_geometry(suite, "Velnor Installer") or (not run.running() and "gone"), 60)
        if geometry in (None, "gone"):
            print("demo: the installer's window did not appear")
            return
        print("demo: window at %d,%d, %dx%d" % geometry)
        e2e.screenshot(suite.env, os.path.join(args.out, "screen-start.png"))
        # Frames until the window is hidden (download done) or the run ends.
        deadline = time.monotonic() + args.seconds * 4 + 30
        while run.running() and time.monotonic() < deadline:
            if not window_geometry(suite, "Velnor Installer"):
                break
            frame = os.path.join(args.out, "frame-%03d.png" % len(frames))
            e2e.screenshot(suite.env, frame, geometry)
            frames.append(frame)
            time.sleep(0.5)
        setup = e2e.wait_until(
            lambda: window_geometry(suite, "velnor setup \\(demo\\)") or not run.running(), 20)
        if setup and setup is not True:
            time.sleep(0.5)
            e2e.screenshot(suite.env, os.path.join(args.out, "setup-running.png"))

    try:
        suite.kill_wine()
        if os.environ.get("DISPLAY"):
            suite.display = os.environ["DISPLAY"]
            suite.env["DISPLAY"] = suite.display
            print("demo: using your display %s" % suite.display)
        else:
            suite.start_display()
            print("demo: no DISPLAY; using a private Xvfb display %s" % suite.display)
        suite.prepare_prefix()
        suite.configure(version="win10", pv_machine="1.2.3.4")
        payload = e2e.padded_payload(suite, args.demo_setup, args.size, "demo-setup-payload.exe")
        rate = max(1024, int(args.size / args.seconds))
        print("demo: serving %d bytes at %d KB/s on https://localhost:%d" % (
            args.size, rate // 1024, e2e.PORT))
        # record()'s own waits, then two minutes more.
        run = e2e.run_installer(suite, suite.workdir("run"), e2e.Server(suite, payload, rate=rate),
                                during=record, timeout=args.seconds * 4 + 230)
    except e2e.Failure as error:
        print("demo: " + str(error))
        return 1
    finally:
        suite.kill_wine()
        suite.stop_display()

    if frames:
        # Every frame, then the last one held a while.
        subprocess.run(["convert", "-delay", "50", "-loop", "0"] + frames +
                       ["-delay", "200", frames[-1], "-layers", "Optimize",
                        os.path.join(args.out, "progress.gif")],
                       check=False, timeout=300)
    print()
    print("velnor-installer.exe exited with code %s after %.1f s" % (run.code, run.elapsed or 0))
    print("requests the download server saw:")
    for line, agent in run.requests or [("(none)", "")]:
        print("  %s  %s" % (line, ("[User-Agent: %s]" % agent) if agent else ""))
    left = os.path.exists(run.path(e2e.SAVE_NAME))
    print("velnor-setup.exe: %s" % ("still in " + run.workdir if left else "not left behind"))
    browser = suite.browser()
    print("URLs handed to the browser: %s" % (", ".join(browser) if browser else "none"))
    listing = suite.read_software_list()
    print("software list %s:" % suite.software_list())
    print(listing.decode("utf-8", errors="replace").replace("\r\n", "\n").rstrip() if listing else "  (none)")
    shots = sorted(glob.glob(os.path.join(args.out, "*")))
    print("pictures in %s: %d frames%s" % (args.out, len(frames), "".join(
        "\n  " + os.path.basename(p) for p in shots if not os.path.basename(p).startswith("frame-"))))
    return 0 if run.code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
