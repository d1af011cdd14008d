# Fixtures of the Wine tests: a test CA and its certificate for localhost, a
# private Xvfb display, a Wine prefix of the build folder (made once by
# cmake/wine-run.sh, reused by every run) trusting the CA, the publisher and a
# real setup program it signed.
import os
import pathlib
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
import peers  # noqa: E402  (the peers the demonstration and the benchmarks share)
import pytest  # noqa: E402
import trustme  # noqa: E402

CA = trustme.CA()


@pytest.fixture(scope="session")
def cert():
    return CA.issue_cert("localhost", "127.0.0.1")


@pytest.fixture(scope="session")
def display():
    xvfb, name = peers.start_display()
    yield name
    xvfb.terminate()


@pytest.fixture(scope="session")
def prefix(request, display):
    # Its user, and so its profile folder, has a Chinese name; Windows 10 with
    # WebView2 for the machine.
    prefix = peers.Prefix(peers.built("wineprefix-zh"), display, "张三")
    request.addfinalizer(prefix.kill)
    prefix.prepare(CA.cert_pem.bytes(), peers.WIN10_WITH_WEBVIEW2)
    return prefix


@pytest.fixture(scope="session")
def publisher():
    """A code-signing certificate for the publisher the windows preset expects."""
    return peers.code_signer(peers.built("tests", "signers", "publisher"), *peers.PUBLISHER)


@pytest.fixture(scope="session")
def real_setup(publisher):
    """A silent setup program of makensis, signed by the publisher, that unpacks a payload
    into a folder of the test: (the program, the payload, the folder). Random and stored,
    the payload keeps the program about 1 MB, which a throttled download shows partly done."""
    work, payload = peers.fresh(peers.built("installer-runs", "real-setup")), os.urandom(1 << 20)
    pathlib.Path(work, "payload.bin").write_bytes(payload)
    pathlib.Path(work, "setup.nsi").write_text(
        'Target amd64-unicode\nSetCompress off\nSilentInstall silent\nRequestExecutionLevel user\n'
        'OutFile program.exe\nSection\nSetOutPath "%s"\nFile payload.bin\nSectionEnd\n'
        % peers.windows_path(work + "/installed"))
    subprocess.run(["makensis", "-V1", "setup.nsi"], cwd=work, check=True, timeout=60)
    return peers.signed(pathlib.Path(work, "program.exe").read_bytes(), publisher), payload, work + "/installed"
