#!/usr/bin/env python3
"""velnor-installer.exe end to end under Wine, on a private Xvfb display.

Every scenario runs the real installer from a folder of its own, against the
download server of installer_server.py on 127.0.0.1:8443 (the loopback origin
of the windows preset), with a stand-in setup program (e2e_setup.exe), a
stand-in browser that logs the URLs it is handed, and a Wine prefix of its own
(Windows version, WebView2 registration and the trusted test CA are set in
it). Scenarios come in groups; one CTest test runs one group:

  e2e.py --source DIR --wine-run cmake/wine-run.sh --installer EXE --setup EXE
         --probe EXE --trust-ca EXE --prefix DIR --work DIR GROUP...

A new scenario is a function decorated with @scenario("group") that takes the
Suite, calls run_installer() and records what it checks with check(); see
the scenarios at the end of this file.
"""

import argparse
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))

PORT = 8443
# Runs from other build folders use the same port: wait this long for it.
PORT_WAIT = 90
DOWNLOAD_ORIGIN = "https://localhost:8443"
SUPPORT_PAGE = "https://localhost:8444"
WIN7_URL = DOWNLOAD_ORIGIN + "/velnor-video/win7"
RELEASE_URL = DOWNLOAD_ORIGIN + "/velnor-video/release"
USER_AGENT = "VelnorInstaller/1.0"
SAVE_NAME = "velnor-setup.exe"

SCREEN_W, SCREEN_H = 1920, 1080
TITLE = "^Velnor Installer$"
WINDOW_W, WINDOW_H = 560, 310
# Where a 560 x 310 window centred on the 1920 x 1080 screen lands.
ORIGIN_X, ORIGIN_Y = (SCREEN_W - WINDOW_W) // 2, (SCREEN_H - WINDOW_H) // 2
# Client rectangles of the frame: the bar, the percentage, the speed, the close box.
BAR = (40, 275, 520, 283)
PERCENT_TEXT = (40, 247, 200, 267)
SPEED_TEXT = (360, 247, 520, 267)
CLOSE_BOX_CENTRE = (538, 26)

DOWNLOAD_FAILED = "下载失败，请检查网络连接或联系客服。"
START_FAILED = "安装程序启动失败，请检查安装包或联系客服。"
PROMPT_TAIL = '\n\n已为您打开下载页面，请手动安装。\n\n点击"确定"联系客服\n点击"取消"稍后处理'

PRODUCT_RECORD = ('[[software]]\r\nname = "velnor 视频格式转换器"\r\n'
                  'product_id = "9"\r\ndistributor_id = "1"\r\n').encode("utf-8")

WEBVIEW2_GUID = "{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}"
WEBVIEW2_MACHINE_KEY = "HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\" + WEBVIEW2_GUID
WEBVIEW2_USER_KEY = "HKCU\\Software\\Microsoft\\EdgeUpdate\\Clients\\" + WEBVIEW2_GUID


class Failure(Exception):
    """A scenario cannot go on (a peer did not start, a wait ran out)."""


def log(message):
    sys.stdout.write("[%s] %s\n" % (time.strftime("%H:%M:%S"), message))
    sys.stdout.flush()


def wait_until(predicate, timeout, interval=0.1):
    """Calls predicate until it returns a true value or timeout seconds pass; its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def wait_or_kill(process, timeout):
    """The exit code, or None when the process still ran after timeout seconds (then killed)."""
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def windows_path(path):
    """The Wine path of a Unix path: drive Z: maps the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read_lines(path):
    """The non-empty lines of a text file; [] when there is none."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8", errors="replace") as lines:
        return [line.rstrip("\n") for line in lines if line.strip()]


def key_values(lines):
    """"key<TAB>value" lines as a dict."""
    return dict(line.partition("\t")[::2] for line in lines)


# --- the screen -----------------------------------------------------------------


class Shot:
    """One screenshot (the screen or a crop of it): RGB bytes row by row, time taken."""

    def __init__(self, width, height, pixels, taken):
        self.width, self.height, self.pixels, self.taken = width, height, pixels, taken

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.pixels[at:at + 3])


def screenshot(env, path, crop=None):
    """The screen, or its crop (x, y, width, height), saved as the PNG file
    path and returned as a Shot."""
    taken = time.time()
    grab = ["import", "-window", "root"]
    if crop:
        grab += ["-crop", "%dx%d+%d+%d" % (crop[2], crop[3], crop[0], crop[1]), "+repage"]
    subprocess.run(grab + ["-strip", path], env=env, check=True, timeout=30)
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, timeout=30,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    return Shot(int(header.group(1)), int(header.group(2)), data[header.end():], taken)


def client(shot, x, y):
    """A pixel of the installer's client area, at its centred position."""
    return shot.pixel(ORIGIN_X + x, ORIGIN_Y + y)


def is_white(rgb):
    return min(rgb) >= 215


def is_black(rgb):
    return max(rgb) <= 8


def fill_columns(shot):
    """Columns of the bar's middle row that show the fill (242, 242, 147)
    rather than the track (239, 239, 239): the fill is yellow, low in blue."""
    y = (BAR[1] + BAR[3]) // 2
    return [x for x in range(BAR[0], BAR[2])
            if (lambda r, g, b: r > 200 and g > 200 and b < 200)(*client(shot, x, y))]


def text_columns(shot, rect):
    """The client x of every column of rect that holds white text pixels."""
    return [x for x in range(rect[0], rect[2])
            if any(is_white(client(shot, x, y)) for y in range(rect[1], rect[3]))]


# --- the suite ------------------------------------------------------------------


class Run:
    """One run of the installer: what it did and what it left."""

    def __init__(self, workdir):
        self.workdir, self.proc, self.started = workdir, None, 0.0
        self.code = self.elapsed = self.ended_at = None
        self.requests, self.events, self.browser, self.setup_log = [], [], [], {}

    def path(self, name):
        return os.path.join(self.workdir, name)

    def running(self):
        return self.proc is not None and self.proc.poll() is None


class Server:
    """installer_server.py on 127.0.0.1:8443, for one run."""

    def __init__(self, suite, payload, mode="serve", rate=0, delay=0.0, cert="localhost"):
        self.suite = suite
        self.payload, self.mode, self.rate, self.delay, self.cert = payload, mode, rate, delay, cert
        self.proc = None

    def start(self, workdir):
        certs = self.suite.certs
        self.log_path = os.path.join(workdir, "server.log")
        self.events_path = os.path.join(workdir, "server-events.jsonl")
        ready = os.path.join(workdir, "server.ready")
        for path in (self.log_path, self.events_path, ready):
            if os.path.exists(path):
                os.remove(path)
        self.stderr = open(os.path.join(workdir, "server.stderr"), "w+")
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "installer_server.py"),
             "--cert", os.path.join(certs, self.cert + ".pem"),
             "--key", os.path.join(certs, self.cert + ".key"),
             "--port", str(PORT), "--payload", self.payload, "--mode", self.mode,
             "--rate", str(self.rate), "--delay", str(self.delay),
             "--log", self.log_path, "--events", self.events_path, "--ready", ready,
             "--timeout", "300", "--wait-port", str(PORT_WAIT)],
            stdout=subprocess.DEVNULL, stderr=self.stderr)
        if not wait_until(lambda: os.path.exists(ready) or self.proc.poll() is not None,
                          PORT_WAIT + 15):
            self.stop()
            raise Failure("the download server did not start within %d s" % (PORT_WAIT + 15))
        if self.proc.poll() is not None:
            self.stderr.seek(0)
            raise Failure("the download server did not start: " + self.stderr.read().strip())

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            wait_or_kill(self.proc, 10)
        if self.proc:
            self.stderr.close()

    def requests(self):
        """(request line, User-Agent) of every request, in order."""
        return [tuple(line.split("\t", 1)) for line in read_lines(self.log_path)]

    def events(self):
        return [json.loads(line) for line in read_lines(self.events_path)]

    def event_time(self, name):
        return event_time(self.events(), name)


def event_time(events, name):
    """The time of the server's first event called name, or None."""
    return next((event["time"] for event in events if event["event"] == name), None)


class Suite:
    def __init__(self, args):
        self.args = args
        self.prefix = os.path.abspath(args.prefix)
        self.own = os.path.join(self.prefix, "velnor-e2e")
        self.certs = os.path.join(self.own, "certs")
        self.browser_log = os.path.join(self.own, "browser.log")
        self.work = os.path.abspath(args.work)
        self.xvfb = None
        self.display = None
        self.failures = []
        self.current = ""
        self.env = dict(os.environ, VELNOR_WINEPREFIX=self.prefix, WINEPREFIX=self.prefix,
                        WINEDEBUG="-all")
        self.env.pop("DISPLAY", None)

    # Peers: the display, the prefix and its settings.

    def start_display(self):
        """Xvfb with a black root on a display number of its own choice."""
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % (SCREEN_W, SCREEN_H),
             "-nolisten", "tcp", "-br"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number, deadline = b"", time.monotonic() + 15
        while not number.endswith(b"\n") and select.select(
                [read], [], [], max(0, deadline - time.monotonic()))[0]:
            chunk = os.read(read, 16)
            if not chunk:
                break
            number += chunk
        os.close(read)
        if not number.strip():
            raise Failure("Xvfb did not start")
        self.display = self.env["DISPLAY"] = ":" + number.decode().strip()

    def stop_display(self):
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            wait_or_kill(self.xvfb, 10)

    def wine(self, *command, timeout=120, env=None, check=True):
        """Runs a program of the prefix to its end; output as bytes."""
        result = self.wine_once(command, timeout, env)
        if result.returncode != 0 and b"wine client error" in result.stderr:
            # The wineserver went away under the command (seen once right
            # after a new prefix was made): wait for it to go and try again.
            self.settle()
            result = self.wine_once(command, timeout, env)
        if check and result.returncode != 0:
            raise Failure("%s failed (%d): %s" % (" ".join(command), result.returncode,
                                                 result.stderr.decode(errors="replace").strip()))
        return result

    def wine_once(self, command, timeout, env):
        # Output goes through files, not pipes: a wine process that has to
        # start the wineserver hands it its descriptors, and a pipe would then
        # stay open until the wineserver exits.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.Popen([self.args.wine_run] + list(command), env=env or self.env,
                                    stdout=out, stderr=err)
            if wait_or_kill(proc, timeout) is None:
                raise Failure("%s still ran after %d s" % (" ".join(command), timeout))
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(command, proc.returncode, out.read(), err.read())

    def launch(self, command, output, env=None, cwd=None):
        """Starts a program of the prefix, its output to the file output."""
        with open(output, "wb") as out:
            return subprocess.Popen([self.args.wine_run] + list(command), env=env or self.env,
                                    cwd=cwd, stdout=out, stderr=subprocess.STDOUT)

    def wineserver(self, option):
        """-k ends every process of the prefix, -w waits until they have ended."""
        try:
            subprocess.run(["wineserver", option], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        except subprocess.TimeoutExpired:
            pass

    def settle(self):
        self.wineserver("-w")

    def kill_wine(self):
        self.wineserver("-k")

    def prepare_prefix(self):
        """Creates the prefix once (wine-run.sh), then once: test certificates,
        their CA trusted in this prefix only, and the stand-in browser."""
        self.wine("cmd", "/c", "exit", "0", timeout=180)
        # Named after what is set up, so an older prefix is brought up to date.
        marker = os.path.join(self.own, "ready-certs-browser-unmanaged")
        if os.path.exists(marker):
            return
        log("preparing the prefix: certificates, trusted CA, stand-in browser")
        os.makedirs(self.own, exist_ok=True)
        subprocess.run([os.path.join(self.args.source, "tests", "tls", "make_certs.sh"), self.certs],
                       check=True, timeout=120)
        self.wine(self.args.trust_ca, windows_path(os.path.join(self.certs, "ca.der")))
        browser = os.path.join(self.own, "browser.sh")
        with open(browser, "w") as script:
            script.write("#!/bin/sh\nprintf '%%s\\n' \"$1\" >>'%s'\n" % self.browser_log)
        os.chmod(browser, 0o755)
        self.reg_add("HKCU\\Software\\Wine\\WineBrowser", "Browsers", browser)
        # Without a window manager (Xvfb) Wine waits 2 s for one on every hide
        # of a managed window; unmanaged windows are hidden and destroyed at once.
        self.reg_add("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")
        self.settle()
        with open(marker, "w") as ready:
            ready.write("ok\n")

    def reg_add(self, key, name, value):
        self.wine("reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f")

    def configure(self, version="win10", pv_machine=None, pv_user=None):
        """The Windows version Wine reports and the WebView2 "pv" values
        (None: the key is absent), in one import of a registry file."""
        lines = ["REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\Wine]", '"Version"="%s"' % version, ""]
        for key, pv in ((WEBVIEW2_MACHINE_KEY, pv_machine), (WEBVIEW2_USER_KEY, pv_user)):
            key = key.replace("HKLM", "HKEY_LOCAL_MACHINE", 1).replace("HKCU", "HKEY_CURRENT_USER", 1)
            lines += ["[-%s]" % key, ""]
            if pv is not None:
                lines += ["[%s]" % key, '"pv"="%s"' % pv, ""]
        path = os.path.join(self.work, "settings.reg")
        with open(path, "w", encoding="ascii", newline="\r\n") as out:
            out.write("\n".join(lines) + "\n")
        self.wine("reg", "import", windows_path(path))

    def software_list(self):
        users = os.path.join(self.prefix, "drive_c", "users")
        profile = [n for n in sorted(os.listdir(users)) if n != "Public"][0]
        return os.path.join(users, profile, ".velnor", "config.toml")

    def set_software_list(self, content):
        """Writes config.toml (bytes), or removes it when content is None."""
        path = self.software_list()
        if content is None:
            if os.path.exists(path):
                os.remove(path)
            return
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(content)

    def read_software_list(self):
        path = self.software_list()
        if not os.path.exists(path):
            return None
        with open(path, "rb") as data:
            return data.read()

    # Looking at the screen and the boxes.

    def workdir(self, name):
        path = os.path.join(self.work, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def screenshot(self, run, name):
        shot = screenshot(self.env, run.path(name + ".png"))
        if (shot.width, shot.height) != (SCREEN_W, SCREEN_H):
            raise Failure("screenshot %s is %d x %d" % (name, shot.width, shot.height))
        return shot

    def visible_window(self):
        """The X window id of the shown installer window, or None."""
        ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", TITLE], env=self.env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                             timeout=10).stdout.split()
        return ids[0] if ids else None

    def probe(self, *command, timeout=60):
        """Runs e2e_probe.exe in the prefix; its "key<TAB>value" lines as a dict."""
        result = self.wine(self.args.probe, *command, timeout=timeout, check=False)
        return key_values(result.stdout.decode("utf-8", errors="replace").splitlines())

    def watch_window(self, timeout=60):
        """Starts e2e_probe.exe watching the installer's window; returns it
        once it has found the window (None if it never does). Read its
        end with window_gone()."""
        output = os.path.join(self.work, "watch.out")
        watcher = self.launch([self.args.probe, "watch", str(timeout * 1000)], output)
        watcher.lines = lambda: read_lines(output)
        wait_until(lambda: "watch\tready" in watcher.lines() or watcher.poll() is not None, 30)
        if "watch\tready" not in watcher.lines():
            wait_or_kill(watcher, 0)
            return None
        return watcher

    def window_gone(self, watcher, timeout=30):
        """Wall-clock time at which the watched window ceased to exist, or None."""
        if wait_or_kill(watcher, timeout) is None:
            return None
        gone = key_values(watcher.lines()).get("gone", "no")
        return None if gone == "no" else float(gone)

    def answer_box(self, answer, timeout=30, browser_lines=1):
        """Waits for the box "系统提示", reads it, waits until the browser has
        been handed browser_lines URLs while the box is still up, and answers
        it (ok, cancel, close)."""
        seen = self.probe("box", answer, str(timeout * 1000), windows_path(self.browser_log),
                          str(browser_lines), timeout=timeout + 30)
        if "text" in seen:
            seen["text"] = seen["text"].replace("\\n", "\n").replace("\\\\", "\\")
        return seen

    def click(self, client_x, client_y):
        """A real press and release of the left button at a client point of
        the centred window (a plain xdotool click is too quick for Wine to
        see); time.monotonic() after the release."""
        subprocess.run(["xdotool", "mousemove", str(ORIGIN_X + client_x), str(ORIGIN_Y + client_y),
                        "mousedown", "1", "sleep", "0.1", "mouseup", "1"],
                       env=self.env, check=True, timeout=10)
        return time.monotonic()

    def browser(self):
        return read_lines(self.browser_log)

    # Checks.

    def check(self, condition, what, detail=""):
        if condition:
            log("  ok   %s" % what)
        else:
            log("  FAIL %s%s" % (what, (": " + str(detail)) if detail != "" else ""))
            self.failures.append("%s: %s" % (self.current, what))
        return bool(condition)


def run_installer(suite, workdir, server=None, env=None, during=None, timeout=60, setup_seconds=0,
                  setup_exit=0):
    """Runs velnor-installer.exe from workdir (its current directory) and
    returns the Run. server (a Server, may be None) is started first and
    stopped afterwards; env adds environment variables; during(run) is called
    while the installer runs (screenshots, clicks, answering boxes); the run
    is ended by force after timeout seconds (run.code is then None). The
    stand-in setup program logs to setup.log in workdir and stays
    setup_seconds, then exits with setup_exit."""
    run = Run(workdir)
    shutil.copy(suite.args.installer, run.path("velnor-installer.exe"))
    open(suite.browser_log, "w").close()
    run_env = dict(suite.env, VELNOR_E2E_SETUP_LOG=windows_path(run.path("setup.log")),
                   VELNOR_E2E_SETUP_SECONDS=str(setup_seconds), VELNOR_E2E_SETUP_EXIT=str(setup_exit))
    run_env.update(env or {})
    if server:
        server.start(workdir)
    try:
        run.started = time.monotonic()
        run.proc = suite.launch([run.path("velnor-installer.exe")], run.path("installer.out"),
                                run_env, cwd=workdir)
        if during:
            during(run)
        try:
            run.code = run.proc.wait(max(1, timeout - (time.monotonic() - run.started)))
            run.ended_at = time.monotonic()
            run.elapsed = run.ended_at - run.started
        except subprocess.TimeoutExpired:
            log("  the installer was still running after %d s; ending it" % timeout)
    finally:
        if run.proc and run.proc.poll() is None:
            suite.kill_wine()
            run.proc.wait(30)
        if server:
            run.requests = server.requests()
            run.events = server.events()
            server.stop()
    run.browser = suite.browser()
    run.setup_log = key_values(read_lines(run.path("setup.log")))
    log("  installer exit code %s after %.1f s; requests %s; browser %s" % (
        run.code, run.elapsed or -1, [r[0] for r in run.requests], run.browser))
    return run


def wait_for_window(suite, run, timeout=30):
    """Waits until the installer's window is shown; False if it never is."""
    return wait_until(lambda: suite.visible_window() or not run.running(), timeout) and run.running()


def padded_payload(suite, source, size, name):
    """source followed by zeros up to size bytes: still a program that starts
    (the loader ignores data after the image)."""
    path = os.path.join(suite.work, name)
    with open(source, "rb") as data:
        content = data.read()
    with open(path, "wb") as out:
        out.write(content + b"\0" * max(0, size - len(content)))
    return path


# --- scenarios -----------------------------------------------------------------

SCENARIOS = []


def scenario(group):
    def register(function):
        SCENARIOS.append((group, function))
        return function
    return register


def check_clean_success(suite, run, expected_url):
    """What every successful run must show."""
    path = expected_url[len(DOWNLOAD_ORIGIN):]
    suite.check(run.code == 0, "the installer exits with code 0", run.code)
    suite.check([r[0] for r in run.requests] == ["GET %s HTTP/1.1" % path],
                "one GET of %s" % path, run.requests)
    suite.check(all(r[1] == USER_AGENT for r in run.requests), "user agent " + USER_AGENT,
                run.requests)
    suite.check(run.setup_log.get("exit") is not None, "the setup program ran to its end",
                run.setup_log)
    suite.check(not os.path.exists(run.path(SAVE_NAME)), SAVE_NAME + " is gone afterwards")
    suite.check(run.browser == [], "no browser was opened", run.browser)


@scenario("success")
def success_throttled(suite):
    """A watched download: window centred, a partial frame, hidden setup."""
    suite.configure(version="win10", pv_machine="1.2.3.4")
    suite.set_software_list(None)
    work = suite.workdir("success-throttled")
    payload = padded_payload(suite, suite.args.setup, 1 << 20, "setup-1mb.exe")
    # Headers, then 3 s with no body (the frame still shows 0% and "0 KB/s"),
    # then about 4 s of body.
    server = Server(suite, payload, rate=256 * 1024, delay=3.0)
    frames = {}

    def during(run):
        if not suite.check(wait_for_window(suite, run), "the window appears"):
            return
        frames["window"] = suite.probe("window").get("window", "")
        frames["zero"] = suite.screenshot(run, "1-before-body")
        body_start = wait_until(lambda: server.event_time("body-start"), 20)
        if body_start:
            # Past the first 1000 ms sample, well before the end.
            time.sleep(max(0.0, body_start + 1.8 - time.time()))
            frames["partial"] = suite.screenshot(run, "2-downloading")
            frames["body-start"] = body_start
        if wait_until(lambda: os.path.exists(run.path("setup.log")) or not run.running(), 30):
            frames["setup"] = suite.screenshot(run, "3-setup-running")

    run = run_installer(suite, work, server, during=during, setup_seconds=2)

    expected = "visible %d %d %d %d" % (ORIGIN_X, ORIGIN_Y, ORIGIN_X + WINDOW_W, ORIGIN_Y + WINDOW_H)
    suite.check(frames.get("window") == expected, "the window is shown centred at (%d, %d)" % (
        ORIGIN_X, ORIGIN_Y), frames.get("window"))
    zero, partial = frames.get("zero"), frames.get("partial")
    if zero:
        inside = client(zero, WINDOW_W // 2, 150)
        suite.check(not is_black(inside) and is_black(client(zero, -3, 150)) and
                    is_black(client(zero, WINDOW_W + 2, 150)) and is_black(client(zero, 100, -3)),
                    "the screen shows the window at its centred place, nothing around it")
        body_start = frames.get("body-start") or event_time(run.events, "body-start")
        suite.check(body_start is None or zero.taken < body_start,
                    "the first frame was taken before any body byte was sent")
        suite.check(fill_columns(zero) == [], "before any body byte the bar shows no fill",
                    len(fill_columns(zero)))
        suite.check(text_columns(zero, SPEED_TEXT) != [], "the speed text is drawn")
    if suite.check(partial is not None, "a frame was taken during the download") and zero:
        filled = fill_columns(partial)
        width = BAR[2] - BAR[0]
        suite.check(width * 0.05 <= len(filled) <= width * 0.95 and
                    (not filled or filled[0] <= BAR[0] + 4),
                    "during the download the bar is partly filled from its left end",
                    "%d of %d columns" % (len(filled), width))
        zero_speed, speed = text_columns(zero, SPEED_TEXT), text_columns(partial, SPEED_TEXT)
        # Right-aligned: "256 KB/s" starts two digits further left than "0 KB/s".
        suite.check(speed and zero_speed and speed[0] <= zero_speed[0] - 8 and
                    speed[-1] >= SPEED_TEXT[2] - 12,
                    "the speed text is longer than the zero speed's", (speed[:1], zero_speed[:1]))
        zero_percent, percent = text_columns(zero, PERCENT_TEXT), text_columns(partial, PERCENT_TEXT)
        suite.check(percent and zero_percent and percent[-1] > zero_percent[-1] + 4,
                    "the percentage text is longer than 0%'s", (percent[-1:], zero_percent[-1:]))
    setup = frames.get("setup")
    if suite.check(setup is not None, "a frame was taken while the setup program ran"):
        suite.check(all(is_black(client(setup, x, y)) for x, y in
                        ((10, 10), (WINDOW_W // 2, 150), (WINDOW_W - 10, WINDOW_H - 10))),
                    "the window is off the screen while the setup program runs")
    log_ = run.setup_log
    suite.check(log_.get("window-at-start") == "hidden" and log_.get("window-at-end") == "hidden",
                "the window is hidden while the setup program runs", log_)
    suite.check(log_.get("argc") == "1", "the setup program gets no arguments", log_.get("cmdline"))
    suite.check(log_.get("cwd", "").lower() == windows_path(work).lower(),
                "the setup program runs in the installer's current directory", log_.get("cwd"))
    suite.check(log_.get("module", "").lower() == (windows_path(work) + "\\" + SAVE_NAME).lower(),
                "the setup program is %s in that directory" % SAVE_NAME, log_.get("module"))
    check_clean_success(suite, run, RELEASE_URL)
    suite.check(suite.read_software_list() == PRODUCT_RECORD,
                "a new software list holds the product record alone", suite.read_software_list())


@scenario("success")
def success_failing_setup_keeps_other_products(suite):
    """A setup program that fails is still deleted; other products stay listed."""
    suite.configure(version="win10", pv_machine="1.2.3.4")
    others = ('[[software]]\nname = "velnor 录屏"\nproduct_id = "12"\ndistributor_id = "3"\n'
              '# a comment the writer drops\n\n'
              '[[software]]\r\nname = "other"\r\nproduct_id = "90"\r\ndistributor_id = "7"\r\n')
    suite.set_software_list(others.encode("utf-8"))
    work = suite.workdir("success-failing-setup")
    run = run_installer(suite, work, Server(suite, suite.args.setup), setup_exit=7)
    suite.check(run.setup_log.get("exit") == "7", "the setup program exited with code 7",
                run.setup_log.get("exit"))
    check_clean_success(suite, run, RELEASE_URL)
    expected = ('[[software]]\r\nname = "velnor 录屏"\r\nproduct_id = "12"\r\ndistributor_id = "3"\r\n'
                '[[software]]\r\nname = "other"\r\nproduct_id = "90"\r\ndistributor_id = "7"\r\n'
                ).encode("utf-8") + PRODUCT_RECORD
    suite.check(suite.read_software_list() == expected,
                "the software list keeps the other products and adds the product", 
                suite.read_software_list())


def channel_case(suite, name, version, pv_machine, pv_user, expected_url):
    suite.configure(version=version, pv_machine=pv_machine, pv_user=pv_user)
    suite.set_software_list(None)
    run = run_installer(suite, suite.workdir("channel-" + name), Server(suite, suite.args.setup))
    check_clean_success(suite, run, expected_url)


@scenario("channel")
def channel_win7_with_webview2(suite):
    channel_case(suite, "win7", "win7", "1.2.3.4", "1.2.3.4", WIN7_URL)


@scenario("channel")
def channel_win10_with_webview2(suite):
    channel_case(suite, "win10-pv", "win10", "1.2.3.4", None, RELEASE_URL)


@scenario("channel")
def channel_win10_without_webview2(suite):
    channel_case(suite, "win10-none", "win10", None, None, WIN7_URL)


def download_failure_case(suite, name, server, answer):
    """The download fails: browser first, then the box; the window stays
    until its close box is clicked."""
    suite.configure(version="win10", pv_machine=None)
    work = suite.workdir("download-failure-" + name)
    seen = {}

    def during(run):
        seen.update(suite.answer_box(answer))
        # The box is answered; the window must stay with the process running.
        time.sleep(1.5)
        seen["after"] = suite.visible_window() is not None and run.running()
        if answer == "ok":
            wait_until(lambda: len(suite.browser()) >= 2, 10)
        seen["browser-before-close"] = suite.browser()
        seen["clicked"] = suite.click(*CLOSE_BOX_CENTRE)

    run = run_installer(suite, work, server, during=during)
    suite.check(seen.get("box") == "found", "the box %s appears" % "系统提示", seen.get("box"))
    suite.check(seen.get("text") == DOWNLOAD_FAILED + PROMPT_TAIL, "the box shows the download-failed text",
                repr(seen.get("text")))
    suite.check(seen.get("icon") == "present" and seen.get("buttons") == "ok,cancel",
                "an icon, OK and Cancel", (seen.get("icon"), seen.get("buttons")))
    suite.check(seen.get("owner") == "main" and seen.get("window") == "visible",
                "the box belongs to the window, which stays shown", (seen.get("owner"), seen.get("window")))
    suite.check(seen.get("browser") == "1" and run.browser[:1] == [WIN7_URL],
                "the download URL was opened in the browser before the box was answered",
                (seen.get("browser"), run.browser))
    # Wine's browser launcher canonicalises the bare origin it is handed
    # and passes it on with the root path "/" added.
    expected_browser = [WIN7_URL, SUPPORT_PAGE + "/"] if answer == "ok" else [WIN7_URL]
    suite.check(run.browser == expected_browser, "after %s the browser got %s" % (
        answer, expected_browser[1:] or "nothing more"), run.browser)
    suite.check(seen.get("after") is True, "the window stays on screen after the box is answered")
    suite.check(run.code == 0, "the installer exits with code 0 after its close box", run.code)
    if run.ended_at and seen.get("clicked"):
        log("  the process ended %.2f s after the click" % (run.ended_at - seen["clicked"]))
        suite.check(run.ended_at - seen["clicked"] < 3.0, "it ends right after the click",
                    "%.2f s" % (run.ended_at - seen["clicked"]))
    return run


@scenario("download_failure")
def download_failure_404(suite):
    payload = suite.args.setup
    run = download_failure_case(suite, "404", Server(suite, payload, mode="404"), "ok")
    suite.check([r[0] for r in run.requests] == ["GET /velnor-video/win7 HTTP/1.1"],
                "the server saw the one request", run.requests)


@scenario("download_failure")
def download_failure_untrusted_certificate(suite):
    run = download_failure_case(suite, "untrusted",
                                Server(suite, suite.args.setup, cert="selfsigned"), "cancel")
    suite.check(run.requests == [], "no request went over the untrusted connection", run.requests)


@scenario("download_failure")
def download_failure_cut_short(suite):
    run = download_failure_case(suite, "cut", Server(suite, suite.args.setup, mode="cut"), "close")
    suite.check(len(run.requests) == 1, "the server saw the one request", run.requests)


@scenario("start_failure")
def start_failure_not_a_program(suite):
    suite.configure(version="win10", pv_machine=None)
    work = suite.workdir("start-failure")
    payload = os.path.join(suite.work, "not-a-program.exe")
    content = b"this is not a program\n"
    with open(payload, "wb") as out:
        out.write(content)
    seen = {}

    def during(run):
        seen.update(suite.answer_box("cancel"))
        seen["answered"] = time.monotonic()

    run = run_installer(suite, work, Server(suite, payload), during=during)
    suite.check(seen.get("text") == START_FAILED + PROMPT_TAIL, "the box shows the start-failed text",
                repr(seen.get("text")))
    suite.check(seen.get("window") == "hidden", "the window is hidden while the box is up",
                seen.get("window"))
    suite.check(seen.get("browser") == "1" and run.browser == [WIN7_URL],
                "the download URL was opened before the box was answered, nothing after Cancel",
                run.browser)
    saved = run.path(SAVE_NAME)
    suite.check(os.path.exists(saved) and open(saved, "rb").read() == content,
                SAVE_NAME + " stays, as downloaded")
    suite.check(run.code == 0, "the installer exits with code 0 after the box", run.code)
    if run.ended_at and seen.get("answered"):
        suite.check(run.ended_at - seen["answered"] < 5.0, "it closes itself after the answer",
                    "%.2f s" % (run.ended_at - seen["answered"]))


@scenario("close")
def close_box_during_download(suite):
    suite.configure(version="win10", pv_machine="1.2.3.4")
    work = suite.workdir("close-during-download")
    payload = padded_payload(suite, suite.args.setup, 4 << 20, "setup-4mb.exe")
    server = Server(suite, payload, rate=128 * 1024)
    seen = {}

    def during(run):
        if not suite.check(wait_for_window(suite, run), "the window appears"):
            return
        watcher = suite.watch_window()
        if wait_until(lambda: server.event_time("body-start"), 20):
            time.sleep(1.5)
            seen["downloading"] = run.running()
            seen["clicked-wall"] = time.time()
            seen["clicked"] = suite.click(*CLOSE_BOX_CENTRE)
        if watcher:
            seen["gone"] = suite.window_gone(watcher)

    run = run_installer(suite, work, server, during=during, timeout=40)
    suite.check(seen.get("downloading"), "the download was running when the close box was clicked")
    suite.check(run.code == 0, "the installer exits with code 0", run.code)
    if seen.get("gone") and seen.get("clicked-wall"):
        took = seen["gone"] - seen["clicked-wall"]
        suite.check(took < 1.0, "the window is destroyed within a second of the click",
                    "%.2f s" % took)
    if run.ended_at and seen.get("clicked"):
        took = run.ended_at - seen["clicked"]
        log("  the process ended %.2f s after the click" % took)
        # Wine winds a process down for about 2 s after its last window is
        # destroyed (a minimal Win32 program shows the same); the bound covers that.
        suite.check(took < 4.0, "the process ends right after its window", "%.2f s" % took)
    suite.check(event_time(run.events, "body-end") is None, "the download had not finished")
    suite.check(run.browser == [], "no box and no browser followed", run.browser)
    suite.check(run.setup_log == {}, "no setup program was started", run.setup_log)


# --- main ----------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("source", "wine-run", "installer", "setup", "probe", "trust-ca", "prefix", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("groups", nargs="+")
    args = parser.parse_args()
    known = sorted({group for group, _ in SCENARIOS})
    unknown = [g for g in args.groups if g not in known]
    if unknown:
        parser.error("unknown group %s (known: %s)" % (", ".join(unknown), ", ".join(known)))

    suite = Suite(args)
    os.makedirs(suite.work, exist_ok=True)
    started = time.monotonic()
    try:
        suite.kill_wine()
        # The display first: the prefix's desktop process starts with the
        # first wine command and keeps the display it found.
        suite.start_display()
        suite.prepare_prefix()
        log("display %s, prefix %s" % (suite.display, suite.prefix))
        for group, function in SCENARIOS:
            if group not in args.groups:
                continue
            suite.current = function.__name__
            log("%s: %s" % (group, function.__name__))
            try:
                function(suite)
            except Exception as error:  # one broken scenario must not hide the others
                traceback.print_exc(file=sys.stdout)
                suite.check(False, "the scenario ran to its end", error)
                suite.kill_wine()
    except Failure as error:
        suite.failures.append(str(error))
        log("FAIL " + str(error))
    finally:
        suite.kill_wine()
        suite.stop_display()
    log("%d failure(s) in %.0f s" % (len(suite.failures), time.monotonic() - started))
    for failure in suite.failures:
        log("  " + failure)
    return 1 if suite.failures else 0


if __name__ == "__main__":
    sys.exit(main())
