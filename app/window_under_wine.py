#!/usr/bin/env python3
"""The main window under Wine on a 1920 x 1080 Xvfb display of its own.

Runs the window's test builds (see CMakeLists.txt) in a Wine prefix of its
own, clicks with xdotool and reads the rendered window back from the screen.

  window_under_wine.py <wine-run.sh> <folder of the test builds> <prefix>
      runs every check; exit status 0 when all pass.
  window_under_wine.py <wine-run.sh> <folder> <prefix> --shot <out.png>
      shows a mid-download state and writes the window's picture.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import wine_desktop  # noqa: E402  the display, the prefix's programs, the screen
from wine_desktop import wait_until  # noqa: E402

WIDTH, HEIGHT = 560, 310
ORIGIN = (680, 385)  # the centred window's top-left corner on the 1920 x 1080 screen
WINDOW = ORIGIN + (WIDTH, HEIGHT)  # its rectangle on the screen
TITLE = "^Velnor Installer$"
PROMPT = "^系统提示$"

# Window pixels of the frame with the shipped pictures (client coordinates).
BAR_LEFT, BAR_RIGHT, BAR_MID_Y = 40, 520, 279
# Without the bar pictures: the 440 x 12 fallback.
FALLBACK_LEFT, FALLBACK_RIGHT, FALLBACK_TOP = 60, 500, 275

failures = []


def check(condition, what):
    return wine_desktop.check(failures, condition, what)


class Session:
    """The display, the prefix (its browser a stand-in that logs the URLs)
    and a work folder for one run of the checks."""

    def __init__(self, wine_run, bin_dir, prefix):
        self.wine_run, self.bin_dir = wine_run, bin_dir
        self.work = tempfile.mkdtemp(prefix=os.path.basename(prefix) + ".run.",
                                     dir=os.path.dirname(prefix))
        self.browser_log = os.path.join(self.work, "browser.log")
        self.env = wine_desktop.prefix_env(prefix)
        self.xvfb = None


def start(s):
    s.xvfb = wine_desktop.start_display(s.env)
    if not s.xvfb:
        raise RuntimeError("Xvfb did not start")
    # The prefix (made once by wine-run.sh) and a wineserver that outlives
    # each program so the runs start quickly.
    wine_desktop.wine(s.wine_run, ["cmd", "/c", "exit", "0"], s.env, timeout=180)
    wine_desktop.stand_in_browser(s.wine_run, s.env, os.path.join(s.work, "browser"), s.browser_log)
    wine_desktop.wineserver(s.env, "-p")


def stop(s):
    wine_desktop.wineserver(s.env, "-k")
    wine_desktop.stop_display(s.xvfb)
    shutil.rmtree(s.work, ignore_errors=True)


def launch(s, program, progress=None):
    env = dict(s.env)
    if progress is not None:
        env["VELNOR_TEST_PROGRESS"] = progress
    exe = os.path.join(s.bin_dir, program + ".exe")
    if not os.path.exists(exe):
        raise RuntimeError("no test build " + exe)
    return wine_desktop.launch(s.wine_run, [exe], env, cwd=s.work, limit=90)


def windows(s, title):
    return wine_desktop.windows(s.env, title)


def wait_for(s, title, seconds=60):
    return wait_until(lambda: windows(s, title), seconds, 0.2)


def mouse(s, x, y, *actions):
    """Moves to client (x, y) of the centred window and presses/releases."""
    wine_desktop.mouse(s.env, ORIGIN[0] + x, ORIGIN[1] + y, actions, hold=0.15, settle=0.15)


def click(s, x, y):
    mouse(s, x, y, "mousedown", "mouseup")


def answer(s, window, key):
    """Gives the box the keyboard focus (there is no window manager) and
    presses a key in it."""
    subprocess.run(["xdotool", "windowfocus", "--sync", window, "sleep", "0.2", "key", key],
                   env=s.env, timeout=30)


def answer_prompt(s, boxes):
    """Cancels the prompt and waits until it has gone."""
    if boxes:
        answer(s, boxes[0], "Escape")
    wait_until(lambda: not windows(s, PROMPT), 10, 0.2)


def capture(s):
    """The window's pixels as rows of (r, g, b), read from the screen."""
    return wine_desktop.screenshot(s.env, WINDOW).rows()


def settled_frame(s, ready=lambda frame: True, seconds=15):
    """A frame once two captures half a second apart agree and `ready`
    accepts it (the worker's report may be painted a little later)."""
    previous = capture(s)
    deadline = time.time() + seconds
    while time.time() < deadline:
        time.sleep(0.5)
        frame = capture(s)
        if frame == previous and ready(frame):
            return frame
        previous = frame
    return previous


def exit_code(process, seconds=20):
    return wine_desktop.wait_or_kill(process, seconds)


# --- reading a frame ------------------------------------------------------------
def is_white(p):
    return min(p) >= 250


def white_box(frame, left, top, right, bottom):
    """(min x, min y, max x, max y, count) of white pixels in a rectangle."""
    xs, ys = [], []
    for y in range(top, bottom):
        for x in range(left, right):
            if is_white(frame[y][x]):
                xs.append(x)
                ys.append(y)
    if not xs:
        return None
    return min(xs), min(ys), max(xs), max(ys), len(xs)


def is_fill(p):  # the yellow fill picture (242, 242, 147) over the track
    return p[0] > 200 and p[1] > 200 and p[2] < 190


def fill_span(frame, y, is_filled=is_fill):
    xs = [x for x in range(WIDTH) if is_filled(frame[y][x])]
    return (min(xs), max(xs)) if xs else None


def has_fill(frame):
    return fill_span(frame, BAR_MID_Y) is not None


def near(p, colour, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(p, colour))


# --- the checks -------------------------------------------------------------------
def check_texts(frame, label, bar_left, bar_right, bar_top):
    """The four texts white in their rectangles, with their alignments."""
    name = white_box(frame, 0, 0, 500, 50)
    check(name is not None and name[0] >= 20 and name[2] < 460 and name[1] >= 8
          and name[3] < 46 and name[4] > 100,
          "%s: the product name is white in (20, 8, 460, 46): %s" % (label, name))
    glyph = white_box(frame, 500, 0, WIDTH, 50)
    check(glyph is not None and glyph[0] >= 524 and glyph[2] < 552 and glyph[4] > 20,
          "%s: the close glyph is white in (524, 8, 552, 46): %s" % (label, glyph))
    band_top, band_bottom = bar_top - 28, bar_top - 8
    percent = white_box(frame, 0, band_top - 10, WIDTH // 2, bar_top)
    check(percent is not None and bar_left <= percent[0] <= bar_left + 4
          and percent[1] >= band_top and band_bottom - 6 <= percent[3] < band_bottom,
          "%s: the percentage is white, left and bottom in its rectangle: %s"
          % (label, percent))
    speed = white_box(frame, WIDTH // 2, band_top - 10, WIDTH, bar_top)
    check(speed is not None and bar_right - 5 <= speed[2] < bar_right
          and speed[0] >= bar_right - 160 and band_bottom - 6 <= speed[3] < band_bottom,
          "%s: the speed is white, right and bottom in its rectangle: %s" % (label, speed))
    return percent, speed


def bar_rows(frame, top=BAR_MID_Y - 2, bottom=BAR_MID_Y + 3):
    return [fill_span(frame, y) for y in range(top, bottom)]


def test_half_window_and_close_box(s):
    process = launch(s, "app_shown_progress", "500 1000 2621440")
    found = wait_for(s, TITLE)
    if not check(len(found) == 1, "the window opens"):
        exit_code(process, 1)
        return
    at = wine_desktop.geometry(s.env, found[0])
    check(at == WINDOW, "the window is 560 x 310 at (680, 385): %s" % (at,))

    frame = settled_frame(s, has_fill)
    span = fill_span(frame, BAR_MID_Y)
    check(span is not None and span[0] <= BAR_LEFT + 2 and 276 <= span[1] <= 283,
          "50 %%: the fill runs from the bar's left end to about x 280: %s" % (span,))
    check(near(frame[BAR_MID_Y][400], (239, 239, 239), 6),
          "50 %%: the track shows beyond the fill: %s" % (frame[BAR_MID_Y][400],))
    check_texts(frame, "50 %", BAR_LEFT, BAR_RIGHT, 275)

    # Only a left-button release inside x 524..552, y 12..40 closes.
    for x, y in [(553, 40), (540, 11), (540, 41), (280, 150)]:
        click(s, x, y)
    mouse(s, 552, 40, "mousedown")
    time.sleep(1.0)
    check(len(windows(s, TITLE)) == 1 and process.poll() is None,
          "releases at (553, 40), (540, 11), (540, 41), (280, 150) and a press at "
          "(552, 40) leave the window open")
    mouse(s, 552, 40, "mouseup")
    check(exit_code(process) == 0, "a release at (552, 40) closes; exit code 0")


def test_progress_frames(s):
    frames = {}
    for label, progress in [("0 %", "0 1000 0"), ("100 %", "1000 1000 100000"),
                            ("received > total", "5000 1000 100000")]:
        process = launch(s, "app_shown_progress", progress)
        if check(bool(wait_for(s, TITLE)), "%s: the window opens" % label):
            frames[label] = settled_frame(s, has_fill if progress[0] != "0" else (lambda f: True))
        click(s, 552, 40)
        check(exit_code(process) == 0, "%s: closed by the close box; exit code 0" % label)

    if "0 %" in frames:
        check(all(span is None for span in bar_rows(frames["0 %"])),
              "0 %: no fill is drawn")
        check(near(frames["0 %"][BAR_MID_Y][44], (239, 239, 239), 6),
              "0 %: the track starts at the bar's left end")
        check_texts(frames["0 %"], "0 %", BAR_LEFT, BAR_RIGHT, 275)
    if "100 %" in frames:
        span = fill_span(frames["100 %"], BAR_MID_Y)
        check(span is not None and span[0] <= BAR_LEFT + 2 and span[1] >= BAR_RIGHT - 3,
              "100 %%: the fill covers the whole bar: %s" % (span,))
    if "100 %" in frames and "received > total" in frames:
        check(frames["received > total"] == frames["100 %"],
              "received > total draws the same frame as 100 %")


def test_without_background(s):
    process = launch(s, "app_shown_progress_no_background", "500 1000 0")
    boxes = wait_for(s, "^错误$", 60)
    check(len(boxes) == 1, "without bitmap 102 one error box opens")
    time.sleep(1.0)
    check(len(windows(s, "^错误$")) == 1, "... and only one")
    if boxes:
        answer(s, boxes[0], "Return")
    found = wait_for(s, TITLE, 20)
    check(len(found) == 1, "after the error box the window opens")
    time.sleep(1.0)
    check(not windows(s, "^错误$"), "no second error box follows")
    if found:
        frame = settled_frame(s, has_fill)
        middle = {frame[y][x] for y in range(50, 240) for x in range(0, WIDTH)}
        check(len(middle) == 1, "the background is one plain colour: %d colours" % len(middle))
        span = fill_span(frame, BAR_MID_Y)
        check(span is not None and 276 <= span[1] <= 283,
              "the bar pictures still draw over it: %s" % (span,))
    click(s, 552, 40)
    check(exit_code(process) == 0, "closed by the close box; exit code 0")


def test_without_bar_pictures(s):
    process = launch(s, "app_shown_progress_no_bar_pictures", "500 1000 1048576")
    if check(bool(wait_for(s, TITLE)), "without the bar pictures the window opens"):
        track = (204, 220, 230)
        mid = FALLBACK_TOP + 6
        frame = settled_frame(s, lambda f: f[mid][FALLBACK_LEFT + 6] != track)
        check(frame[mid][450] == track and frame[FALLBACK_TOP + 1][450] == track
              and frame[FALLBACK_TOP + 10][450] == track,
              "the GDI track (204, 220, 230) is 12 high: %s" % (frame[mid][450],))
        check(frame[mid][FALLBACK_RIGHT + 3] != track and frame[FALLBACK_TOP + 14][450] != track
              and frame[FALLBACK_TOP - 2][450] != track,
              "the GDI track ends at x 500 and at its top and bottom")

        def blue(p):  # the gradient, from (94, 160, 206) towards (209, 225, 233)
            return p != track and p[1] >= 150 and p[2] >= 195 and p[2] > p[0] + 20
        span = fill_span(frame, mid, blue)
        check(span is not None and span[0] <= FALLBACK_LEFT + 2 and 276 <= span[1] <= 283,
              "50 %%: the gradient runs from x 60 to about x 280: %s" % (span,))
        left, right = frame[mid][FALLBACK_LEFT + 6], frame[mid][270]
        check(near(left, (94, 160, 206), 30) and right[0] > left[0] + 60,
              "the gradient goes from blue to pale: %s .. %s" % (left, right))
        check_texts(frame, "fallback bar", FALLBACK_LEFT, FALLBACK_RIGHT, FALLBACK_TOP)
    click(s, 552, 40)
    check(exit_code(process) == 0, "closed by the close box; exit code 0")


def failure_prompt_case(s, program, label, bar_check, ready=lambda frame: True):
    """A download that ends in the failure prompt: the page goes to the
    browser, and after Cancel the window stays until its close box."""
    open(s.browser_log, "w").close()
    process = launch(s, program)
    found = wait_for(s, TITLE)
    check(len(found) == 1, "%s: the window opens" % label)
    boxes = wait_for(s, PROMPT, 30)
    check(len(boxes) == 1, "%s: the download-failed prompt opens" % label)
    if found:
        bar_check(settled_frame(s, ready))
    urls = wine_desktop.read_lines(s.browser_log)
    check(len(urls) == 1 and "/velnor-video/" in urls[0],
          "%s: the download page was handed to the browser: %s" % (label, urls))
    answer_prompt(s, boxes)
    check(not windows(s, PROMPT), "%s: the prompt is answered" % label)
    check(len(windows(s, TITLE)) == 1, "%s: after the prompt the window stays open" % label)
    click(s, 552, 40)
    check(exit_code(process) == 0, "%s: closed by the close box; exit code 0" % label)


def test_failed_download(s):
    def last_report_stays(frame):
        span = fill_span(frame, BAR_MID_Y)
        check(span is not None and 396 <= span[1] <= 403,
              "failed download: the last report (75 %%) stays on screen: %s" % (span,))
    failure_prompt_case(s, "app_failing_download", "failed download", last_report_stays,
                        lambda frame: (fill_span(frame, BAR_MID_Y) or (0, 0))[1] > 390)


def test_worker_not_started(s):
    failure_prompt_case(s, "app_thread_refused", "worker not started",
                        lambda frame: check(all(span is None for span in bar_rows(frame)),
                                            "worker not started: no download ran (no fill)"))


def test_close_during_download(s):
    process = launch(s, "app_endless_download")
    found = wait_for(s, TITLE)
    if check(len(found) == 1, "hanging download: the window opens"):
        frame = settled_frame(s, has_fill)
        span = fill_span(frame, BAR_MID_Y)
        check(span is not None and 156 <= span[1] <= 163,
              "hanging download: its first report (25 %%) is shown: %s" % (span,))
    click(s, 552, 40)
    check(exit_code(process, 15) == 0,
          "hanging download: the close box ends the process at once; exit code 0")
    check(not windows(s, PROMPT), "hanging download: no prompt after closing")


def main():
    if len(sys.argv) not in (4, 6):
        print(__doc__, file=sys.stderr)
        return 2
    s = Session(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]),
                os.path.abspath(sys.argv[3]))
    try:
        start(s)
        if len(sys.argv) == 6 and sys.argv[4] == "--shot":
            # 52.4 % of a 96 MB download at 3.4 MB/s.
            process = launch(s, "app_shown_progress", "52743372 100663296 3565158")
            if not wait_for(s, TITLE):
                print("the window did not open", file=sys.stderr)
                return 1
            settled_frame(s, has_fill)
            wine_desktop.screenshot(s.env, (ORIGIN[0], ORIGIN[1], WIDTH, HEIGHT), sys.argv[5])
            click(s, 552, 40)
            return 0 if exit_code(process) == 0 else 1
        for test in (test_half_window_and_close_box, test_progress_frames,
                     test_without_background, test_without_bar_pictures, test_failed_download,
                     test_close_during_download, test_worker_not_started):
            test(s)
            mouse(s, 200, 600)  # below the window, out of the way of the next one
    finally:
        stop(s)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
