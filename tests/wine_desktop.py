"""A desktop for tests that look at real windows under Wine: a private Xvfb
display, programs run in a Wine prefix through cmake/wine-run.sh, the
screen read back as pixels, X window search, real presses of the mouse
button, bounded waits and a record of checks.

The functions take the environment the programs run in (see prefix_env): it
names the prefix and, once start_display has run, the display.
"""

import os
import re
import select
import subprocess
import sys
import tempfile
import time

SCREEN = (1920, 1080)
BROWSER_KEY = "HKCU\\Software\\Wine\\WineBrowser"


def log(message):
    sys.stdout.write("[%s] %s\n" % (time.strftime("%H:%M:%S"), message))
    sys.stdout.flush()


def wait_until(predicate, timeout, interval=0.1):
    """Calls predicate until it returns a true value or timeout seconds pass;
    returns its last value."""
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
    """Logs one check; a failed one is added to failures (as "scope: what")."""
    if condition:
        log("  ok   %s" % what)
    else:
        log("  FAIL %s%s" % (what, (": " + str(detail)) if detail != "" else ""))
        failures.append("%s: %s" % (scope, what) if scope else what)
    return bool(condition)


# --- the display -----------------------------------------------------------------


def prefix_env(prefix):
    """This process's environment for programs of the prefix, with no display yet."""
    env = dict(os.environ, VELNOR_WINEPREFIX=prefix, WINEPREFIX=prefix, WINEDEBUG="-all")
    env.pop("DISPLAY", None)
    return env


def start_display(env, black_root=False):
    """Starts Xvfb on a display number it picks itself and sets DISPLAY in
    env; the Xvfb process, or None when it did not report within 15 s."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % SCREEN, "-nolisten", "tcp"]
        + (["-br"] if black_root else []),
        pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    deadline = time.monotonic() + 15
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        if not select.select([read], [], [], max(0, deadline - time.monotonic()))[0]:
            break
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


# --- programs in the prefix ---------------------------------------------------------


def wait_or_kill(process, timeout):
    """The process's exit code once it ends, or None when it still ran after
    timeout seconds and was killed."""
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def wineserver(env, option, timeout=60):
    """wineserver -k (end every process of the prefix), -w (wait until they
    have ended) or -p (keep the server running); False when it timed out."""
    try:
        subprocess.run(["wineserver", option], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout)
        return True
    except subprocess.TimeoutExpired:
        return False


def wine(wine_run, command, env, timeout=120):
    """Runs a program of the prefix (a list: program and arguments) to its end;
    a CompletedProcess with stdout and stderr as bytes, or None when it still
    ran after timeout seconds (it is then killed)."""
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
        code = wait_or_kill(subprocess.Popen([wine_run] + list(command), env=env, stdout=out,
                                             stderr=err), timeout)
        if code is None:
            return None
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(command, code, out.read(), err.read())


def launch(wine_run, command, env, output=None, cwd=None, limit=None):
    """Starts a program of the prefix without waiting for it; its output goes
    to the file output (a path) or nowhere; limit ends it after that many
    seconds."""
    args = (["timeout", str(limit)] if limit else []) + [wine_run] + list(command)
    if output is None:
        return subprocess.Popen(args, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
    with open(output, "wb") as out:
        return subprocess.Popen(args, env=env, cwd=cwd, stdout=out, stderr=subprocess.STDOUT)


def reg_add(wine_run, env, key, name, value):
    """Sets a string value in the prefix's registry; False when reg failed."""
    result = wine(wine_run, ["reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"],
                  env, timeout=60)
    return result is not None and result.returncode == 0


def stand_in_browser(wine_run, env, script, url_log):
    """Makes the shell script `script` the prefix's browser: it only appends
    each URL it is handed to url_log, which starts empty. False on failure."""
    with open(script, "w") as out:
        out.write("#!/bin/sh\nprintf '%%s\\n' \"$1\" >>'%s'\n" % url_log)
    os.chmod(script, 0o755)
    open(url_log, "w").close()
    return reg_add(wine_run, env, BROWSER_KEY, "Browsers", script)


def read_lines(path):
    """The non-empty lines of a text file; [] when it does not exist."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8", errors="replace") as lines:
        return [line.rstrip("\n") for line in lines if line.strip()]


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
    button (mousedown, mouseup) hold seconds apart: a real press and release,
    as a plain xdotool click is too quick for Wine to see. settle seconds
    pass after the move and after the last action. Returns time.monotonic()
    once done."""
    args = ["xdotool", "mousemove", str(x), str(y)]
    pause = settle
    for action in actions:
        if pause:
            args += ["sleep", str(pause)]
        args += [action, "1"]
        pause = hold
    if settle:
        args += ["sleep", str(settle)]
    subprocess.run(args, env=env, check=True, timeout=10)
    return time.monotonic()


class Shot:
    """One screenshot (of the screen or a crop of it) as RGB bytes, row by row."""

    def __init__(self, width, height, pixels, taken):
        self.width, self.height, self.pixels, self.taken = width, height, pixels, taken

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.pixels[at:at + 3])

    def rows(self):
        return [[self.pixel(x, y) for x in range(self.width)] for y in range(self.height)]


def _grab(crop):
    grab = ["import", "-window", "root"]
    if crop:
        grab += ["-crop", "%dx%d+%d+%d" % (crop[2], crop[3], crop[0], crop[1]), "+repage"]
    return grab


def save_screen(env, path, crop=None):
    """Saves the screen, or its crop (x, y, width, height), as a PNG file."""
    subprocess.run(_grab(crop) + ["-strip", path], env=env, check=True, timeout=30,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def screenshot(env, crop=None, path=None):
    """The screen, or its crop (x, y, width, height), as a Shot; also saved as
    the PNG file path when given."""
    taken = time.time()
    if path:
        save_screen(env, path, crop)
        command = ["convert", path]
    else:
        command = _grab(crop)
    data = subprocess.run(command + ["-depth", "8", "ppm:-"], env=env, check=True, timeout=30,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    return Shot(int(header.group(1)), int(header.group(2)), data[header.end():], taken)
