"""A desktop for tests that look at real windows under Wine: a private Xvfb
display, programs of a Wine prefix run through cmake/wine-run.sh, X window
search, real mouse presses, the screen as pixels, bounded waits, checks.
The functions take the environment of the prefix's programs (prefix_env),
which start_display completes with the display.
"""

import os
import re
import select
import subprocess
import sys
import tempfile
import time

SCREEN = (1920, 1080)


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


def windows_path(path):
    """The Wine path of a Unix path: drive Z: maps the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def check(failures, condition, what, detail="", scope=""):
    """Logs one check; a failed one is added to failures as "scope: what"."""
    if condition:
        log("  ok   %s" % what)
    else:
        log("  FAIL %s%s" % (what, (": " + str(detail)) if detail != "" else ""))
        failures.append("%s: %s" % (scope, what) if scope else what)
    return bool(condition)


def read_lines(path):
    """The non-empty lines of a text file; [] when there is none."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8", errors="replace") as lines:
        return [line.rstrip("\n") for line in lines if line.strip()]


def wait_or_kill(process, timeout):
    """The exit code, or None when the process still ran after timeout seconds (then killed)."""
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


# --- the display and the prefix --------------------------------------------------


def prefix_env(prefix):
    """This process's environment for the programs of a prefix, no display yet."""
    env = dict(os.environ, VELNOR_WINEPREFIX=prefix, WINEPREFIX=prefix, WINEDEBUG="-all")
    env.pop("DISPLAY", None)
    return env


def start_display(env, black_root=False):
    """Xvfb on a display number of its own choice, set as DISPLAY in env; None
    when it did not report within 15 s."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % SCREEN, "-nolisten", "tcp"]
        + (["-br"] if black_root else []),
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
        stop_display(xvfb)
        return None
    env["DISPLAY"] = ":" + number.decode().strip()
    return xvfb


def stop_display(xvfb):
    if xvfb and xvfb.poll() is None:
        xvfb.terminate()
        wait_or_kill(xvfb, 10)


def wineserver(env, option, timeout=60):
    """-k ends every process of the prefix, -w waits until they have ended,
    -p keeps the server running; a wineserver that hangs is left behind."""
    try:
        subprocess.run(["wineserver", option], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout)
    except subprocess.TimeoutExpired:
        pass


def wine(wine_run, command, env, timeout=120):
    """Runs a program of the prefix (a list: program and arguments) to its end:
    a CompletedProcess, output as bytes; None when it still ran after timeout
    seconds (then killed)."""
    result = _wine_once(wine_run, command, env, timeout)
    if result and result.returncode != 0 and b"wine client error" in result.stderr:
        # The wineserver went away under the command (seen once right after a
        # new prefix was made): wait for it to go and try again.
        wineserver(env, "-w")
        result = _wine_once(wine_run, command, env, timeout)
    return result


def _wine_once(wine_run, command, env, timeout):
    # Output goes through files, not pipes: a wine process that has to start
    # the wineserver hands it its descriptors, and a pipe would then stay
    # open until the wineserver exits.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen([wine_run] + list(command), env=env, stdout=out, stderr=err)
        code = wait_or_kill(proc, timeout)
        if code is None:
            return None
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(command, code, out.read(), err.read())


def launch(wine_run, command, env, output=os.devnull, cwd=None, limit=None):
    """Starts a program of the prefix, its output to the file output, ended
    after limit seconds when given."""
    args = (["timeout", str(limit)] if limit else []) + [wine_run] + list(command)
    with open(output, "wb") as out:
        return subprocess.Popen(args, env=env, cwd=cwd, stdout=out, stderr=subprocess.STDOUT)


def stand_in_browser(wine_run, env, script, url_log):
    """Makes `script` the prefix's browser, a shell script that only appends
    each URL it is handed to url_log (emptied here); False when reg failed."""
    with open(script, "w") as out:
        out.write("#!/bin/sh\nprintf '%%s\\n' \"$1\" >>'%s'\n" % url_log)
    os.chmod(script, 0o755)
    open(url_log, "w").close()
    result = wine(wine_run, ["reg", "add", "HKCU\\Software\\Wine\\WineBrowser", "/v", "Browsers",
                             "/t", "REG_SZ", "/d", script, "/f"], env, timeout=60)
    return result is not None and result.returncode == 0


# --- windows, the mouse, the screen ----------------------------------------------------


def windows(env, title_regex):
    """X ids of the shown windows whose title matches title_regex."""
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title_regex], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                          timeout=10).stdout.split()


def geometry(env, window):
    """(x, y, width, height) of an X window, or None."""
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                         timeout=10).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    try:
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
    except (KeyError, ValueError):
        return None


def mouse(env, x, y, actions=("mousedown", "mouseup"), hold=0.1, settle=0.0):
    """Moves the pointer to screen (x, y), then takes the actions on the left
    button hold seconds apart, with settle seconds after the move and after
    the last action; time.monotonic() once done. A plain xdotool click is too
    quick for Wine to see."""
    args, pause = ["xdotool", "mousemove", str(x), str(y)], settle
    for action in actions:
        args += (["sleep", str(pause)] if pause else []) + [action, "1"]
        pause = hold
    subprocess.run(args + (["sleep", str(settle)] if settle else []), env=env, check=True,
                   timeout=10)
    return time.monotonic()


class Shot:
    """One screenshot (the screen or a crop of it): RGB bytes row by row, time taken."""

    def __init__(self, width, height, pixels, taken):
        self.width, self.height, self.pixels, self.taken = width, height, pixels, taken

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.pixels[at:at + 3])

    def rows(self):
        return [[self.pixel(x, y) for x in range(self.width)] for y in range(self.height)]


def screenshot(env, crop=None, path=None):
    """The screen, or its crop (x, y, width, height), as a Shot; saved as the
    PNG file path too when given."""
    taken = time.time()
    grab = ["import", "-window", "root"]
    if crop:
        grab += ["-crop", "%dx%d+%d+%d" % (crop[2], crop[3], crop[0], crop[1]), "+repage"]
    if path:
        subprocess.run(grab + ["-strip", path], env=env, check=True, timeout=30)
        grab = ["convert", path]
    data = subprocess.run(grab + ["-depth", "8", "ppm:-"], env=env, check=True, timeout=30,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    return Shot(int(header.group(1)), int(header.group(2)), data[header.end():], taken)
