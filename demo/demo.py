#!/usr/bin/env python3
"""The demonstration run behind scripts/run.sh.

Serves the demonstration setup program (velnor-demo-setup.exe, padded so the
download lasts a while, and signed by a throwaway code-signing certificate
made now for C=CN, O=Velnor, CN=<--publisher>, the publisher the installer
was built to expect) from the loopback download server on 127.0.0.1:8443
at a throttled rate, runs velnor-installer.exe under Wine in a throwaway
prefix (a test CA trusted there only, a stand-in browser that only logs), on
$DISPLAY when set or else on a private Xvfb, saves frames of the window and
an animated GIF of the progress under --out, and prints what happened.

  demo.py --demo-setup EXE --publisher CN --prefix DIR --out DIR [--seconds S] [--size BYTES]
"""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import peers  # noqa: E402  (display, prefix, server, installer run)
import trustme  # noqa: E402
from PIL import ImageGrab  # noqa: E402

WINDOW = (*peers.ORIGIN, peers.ORIGIN[0] + 560, peers.ORIGIN[1] + 310)


def shown(env, name):
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % name], env=env,
                          capture_output=True, timeout=10).stdout.strip() != b""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("demo-setup", "publisher", "prefix", "out"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--seconds", type=float, default=12, help="how long the download should take")
    parser.add_argument("--size", type=int, default=4 << 20, help="bytes served")
    args = parser.parse_args()
    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    xvfb, display = (None, os.environ["DISPLAY"]) if os.environ.get("DISPLAY") else \
        peers.start_display()
    print("demo: display %s%s" % (display, " (private Xvfb)" if xvfb else ""))
    ca = trustme.CA()
    prefix = peers.Prefix(os.path.abspath(args.prefix), display)
    frames = []
    try:
        prefix.prepare(ca.cert_pem.bytes(), peers.WIN10_WITH_WEBVIEW2)
        rate = max(1024, int(args.size / args.seconds))
        print("demo: serving %d bytes at %d KB/s on https://localhost:%d" % (
            args.size, rate // 1024, peers.PORT))
        signer = peers.code_signer(os.path.join(os.path.abspath(args.prefix) + "-signer"), args.publisher,
                                     "Velnor")
        print("demo: setup program signed by CN=%s, O=Velnor, C=CN" % args.publisher)
        routes = peers.installer_routes(peers.signed(peers.padded_payload(args.demo_setup, args.size),
                                                         signer), rate=rate)
        with peers.Server(ca.issue_cert("localhost"), routes, port=peers.PORT) as server:
            run = peers.Run(prefix, peers.built("velnor-installer.exe"),
                              peers.fresh(peers.built("demo-run")))
            if peers.wait_until(lambda: shown(prefix.env, "Velnor Installer"), 60):
                ImageGrab.grab(xdisplay=prefix.env["DISPLAY"]).save(os.path.join(args.out, "screen-start.png"))
            # Frames until the window is hidden (download done) or the run ends.
            deadline = time.monotonic() + args.seconds * 4 + 30
            while run.proc.poll() is None and time.monotonic() < deadline and \
                    shown(prefix.env, "Velnor Installer"):
                frames.append(os.path.join(args.out, "frame-%03d.png" % len(frames)))
                ImageGrab.grab(xdisplay=prefix.env["DISPLAY"]).crop(WINDOW).save(frames[-1])
                time.sleep(0.5)
            setup_shown = peers.wait_until(lambda: shown(prefix.env, "velnor setup \\(demo\\)"), 20)
            if setup_shown:
                ImageGrab.grab(xdisplay=prefix.env["DISPLAY"]).save(os.path.join(args.out, "setup-running.png"))
            code = run.wait(240)
    except RuntimeError as error:
        print("demo: " + str(error))
        return 1
    finally:
        prefix.kill()
        if xvfb:
            xvfb.terminate()
    if frames:  # every frame, then the last one held a while
        subprocess.run(["convert", "-delay", "50", "-loop", "0", *frames, "-delay", "200",
                        frames[-1], "-layers", "Optimize", os.path.join(args.out, "progress.gif")],
                       check=False, timeout=300)
    print("\nvelnor-installer.exe exited with code %s" % code)
    print("requests the download server saw:")
    for line, agent in server.requests or [("(none)", "")]:
        print("  %s  [User-Agent: %s]" % (line, agent))
    print("publisher checked: CN=%s, O=Velnor, C=CN; the setup program was %sstarted" % (
        args.publisher, "" if setup_shown else "not "))
    left = os.path.exists(run.path(peers.SAVE_NAME))
    print("velnor-setup.exe: %s" % ("still in " + run.workdir if left else "not left behind"))
    print("URLs handed to the browser: %s" % (", ".join(run.browser()) or "none"))
    listing = os.path.join(prefix.profile(), ".velnor", "config.toml")
    print("software list %s:" % listing)
    with open(listing, "rb") if os.path.exists(listing) else open(os.devnull, "rb") as data:
        print(data.read().decode("utf-8", "replace").replace("\r\n", "\n").rstrip() or "  (none)")
    print("pictures in %s: %d frames%s" % (args.out, len(frames), "".join(
        "\n  " + os.path.basename(p) for p in sorted(glob.glob(os.path.join(args.out, "*.*")))
        if not os.path.basename(p).startswith("frame-"))))
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
