# velnor-installer.exe end to end under Wine on a private Xvfb display,
# against the download server on 127.0.0.1:8443.
import glob
import os
import pathlib
import shutil
import subprocess

import harness
from PIL import ImageGrab
from harness import ORIGIN, PORT, RELEASE_URL, SAVE_NAME, built, windows_path

PEER = built("tests", "peer.exe")  # also the stand-in setup program
PLANTED = sorted(glob.glob(built("tests", "planting", "*.dll")))
# Wine then prefers a DLL of a planted name wherever its search finds one, as Windows does.
NATIVE_FIRST = {"WINEDLLOVERRIDES": "mscoree,mshtml=;%s=n,b" % ",".join(
    os.path.basename(p)[:-4] for p in PLANTED)}
START_FAILED, DOWNLOAD_FAILED = "安装程序启动失败，请检查安装包或联系客服。", "下载失败，请检查网络连接或联系客服。"
TAIL = '\n\n已为您打开下载页面，请手动安装。\n\n点击"确定"联系客服\n点击"取消"稍后处理'
OTHER = b'[[software]]\r\nname = "other"\r\nproduct_id = "90"\r\ndistributor_id = "7"\r\n'
RECORD = '[[software]]\r\nname = "velnor 视频格式转换器"\r\nproduct_id = "9"\r\ndistributor_id = "1"\r\n'


def start(prefix, name):  # the installer in a fresh folder, the marker DLLs beside it
    return harness.Run(prefix, built("velnor-installer.exe"), harness.fresh(
        built("installer-runs", name)), NATIVE_FIRST, PLANTED)


def shown(prefix):
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Velnor Installer$"],
                          env=prefix.env, capture_output=True, timeout=10).stdout != b""


def click_close_box(prefix):
    # A real press and release: a plain xdotool click is too quick for Wine to see.
    subprocess.run(["xdotool", "mousemove", str(ORIGIN[0] + 538), str(ORIGIN[1] + 26),
                    "mousedown", "1", "sleep", "0.1", "mouseup", "1"], env=prefix.env, timeout=10)


def planted_loads(run, program):
    return [m for m in glob.glob(run.path("*.loaded")) if program in open(m, encoding="utf-16-le").read()]


INODES = {}  # .velnor: the file number of the config.toml planted there


def software_list(prefix):  # config.toml in a visible .velnor
    folder = harness.fresh(os.path.join(prefix.profile(), ".velnor"))
    pathlib.Path(folder, "config.toml").write_bytes(OTHER)
    INODES[folder] = os.stat(folder + "/config.toml").st_ino
    return folder


def recorded(prefix, folder):  # the list replaced by a new file, nothing else left; its folder hidden
    new = pathlib.Path(folder, "config.toml")
    assert (new.read_bytes(), new.stat().st_ino != INODES[folder], os.listdir(folder)) == (
        OTHER + RECORD.encode(), True, ["config.toml"])
    hidden = prefix.wine("cmd", "/c", "dir", "/a:h", "/b", "C:\\users\\" + os.path.basename(
        prefix.profile()))[1]
    return ".velnor" in hidden.split()


def test_success(prefix, cert):
    # Windows 10 with WebView2 for the machine: the release channel. A frame with the bar
    # partly filled; the setup program started hidden, then deleted; the product recorded.
    folder, payload = software_list(prefix), harness.padded_payload(PEER, 1 << 20)
    with harness.Server(cert, harness.installer_routes(payload, rate=256 << 10), port=PORT) as server:
        run = start(prefix, "success")

        def partial_frame():
            shot = ImageGrab.grab(xdisplay=prefix.env["DISPLAY"])
            at = lambda x, y: shot.getpixel((ORIGIN[0] + x, ORIGIN[1] + y))
            filled = [x for x in range(40, 520) if (lambda r, g, b: b < 200 < min(r, g))(*at(x, 279))]
            white = lambda x0, x1: any(min(at(x, y)) >= 215 for x in range(x0, x1) for y in range(247, 267))
            return (24 <= len(filled) <= 456 and filled[0] <= 44 and white(40, 200) and white(360, 520)
                    or "body-end" in server.events and "no partial frame")
        frame = harness.wait_until(partial_frame, 60, 0.2)
        assert run.wait() == 0
    assert frame is True
    assert server.requests == [("GET /velnor-video/release HTTP/1.1", "VelnorInstaller/1.0")]
    cwd = windows_path(run.workdir).lower()
    assert {key: value.lower() for key, value in run.setup_log().items()} == {
        "argc": "1", "cwd": cwd, "module": cwd + "\\" + SAVE_NAME, "window": "hidden"}
    assert open(run.path("setup.bin"), "rb").read() == payload
    assert not os.path.exists(run.path(SAVE_NAME)) and run.browser() == []
    assert recorded(prefix, folder)
    # No planted DLL loaded by the installer; each by the setup program, which looks for them.
    assert (planted_loads(run, "velnor-installer"), len(planted_loads(run, SAVE_NAME))) == ([], len(PLANTED))


def test_download_failure(prefix, cert):
    # A 404: the download page opened while the box is up, the support page after OK,
    # the window kept until its close box is clicked. A list with a second name is left alone.
    folder = software_list(prefix)
    os.link(folder + "/config.toml", folder + "/second.toml")
    with harness.Server(cert, harness.installer_routes(b"", status=404), port=PORT):
        run = start(prefix, "download-failure")
        box = prefix.wine(PEER, "box", "none", cwd=run.workdir)[1].replace("\r\n", "\n")
        assert box == DOWNLOAD_FAILED + TAIL
        assert harness.wait_until(run.browser, 10) == [RELEASE_URL]
        prefix.wine(PEER, "box", "ok", cwd=run.workdir)
        # Wine's browser launcher adds "/" to the bare origin it is handed.
        assert harness.wait_until(lambda: run.browser()[1:], 10) == ["https://localhost:8444/"]
        assert run.proc.poll() is None and shown(prefix)
        click_close_box(prefix)
        assert run.wait(20) == 0
    assert planted_loads(run, "velnor-installer") == []
    assert (pathlib.Path(folder, "config.toml").read_bytes(), sorted(os.listdir(folder))) == (
        OTHER, ["config.toml", "second.toml"])


def test_close_box_during_download(prefix, cert):
    # .velnor is a link to another folder (recorded before the window shows): nothing
    # there is written, added or marked hidden, and the link stays.
    payload, velnor = harness.padded_payload(PEER, 4 << 20), os.path.join(prefix.profile(), ".velnor")
    elsewhere = harness.fresh(built("installer-runs", "elsewhere"))
    pathlib.Path(elsewhere, "config.toml").write_bytes(OTHER)
    os.unlink(velnor) if os.path.islink(velnor) else shutil.rmtree(velnor, ignore_errors=True)
    os.symlink(elsewhere, velnor)
    try:
        with harness.Server(cert, harness.installer_routes(payload, rate=128 << 10), port=PORT) as server:
            run = start(prefix, "close")
            assert harness.wait_until(lambda: "body-start" in server.events and shown(prefix), 30)
            click_close_box(prefix)
            assert run.wait(15) == 0  # the body would take 30 s more; a box would keep it running
        assert os.readlink(velnor) == elsewhere
    finally:
        os.unlink(velnor)  # later tests make a plain .velnor
    assert "body-end" not in server.events and run.browser() == [] and run.setup_log() == {}
    assert (pathlib.Path(elsewhere, "config.toml").read_bytes(), os.listdir(elsewhere),
            os.listxattr(elsewhere)) == (OTHER, ["config.toml"], [])


def test_saved_setup_program_guarded(prefix, cert):
    # Another program of the prefix keeps trying to write into, rename and delete
    # velnor-setup.exe during the download and before the start. What runs is byte
    # for byte what was served, or nothing.
    folder, payload = software_list(prefix), harness.padded_payload(PEER, 3 << 20)
    work = harness.fresh(built("installer-runs", "tamper"))
    # It writes into the zeros after the program, so what it changes still runs.
    hostile = prefix.launch([PEER, "tamper", SAVE_NAME, str(os.path.getsize(PEER))], work + ".peer", cwd=work)
    with harness.Server(cert, harness.installer_routes(payload, rate=1 << 20), port=PORT):
        run = harness.Run(prefix, built("velnor-installer.exe"), work)
        box = prefix.launch([PEER, "box", "cancel"], work + ".box", cwd=work)
        harness.wait_until(lambda: run.proc.poll() is not None or box.poll() is not None, 60)
        code = run.wait(30)
    open(run.path("stop"), "w").close()
    hostile.wait(30), box.wait(30)
    prompt = open(work + ".box", encoding="utf-8").read().replace("\r\n", "\n")
    assert code == 0
    if run.setup_log():
        assert open(run.path("setup.bin"), "rb").read() == payload and recorded(prefix, folder)
    else:  # a change caught before the start
        assert prompt == START_FAILED + TAIL
