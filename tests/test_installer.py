"""velnor-installer.exe end to end under Wine on a private Xvfb display,
against the download server on 127.0.0.1:8443, with marker DLLs named like
system DLLs planted beside it in every run: the window, the channel Wine's
version and registry give, the failure prompt with the browser, the close
box, the software list in real profiles, and the saved setup program
guarded against other processes of the prefix."""

import glob
import os
import shutil
import subprocess

import harness
import pytest
from harness import ORIGIN, PORT, RELEASE_URL, SAVE_NAME, built, windows_path

SETUP = built("tests", "setup_standin.exe")
PLANTED = sorted(glob.glob(built("tests", "planting", "*.dll")))
# Wine is told to prefer a DLL of each planted name wherever its search
# finds one, as Windows does.
NATIVE_FIRST = {"WINEDLLOVERRIDES": "mscoree,mshtml=;%s=n,b" % ",".join(
    os.path.basename(p)[:-4] for p in PLANTED)}
TAIL = '\n\n已为您打开下载页面，请手动安装。\n\n点击"确定"联系客服\n点击"取消"稍后处理'
DOWNLOAD_FAILED = "下载失败，请检查网络连接或联系客服。" + TAIL
START_FAILED = "安装程序启动失败，请检查安装包或联系客服。" + TAIL
RECORD = b'[[software]]\r\nname = "velnor \xe8\xa7\x86\xe9\xa2\x91\xe6\xa0\xbc\xe5\xbc\x8f\xe8\xbd\xac\xe6\x8d\xa2\xe5\x99\xa8"\r\nproduct_id = "9"\r\ndistributor_id = "1"\r\n'
OTHER = b'[[software]]\r\nname = "other"\r\nproduct_id = "90"\r\ndistributor_id = "7"\r\n'
BAR, BAR_Y = (40, 520), 279  # the bar's columns and middle row in the window
TEXTS = {"percentage": (40, 247, 200, 267), "speed": (360, 247, 520, 267)}
CLOSE_BOX = (538, 26)


def start(prefix, name):
    return harness.Run(prefix, built("velnor-installer.exe"),
                       harness.fresh(built("installer-runs", name)), NATIVE_FIRST, PLANTED)


def peer(prefix, run, *args, timeout=60):
    """peer.exe in the run's folder to its end; its output."""
    return prefix.wine(built("tests", "peer.exe"), *args, timeout=timeout,
                       cwd=run.workdir)[1].replace("\r\n", "\n")


def visible(prefix):
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Velnor Installer$"],
                          env=prefix.env, capture_output=True, timeout=10).stdout.strip() != b""


def click(prefix, x, y):
    """A real press and release (a plain xdotool click is too quick for Wine)."""
    subprocess.run(["xdotool", "mousemove", str(ORIGIN[0] + x), str(ORIGIN[1] + y), "mousedown",
                    "1", "sleep", "0.1", "mouseup", "1"], env=prefix.env, check=True, timeout=10)


def planted_loads(run):
    return [m for m in glob.glob(run.path("*.loaded")) if "velnor-installer.exe" in open(m).read()]


def software_list(prefix, before):
    """config.toml in the profile holding `before`, hard-linked to a second
    name, in a folder that is not hidden."""
    folder = os.path.join(prefix.profile(), ".velnor")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with open(os.path.join(folder, "config.toml"), "wb") as out:
        out.write(before)
    os.link(os.path.join(folder, "config.toml"), os.path.join(folder, "before.toml"))
    return folder


def check_recorded(prefix, folder, before):
    """The list was replaced, not rewritten in place, and its folder hidden."""
    with open(os.path.join(folder, "config.toml"), "rb") as new, \
            open(os.path.join(folder, "before.toml"), "rb") as old:
        assert (new.read(), old.read()) == (before + RECORD, before)
    code, out = prefix.wine("cmd", "/c", "dir", "/a:h", "/b", "C:\\users\\%s" % os.path.basename(
        prefix.profile()))
    assert ".velnor" in out.split()


def fill(shot):
    """Columns of the bar's middle row showing the yellow fill, not the grey track."""
    return [x for x in range(*BAR) if (lambda r, g, b: r > 200 and g > 200 and b < 200)(
        *shot.getpixel((ORIGIN[0] + x, ORIGIN[1] + BAR_Y)))]


def drawn(shot, rect):
    """Whether rect of the window holds white text pixels."""
    return any(min(shot.getpixel((ORIGIN[0] + x, ORIGIN[1] + y))) >= 215
               for x in range(rect[0], rect[2]) for y in range(rect[1], rect[3]))


def test_success_with_a_partial_frame(zh_prefix, cert):
    """Windows 10 with WebView2: the release channel. A watched download, the
    hidden setup program, the software list of a Chinese-named profile."""
    folder = software_list(zh_prefix, OTHER)
    payload, events = harness.padded_payload(SETUP, 1 << 20), {}
    routes = harness.installer_routes(payload, events, rate=256 << 10)
    with harness.Server(cert, routes, port=PORT) as server:
        run = start(zh_prefix, "success")

        def partial():
            shot = harness.screenshot(zh_prefix.env, run.path("frame.png"))
            columns = fill(shot)
            width = BAR[1] - BAR[0]
            return shot if 0.05 * width <= len(columns) <= 0.95 * width and columns[0] <= BAR[0] + 4 \
                else "body-end" in events or run.proc.poll() is not None
        shot = harness.wait_until(partial, 60, 0.2)
        code = run.wait(60)
    assert not isinstance(shot, bool), "no frame showed the bar partly filled from its left end"
    assert drawn(shot, TEXTS["percentage"]) and drawn(shot, TEXTS["speed"])
    assert code == 0
    assert server.requests == [("GET /velnor-video/release HTTP/1.1", "VelnorInstaller/1.0")]
    cwd = windows_path(run.workdir)
    assert {k: v.lower() for k, v in run.setup_log().items()} == {
        "argc": "1", "cwd": cwd.lower(), "module": (cwd + "\\" + SAVE_NAME).lower(), "window": "hidden"}
    assert open(run.path("setup.bin"), "rb").read() == payload
    assert not os.path.exists(run.path(SAVE_NAME))
    assert run.browser() == []
    check_recorded(zh_prefix, folder, OTHER)
    assert planted_loads(run) == []


def test_download_failure_prompt(zh_prefix, cert):
    """A 404: the download page opened while the box is up, the support page
    after OK, the window kept until its close box is clicked."""
    with harness.Server(cert, harness.installer_routes(b"", {}, status=404), port=PORT) as server:
        run = start(zh_prefix, "download-failure")
        assert peer(zh_prefix, run, "box", "none") == DOWNLOAD_FAILED
        assert harness.wait_until(run.browser, 10) == [RELEASE_URL]
        peer(zh_prefix, run, "box", "ok")
        # Wine's browser launcher adds "/" to the bare origin it is handed.
        assert harness.wait_until(lambda: run.browser()[1:], 10) == [harness.SUPPORT_PAGE + "/"]
        assert run.proc.poll() is None and visible(zh_prefix)
        click(zh_prefix, *CLOSE_BOX)
        assert run.wait(20) == 0
    assert [r[0] for r in server.requests] == ["GET /velnor-video/release HTTP/1.1"]
    assert planted_loads(run) == []


def test_close_box_during_download(zh_prefix, cert):
    events = {}
    routes = harness.installer_routes(harness.padded_payload(SETUP, 4 << 20), events, rate=128 << 10)
    with harness.Server(cert, routes, port=PORT):
        run = start(zh_prefix, "close")
        assert harness.wait_until(lambda: "body-start" in events and visible(zh_prefix), 30)
        click(zh_prefix, *CLOSE_BOX)
        # The rest of the body would take 30 s more; a box would keep it running.
        assert run.wait(15) == 0
    assert "body-end" not in events and run.browser() == [] and run.setup_log() == {}


def test_planted_dlls_are_found_by_an_unprotected_load(zh_prefix):
    """The control: the markers load when the search is not limited."""
    work = harness.fresh(built("installer-runs", "planting-control"))
    for path in PLANTED + [built("tests", "peer.exe")]:
        shutil.copy(path, work)
    zh_prefix.wine(os.path.join(work, "peer.exe"), "load", *map(os.path.basename, PLANTED),
                   env=dict(zh_prefix.env, **NATIVE_FIRST), cwd=work)
    assert len(glob.glob(os.path.join(work, "*.dll.loaded"))) == len(PLANTED)


@pytest.mark.parametrize("mode", ["tamper", "hold"])
def test_saved_setup_guarded_against_other_processes(prefix, cert, mode):
    """Another program of the prefix keeps trying to write into, rename and
    delete velnor-setup.exe during a throttled download and before the start
    (tamper), or holds it open for writing from before the download (hold).
    What runs is byte for byte what was served, or nothing."""
    folder = software_list(prefix, OTHER)
    payload = harness.padded_payload(SETUP, 1 << 20)
    work = harness.fresh(built("installer-runs", mode))
    program = built("tests", "peer.exe")
    out = lambda name: os.path.join(work, "..", "%s-%s.out" % (mode, name))
    hostile = prefix.launch([program, mode, SAVE_NAME] + [windows_path(SETUP)] * (mode == "tamper"),
                            out("peer"), cwd=work)
    assert harness.wait_until(lambda: mode == "tamper" or "holding" in open(out("peer")).read(), 30)
    routes = harness.installer_routes(payload, {}, rate=512 << 10)
    with harness.Server(cert, routes, port=PORT):
        run = harness.Run(prefix, built("velnor-installer.exe"), work)
        box = prefix.launch([program, "box", "cancel"], out("box"), cwd=work)
        harness.wait_until(lambda: run.proc.poll() is not None or box.poll() is not None, 60)
        if mode == "hold" and harness.wait_until(lambda: visible(prefix), 10):
            click(prefix, *CLOSE_BOX)
        code = run.wait(30)
    open(os.path.join(work, "stop"), "w").close()
    hostile.wait(30), box.wait(30)
    prompt, attacks = open(out("box"), encoding="utf-8").read(), open(out("peer")).read()
    harness.log("%s: %s; prompt %r" % (mode, attacks.strip(), prompt[:12]))
    assert code == 0
    if mode == "hold":
        assert (prompt, run.setup_log()) == (DOWNLOAD_FAILED, {})
    elif run.setup_log():
        assert open(run.path("setup.bin"), "rb").read() == payload
        check_recorded(prefix, folder, OTHER)
    else:  # a change was caught before the start
        assert prompt == START_FAILED and attacks != "wrote 0 renamed 0 deleted 0\n"
