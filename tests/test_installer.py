# velnor-installer.exe end to end under Wine on a private Xvfb display,
# against the download server on 127.0.0.1:8443.
import glob
import os
import pathlib
import re
import signal
import subprocess
import threading

import harness
import pefile
import pytest
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


def start(prefix, name, env=NATIVE_FIRST, installer="velnor-installer.exe"):
    # The installer in a fresh folder, the marker DLLs beside it.
    return harness.Run(prefix, built(installer), harness.fresh(built("installer-runs", name)), env, PLANTED)


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


def assert_recorded(folder):  # the list replaced by a new file, nothing else left; the folder hidden alone
    new = pathlib.Path(folder, "config.toml")
    # Wine keeps the attributes a program sets in this extended attribute (ShowDotFiles=Y).
    assert (new.read_bytes(), new.stat().st_ino != INODES[folder], os.listdir(folder),
            os.getxattr(folder, "user.DOSATTRIB")) == (OTHER + RECORD.encode(), True, ["config.toml"], b"0x2")


@pytest.fixture
def real_setup(publisher):
    # A silent setup program of makensis, signed by the publisher, that unpacks a payload
    # into a folder of the test: (the program, the payload, the folder). Random and stored,
    # the payload keeps the program about 1 MB, which the throttled download shows partly done.
    work, payload = harness.fresh(built("installer-runs", "real-setup")), os.urandom(1 << 20)
    pathlib.Path(work, "payload.bin").write_bytes(payload)
    pathlib.Path(work, "setup.nsi").write_text(
        'Target amd64-unicode\nSetCompress off\nSilentInstall silent\nRequestExecutionLevel user\n'
        'OutFile program.exe\nSection\nSetOutPath "%s"\nFile payload.bin\nSectionEnd\n'
        % windows_path(work + "/installed"))
    subprocess.run(["makensis", "-V1", "setup.nsi"], cwd=work, check=True, timeout=60)
    return harness.signed(pathlib.Path(work, "program.exe").read_bytes(), publisher), payload, work + "/installed"


def test_success(prefix, cert, real_setup):
    # Windows 10 with WebView2 for the machine: the release channel. A frame with the bar
    # partly filled, the percentage from its left end, the speed up to its right end; a real
    # setup program, which reads itself while held, run, then deleted; the product recorded.
    # A velnor-setup.exe already there is a hard link: the file it links to is left alone.
    # Nothing planted: the program imports comctl32, which a planted marker would replace.
    folder, (program, payload, installed) = software_list(prefix), real_setup
    work, kept = harness.fresh(built("installer-runs", "success")), built("installer-runs", "kept.bin")
    pathlib.Path(kept).write_bytes(b"kept")
    os.link(kept, os.path.join(work, SAVE_NAME))
    with harness.Server(cert, harness.installer_routes(program, rate=256 << 10), port=PORT) as server:
        run = harness.Run(prefix, built("velnor-installer.exe"), work)

        def partial_frame():
            shot = ImageGrab.grab(xdisplay=prefix.env["DISPLAY"])
            at = lambda x, y: shot.getpixel((ORIGIN[0] + x, ORIGIN[1] + y))
            filled = [x for x in range(40, 520) if (lambda r, g, b: b < 200 < min(r, g))(*at(x, 279))]
            text = [x for x in range(40, 520) if any(min(at(x, y)) >= 215 for y in range(247, 267))]
            return (24 <= len(filled) <= 456 and filled[0] <= 44 and text and text[0] <= 44
                    and text[-1] >= 514 or "body-end" in server.events and "no partial frame")
        frame = harness.wait_until(partial_frame, 60, 0.2)
        assert run.wait() == 0
    assert frame is True
    assert server.requests == [("GET /velnor-video/release HTTP/1.1", "VelnorInstaller/1.0")]
    assert open(installed + "/payload.bin", "rb").read() == payload
    assert pathlib.Path(kept).read_bytes() == b"kept"
    assert not os.path.exists(run.path(SAVE_NAME)) and run.browser() == []
    assert_recorded(folder)


def test_download_failure(prefix, cert):
    # A 404: the download page opened while the box is up, the support page after OK, the
    # window kept until its close box is clicked. A list with a second name is left alone.
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
    os.rmdir(harness.fresh(velnor))  # later tests' harness.fresh makes a folder of it again
    os.symlink(elsewhere, velnor)
    # A screen reader hooks value changes before the installer starts.
    heard = built("installer-runs", "close.reader")
    with harness.Server(cert, harness.installer_routes(payload, rate=128 << 10), port=PORT) as server:
        reader = prefix.launch([PEER, "read"], heard)
        assert harness.wait_until(lambda: "hooked" in open(heard, encoding="utf-8").read(), 30)
        run = start(prefix, "close")
        assert harness.wait_until(lambda: "body-start" in server.events and shown(prefix), 30)
        assert reader.wait(30) == 0, open(heard, encoding="utf-8").read()
        click_close_box(prefix)
        assert run.wait(15) == 0  # the body would take 30 s more; a box would keep it running
    # The bar once, then the value after each event up to one unlike the first.
    assert re.fullmatch(r"hooked\n48\tvelnor 视频格式转换器\t(\d+)%\t\d+ KB/s\n(\d+%\n)*(?!\1%\n)\d+%\n",
                        open(heard, encoding="utf-8").read())
    assert os.readlink(velnor) == elsewhere
    assert "body-end" not in server.events and run.browser() == [] and run.setup_log() == {}
    assert not os.path.exists(run.path(SAVE_NAME))  # half written, it went with the process
    assert (pathlib.Path(elsewhere, "config.toml").read_bytes(), os.listdir(elsewhere),
            os.listxattr(elsewhere)) == (OTHER, ["config.toml"], [])


def test_saved_setup_program_guarded(prefix, cert, publisher):
    # Another program of the prefix tries to write into, rename and delete velnor-setup.exe
    # while the body is half sent: each is refused. The stand-in then started is byte for
    # byte what was served, and held while it runs; it runs hidden, from the installer's folder,
    # without arguments, and loads the DLLs planted there, which the installer never does.
    # Then, while it runs, another file comes to bear the name (from outside the prefix, which
    # nothing blocks): the delete after the wait spares it.
    payload, work = harness.signed(open(PEER, "rb").read(), publisher), harness.fresh(built("installer-runs", "guarded"))
    hostile = prefix.launch([PEER, "try", SAVE_NAME], work + ".tries", cwd=work)
    routes = harness.installer_routes(payload, hold=lambda: hostile.poll() is not None)
    pathlib.Path(work, "setup.hold").touch()
    with harness.Server(cert, routes, port=PORT):
        run = harness.Run(prefix, built("velnor-installer.exe"), work, NATIVE_FIRST, PLANTED)
        assert harness.wait_until(lambda: os.path.exists(run.path("setup.bin")), 60)
        os.rename(run.path(SAVE_NAME), run.path("started.exe"))
        pathlib.Path(run.path(SAVE_NAME)).write_bytes(b"another file")
        os.unlink(run.path("setup.hold"))
        assert run.wait() == 0
    assert pathlib.Path(run.path(SAVE_NAME)).read_bytes() == b"another file"
    # Wine answers 32 (sharing) while the file is still marked for deletion, where Windows says 5.
    assert hostile.wait(30) == 0 and open(work + ".tries").read().split() == ["32"] * 3
    cwd = windows_path(run.workdir).lower()
    assert {key: value.lower() for key, value in run.setup_log().items()} == {
        "argc": "1", "cwd": cwd, "module": cwd + "\\" + SAVE_NAME, "window": "hidden", "rename": "32"}
    assert open(run.path("setup.bin"), "rb").read() == payload
    assert (planted_loads(run, "velnor-installer"), len(planted_loads(run, SAVE_NAME))) == ([], len(PLANTED))


@pytest.mark.parametrize("case", ["unsigned", "another signer", "changed after signing"])
def test_only_the_publishers_program_starts(prefix, cert, publisher, case):
    # Delivered whole over trusted TLS, yet not the publisher's: the start-failed box,
    # nothing started, the file gone.
    program = open(PEER, "rb").read()
    if case == "another signer":
        program = harness.signed(program, harness.code_signer(built("tests", "signers", "other"), "Someone", "Else"))
    elif case != "unsigned":
        program = bytearray(harness.signed(program, publisher))
        code = pefile.PE(data=bytes(program)).sections[0].PointerToRawData + 64
        program[code] ^= 0xFF
    # Unsigned, by the build that finds no SetDefaultDllDirectories, as on a Windows 7 without it:
    # the delay-loaded DLLs (WinHTTP, GDI+, the signature check's) still come from System32 only.
    # (Wine's own user32 then takes uxtheme from the program's folder, which Windows does not.)
    installer = "tests/velnor-installer-win7-dll-search.exe" if case == "unsigned" else "velnor-installer.exe"
    with harness.Server(cert, harness.installer_routes(bytes(program)), port=PORT):
        run = start(prefix, "unsigned-" + case.replace(" ", "-"), installer=installer)
        box = prefix.wine(PEER, "box", "cancel", cwd=run.workdir)[1].replace("\r\n", "\n")
        assert run.wait(30) == 0
    assert box == START_FAILED + TAIL and run.setup_log() == {}
    assert not os.path.exists(run.path(SAVE_NAME))
    assert [m for m in planted_loads(run, "velnor-installer") if "uxtheme" not in m] == []


def test_no_desktop_shell(prefix, cert):
    # The desktop shell ended once the window shows, then a failed download: nothing opens the
    # browser, least of all the installer itself, elevated; the box shows all the same. Answered
    # with xdotool: a new Wine program of the prefix could start the shell again. A profile with
    # no list yet gets the product's record.
    velnor = os.path.join(prefix.profile(), ".velnor")
    os.rmdir(harness.fresh(velnor))
    shell_gone = threading.Event()
    fail = lambda handler: (shell_gone.wait(30), harness.reply(handler, 404))
    with harness.Server(cert, {"/velnor-video/release": fail}, port=PORT):
        run = start(prefix, "no-shell", dict(NATIVE_FIRST, WINEDEBUG="+pid,+loaddll,trace+exec"))
        assert harness.wait_until(lambda: shown(prefix), 30)
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                command, environment = (open("/proc/%s/%s" % (pid, f), "rb").read() for f in ("cmdline", "environ"))
            except OSError:
                continue
            if b"explorer.exe" in command and b"WINEPREFIX=%s\0" % prefix.path.encode() in environment:
                os.kill(int(pid), signal.SIGKILL)
        shell_gone.set()
        xdotool = lambda *args: subprocess.run(["xdotool", *args], env=prefix.env, capture_output=True, timeout=10)
        box = lambda: xdotool("search", "--name", "^系统提示$").stdout
        assert harness.wait_until(box, 30)
        # Pressed again until the box has gone: a press as it appears may be lost.
        answer = lambda: xdotool("search", "--name", "^系统提示$", "windowfocus", "--sync", "key", "Return")
        assert harness.wait_until(lambda: answer() and not box(), 20, 0.5)
        assert run.proc.poll() is None and shown(prefix)
        click_close_box(prefix)
        assert run.wait(20) == 0
    # Nor did the installer's own process ask Wine to open anything (its exec trace, by its id).
    trace = open(run.path("out"), encoding="utf-8", errors="replace").read().splitlines()
    own = next(l.split(":")[0] for l in trace if ":loaddll:" in l and "velnor-installer" in l)
    assert run.browser() == [] and [l for l in trace if l.startswith(own + ":") and ":exec:" in l
                                    and "https://localhost:844" in l] == []
    assert pathlib.Path(velnor, "config.toml").read_bytes() == RECORD.encode()


def test_setup_file_descriptor(prefix):
    # What the file is created with, walked in memory: Wine keeps no descriptor on files.
    # Owner Administrators; only SYSTEM and Administrators may change it; high, no write up.
    assert prefix.wine(built("tests", "descriptor_check.exe"))[1].split() == [
        "protected=1", "owner=S-1-5-32-544", "writers=S-1-5-18,S-1-5-32-544", "label=S-1-16-12288/1"]




def test_install_through_the_users_proxy(prefix, cert, publisher):
    # Windows 7, so its own channel, with a manual proxy in the user's Internet Options:
    # the whole install goes through the proxy's tunnel.
    program = harness.signed(open(PEER, "rb").read(), publisher)
    version = lambda name: prefix.wine("reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/d", name, "/f")
    with harness.proxy(built("installer-runs", "squid")) as (ports, log), harness.Server(
            cert, harness.installer_routes(program), port=PORT) as server:
        try:
            version("win7"), harness.set_proxy(prefix, "127.0.0.1:%d" % ports[0])
            run = start(prefix, "proxy")
            assert run.wait() == 0
        finally:
            version("win10"), harness.set_proxy(prefix)
        assert harness.wait_until(lambda: "CONNECT localhost:%d" % PORT in log(), 10)
    assert server.requests == [("GET https://localhost:%d/velnor-video/win7 HTTP/1.1" % PORT, "VelnorInstaller/1.0")]
    assert run.setup_log()["argc"] == "1" and not os.path.exists(run.path(SAVE_NAME))
