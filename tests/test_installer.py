# velnor-installer.exe end to end under Wine on a private Xvfb display,
# against the download server on 127.0.0.1:8443.
import contextlib
import glob
import os
import pathlib
import re
import shutil
import subprocess
import threading
import time

import peers
import pefile
import pytest
from PIL import ImageGrab
from peers import ORIGIN, PORT, RELEASE_URL, SAVE_NAME, built, windows_path

PEER = built("tests", "peer.exe")  # also the stand-in setup program
PLANTED = sorted(glob.glob(built("tests", "planting", "*.dll")))
# Wine then prefers a DLL of a planted name wherever its search finds one, as Windows does.
NATIVE_FIRST = {"WINEDLLOVERRIDES": "mscoree,mshtml=;%s=n,b" % ",".join(
    os.path.basename(p)[:-4] for p in PLANTED)}
START_FAILED, DOWNLOAD_FAILED = "安装程序启动失败，请检查安装包或联系客服。", "下载失败，请检查网络连接或联系客服。"
TAIL = '\n\n已为您打开下载页面，请手动安装。\n\n点击"确定"联系客服\n点击"取消"稍后处理'
OTHER = b'[[software]]\r\nname = "other"\r\nproduct_id = "90"\r\ndistributor_id = "7"\r\n'
RECORD = '[[software]]\r\nname = "velnor 视频格式转换器"\r\nproduct_id = "9"\r\ndistributor_id = "1"\r\n'.encode()


@contextlib.contextmanager
def installer(prefix, cert, work, routes, program="velnor-installer.exe", env=NATIVE_FIRST, planted=PLANTED):
    """The installer run from work, the marker DLLs beside it, against the download server's
    routes: (the run, the server). It must then end with exit code 0."""
    with peers.Server(cert, routes, port=PORT) as server:
        run = peers.Run(prefix, built(program), work, env, planted)
        yield run, server
        assert run.wait() == 0


def run_folder(name):
    return peers.fresh(built("installer-runs", name))


def xdotool(prefix, *args):
    return subprocess.run(["xdotool", *args], env=prefix.env, capture_output=True, timeout=10).stdout


def shown(prefix):
    return xdotool(prefix, "search", "--onlyvisible", "--name", "^Velnor Installer$") != b""


def click_close_box(prefix):
    # A real press and release: a plain xdotool click is too quick for Wine to see.
    xdotool(prefix, "mousemove", str(ORIGIN[0] + 538), str(ORIGIN[1] + 26), "mousedown", "1", "sleep", "0.1",
            "mouseup", "1")


def answer_box(prefix, run, answer):
    """The box's text, answered "ok" or "cancel". Waited for with xdotool: a new program of the
    prefix starts an ended desktop shell again, which may happen only once the page was opened."""
    assert peers.wait_until(lambda: xdotool(prefix, "search", "--name", "^系统提示$"), 30)
    return prefix.wine(PEER, "box", answer, cwd=run.workdir)[1].replace("\r\n", "\n")


def planted_loads(run, program):
    return [m for m in glob.glob(run.path("*.loaded")) if program in open(m, encoding="utf-16-le").read()]


def plant_list(prefix, kind):
    """.velnor holding OTHER's list as a folder ("list"), the list with a second name ("second
    name"), a link to a folder elsewhere ("link"), or no .velnor ("none"): the list's folder."""
    velnor = os.path.join(prefix.profile(), ".velnor")
    os.rmdir(peers.fresh(velnor))
    if kind == "none":
        return velnor
    folder = peers.fresh(built("installer-runs", "elsewhere") if kind == "link" else velnor)
    pathlib.Path(folder, "config.toml").write_bytes(OTHER)
    if kind == "link":
        os.symlink(folder, velnor)
    elif kind == "second name":
        os.link(folder + "/config.toml", folder + "/second.toml")
    return folder


def listed(folder):
    return {name: pathlib.Path(folder, name).read_bytes() for name in os.listdir(folder)}


def partial_frame(prefix):
    # The bar partly filled, the percentage from its left end, the speed up to its right end.
    shot = ImageGrab.grab(xdisplay=prefix.env["DISPLAY"])
    at = lambda x, y: shot.getpixel((ORIGIN[0] + x, ORIGIN[1] + y))
    filled = [x for x in range(40, 520) if (lambda r, g, b: b < 200 < min(r, g))(*at(x, 279))]
    text = [x for x in range(40, 520) if any(min(at(x, y)) >= 215 for y in range(247, 267))]
    return 24 <= len(filled) <= 456 and filled[0] <= 44 and text and text[0] <= 44 and text[-1] >= 514


def test_success(prefix, cert, real_setup):
    # Windows 10 with WebView2 for the machine: the release channel. A frame partly done; a real
    # setup program, reading itself while held, run, then deleted; the file a hard link planted as
    # velnor-setup.exe names left alone; a new list with the product's record, its folder hidden.
    # Nothing planted: the setup program imports comctl32, which a planted marker would replace.
    # COM is locked down first: Wine's stub of its call prints what was asked (a descriptor,
    # RPC_C_IMP_LEVEL_IDENTIFY, EOAC_NO_CUSTOM_MARSHAL | EOAC_DISABLE_AAA).
    folder, (program, payload, installed) = plant_list(prefix, "list"), real_setup
    number = os.stat(folder + "/config.toml").st_ino
    work, kept = run_folder("success"), built("installer-runs", "kept")
    pathlib.Path(kept).write_bytes(b"kept")
    os.link(kept, os.path.join(work, SAVE_NAME))
    routes = peers.installer_routes(program, rate=256 << 10)
    with installer(prefix, cert, work, routes, env={"WINEDEBUG": "-all,fixme+ole"}, planted=()) as (run, server):
        ended = lambda: "body-end" in server.events and "no partial frame"
        assert peers.wait_until(lambda: partial_frame(prefix) or ended(), 60, 0.2) is True
    assert server.requests == [("GET /velnor-video/release HTTP/1.1", "VelnorInstaller/1.0")]
    assert re.search(r"fixme:ole:CoInitializeSecurity (?!0{16})\w{16}, -1, 0{16}, 0{16}, 0, 2, 0{16}, 12288, 0{16} stub",
                     open(run.path("out"), encoding="utf-8", errors="replace").read())
    assert open(installed + "/payload.bin", "rb").read() == payload
    assert pathlib.Path(kept).read_bytes() == b"kept"
    assert not os.path.exists(run.path(SAVE_NAME)) and run.browser() == []
    assert listed(folder) == {"config.toml": OTHER + RECORD} and os.stat(folder + "/config.toml").st_ino != number
    # Wine keeps the attributes a program sets in this extended attribute (ShowDotFiles=Y).
    assert os.getxattr(folder, "user.DOSATTRIB") == b"0x2"


FAILURES = [  # the case, the box and its answer, the URLs then opened, the list planted
    ("download failed", DOWNLOAD_FAILED, "ok", [RELEASE_URL, "https://localhost:8444/"], "second name"),
    ("download failed, no desktop shell", DOWNLOAD_FAILED, "cancel", [], "none"),
    ("unsigned, Windows 7", START_FAILED, "cancel", ["https://localhost:8443/velnor-video/win7"], "none"),
    ("another signer", START_FAILED, "cancel", [RELEASE_URL], "none"),
    ("changed after signing", START_FAILED, "cancel", [RELEASE_URL], "none")]


@pytest.mark.parametrize("case, box, answer, urls, kind", FAILURES, ids=[f[0] for f in FAILURES])
def test_failure(prefix, cert, publisher, case, box, answer, urls, kind):
    # The box says what failed; the download page is open, and OK opens the support page (Wine's
    # launcher adds "/" to the bare origin), only through the desktop shell: without it, nothing.
    # A failed download keeps the window until its close box is clicked. Nothing is started or
    # left, and the installer loads no DLL planted beside it.
    folder, program, shell_gone = plant_list(prefix, kind), open(PEER, "rb").read(), threading.Event()
    if case == "another signer":
        program = peers.signed(program, peers.code_signer(built("tests", "signers", "other"), "Someone", "Else"))
    elif case == "changed after signing":
        program = bytearray(peers.signed(program, publisher))
        program[pefile.PE(data=bytes(program)).sections[0].PointerToRawData + 64] ^= 0xFF
    routes = peers.installer_routes(bytes(program))
    if case.startswith("download failed"):
        routes = {"/velnor-video/release": lambda h: (shell_gone.wait(30), peers.reply(h, 404))}
    # Windows 7 has its own channel; the build finding no SetDefaultDllDirectories, as there, still
    # delay-loads WinHTTP, GDI+ and the signature check's DLLs from System32 only. (Wine's own
    # user32 then takes uxtheme from the program's folder, which Windows does not.)
    windows7 = case.endswith("Windows 7")
    prefix.set(r"HKCU\Software\Wine", {"Version": "win7" if windows7 else "win10"})
    exe = "tests/velnor-installer-win7-dll-search.exe" if windows7 else "velnor-installer.exe"
    with installer(prefix, cert, run_folder(case.replace(" ", "-")), routes, exe) as (run, _):
        if "desktop shell" in case:
            assert peers.wait_until(lambda: shown(prefix), 30)
            assert prefix.wine("taskkill", "/f", "/im", "explorer.exe")[0] == 0
        shell_gone.set()
        assert answer_box(prefix, run, answer) == box + TAIL
        assert peers.wait_until(lambda: run.browser() == urls, 10), run.browser()
        if box == DOWNLOAD_FAILED:
            assert run.proc.poll() is None and shown(prefix)
            click_close_box(prefix)
    assert run.browser() == urls and run.setup_log() == {} and not os.path.exists(run.path(SAVE_NAME))
    assert [m for m in planted_loads(run, "velnor-installer") if "uxtheme" not in m] == []
    # A list with a second name is left alone; a profile without one gets the product's record.
    assert listed(folder) == ({"config.toml": OTHER, "second.toml": OTHER} if kind == "second name" else
                              {"config.toml": RECORD})


def test_close_box_during_download(prefix, cert):
    # A screen reader hears the progress bar, named after the product, change with the percentage
    # and the speed; 6 s into a silence of the server the speed it reads is 0. The close box ends
    # the download at once; the half-written file goes with the process. .velnor is a link to
    # another folder: nothing there is written, added or hidden.
    folder, heard = plant_list(prefix, "link"), built("installer-runs", "close.reader")
    slow = lambda h: peers.reply(h, 200, peers.padded_payload(PEER, 2 << 20), rate=256 << 10, stall=60)
    with installer(prefix, cert, run_folder("close"), {"/velnor-video/release": slow}) as (run, server):
        reader = prefix.launch([PEER, "read"], heard)
        assert peers.wait_until(lambda: "body-start" in server.events and shown(prefix), 30)
        assert reader.wait(30) == 0, open(heard, encoding="utf-8").read()
        assert peers.wait_until(lambda: "silent" in server.events, 30)
        time.sleep(6)
        assert prefix.wine(PEER, "speed") == (0, "0 KB/s")
        click_close_box(prefix)
        assert run.wait(15) == 0  # the body would take 60 s more; a box would keep it running
    # The bar after each value change, up to a value unlike the first.
    heard = open(heard, encoding="utf-8").read()
    assert re.fullmatch(r"(48\tvelnor 视频格式转换器\t\d+%\t\d+ KB/s\n)+", heard)
    assert re.findall(r"\t(\d+)%", heard)[-1] != re.findall(r"\t(\d+)%", heard)[0]
    assert "body-end" not in server.events and run.browser() == [] and run.setup_log() == {}
    assert not os.path.exists(run.path(SAVE_NAME))
    assert os.readlink(os.path.join(prefix.profile(), ".velnor")) == folder
    assert (listed(folder), os.listxattr(folder)) == ({"config.toml": OTHER}, [])


@pytest.mark.parametrize("case", ["same folder", "another folder", "after a failed download"])
def test_second_start(prefix, cert, publisher, case):
    # While an installer downloads, a start in its folder or another ends at once with 0: no
    # window, prompt, page, record or download of its own; the first goes on alone and exactly one
    # setup program runs, from the one body served. Once a failed download's prompt is answered,
    # its window still open, a start runs as usual.
    folder, first_fails = plant_list(prefix, "list"), case.startswith("after")
    program = peers.signed(peers.padded_payload(PEER, 1 << 20), publisher)

    def serve(handler):
        if first_fails and len(server.requests) == 1:
            return peers.reply(handler, 404)
        return peers.reply(handler, 200, program, rate=256 << 10)

    routes = {"/velnor-video/release": serve}
    with installer(prefix, cert, run_folder("first"), routes) as (first, server):
        assert peers.wait_until(lambda: shown(prefix) and (first_fails or "body-start" in server.events), 30)
        if first_fails:
            assert answer_box(prefix, first, "cancel") == DOWNLOAD_FAILED + TAIL
            assert peers.wait_until(lambda: not xdotool(prefix, "search", "--name", "^系统提示$"), 10)
        recorded = os.stat(folder + "/config.toml").st_ino
        work = first.workdir if case == "same folder" else run_folder("second")
        exe = first.path("velnor-installer.exe")
        if work != first.workdir:
            exe = shutil.copy(exe, work)
        second = prefix.launch([exe], os.path.join(work, "second.out"), cwd=work)
        assert second.wait(60 if first_fails else 20) == 0
        recorded_again = os.stat(folder + "/config.toml").st_ino != recorded
        assert recorded_again == first_fails  # only a start that runs records
        assert not xdotool(prefix, "search", "--name", "^系统提示$")
        if first_fails:
            click_close_box(prefix)
    assert len(server.requests) == (2 if first_fails else 1)
    assert first.browser() == ([RELEASE_URL] if first_fails else [])
    ran = [w for w in {first.workdir, work} if os.path.exists(os.path.join(w, "setup.log"))]
    assert ran == [work if first_fails else first.workdir]
    assert not any(os.path.exists(os.path.join(w, SAVE_NAME)) for w in (first.workdir, work))


def test_saved_setup_program_guarded(prefix, cert, publisher):
    # Half sent, velnor-setup.exe is mode 0750, where Wine folds the descriptor given at its
    # creation (without one: 0644 or 0755), and another program of the prefix may not write,
    # rename or delete it. The stand-in then runs without arguments, the window hidden, held all
    # along, and loads the DLLs planted beside it, as the installer never does. Another file
    # given its name meanwhile (from outside the prefix, which nothing blocks) is not deleted.
    program, work = peers.signed(open(PEER, "rb").read(), publisher), run_folder("guarded")
    body_held = threading.Event()
    pathlib.Path(work, "setup.hold").touch()
    with installer(prefix, cert, work, peers.installer_routes(program, hold=body_held.is_set)) as (run, _):
        hostile = prefix.launch([PEER, "try", SAVE_NAME], work + ".tries", cwd=work)
        assert hostile.wait(60) == 0
        mode = os.stat(run.path(SAVE_NAME)).st_mode & 0o777
        body_held.set()
        assert peers.wait_until(lambda: os.path.exists(run.path("setup.log")), 60)
        hidden = not shown(prefix)
        os.rename(run.path(SAVE_NAME), run.path("started.exe"))
        pathlib.Path(run.path(SAVE_NAME)).write_bytes(b"another file")
        os.unlink(run.path("setup.hold"))
    assert oct(mode) == oct(0o750) and hidden
    # Wine answers 32 (sharing) while the file is still marked for deletion, where Windows says 5.
    assert open(work + ".tries").read().split() == ["32"] * 3
    assert run.setup_log() == {"argc": "1", "rename": "32"}
    assert pathlib.Path(run.path(SAVE_NAME)).read_bytes() == b"another file"
    assert (planted_loads(run, "velnor-installer"), len(planted_loads(run, SAVE_NAME))) == ([], len(PLANTED))


def test_setup_file_descriptor(prefix):
    # What the file is created with, walked in memory: Wine keeps no descriptor on files.
    # Owner Administrators; only SYSTEM and Administrators may change it; high, no write up.
    assert prefix.wine(built("tests", "descriptor_check.exe"))[1].split() == [
        "protected=1", "owner=S-1-5-32-544", "writer=S-1-5-18", "writer=S-1-5-32-544", "label=S-1-16-12288/1"]
