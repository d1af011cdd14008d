# Fixtures of the Wine tests: a test CA and its certificate for localhost, a
# private Xvfb display, and a Wine prefix of the build folder (made once by
# cmake/wine-run.sh, reused by every run) trusting the CA.
import harness
import pytest
import trustme

CA = trustme.CA()


@pytest.fixture(scope="session")
def cert():
    return CA.issue_cert("localhost", "127.0.0.1")


@pytest.fixture(scope="session")
def display():
    xvfb, name = harness.start_display()
    yield name
    xvfb.terminate()


@pytest.fixture(scope="session")
def prefix(request, display):
    # Its user, and so its profile folder, has a Chinese name; Windows 10 with
    # WebView2 for the machine.
    prefix = harness.Prefix(harness.built("wineprefix-zh"), display, "张三")
    request.addfinalizer(prefix.kill)
    prefix.prepare(CA.cert_pem.bytes(), harness.WIN10_WITH_WEBVIEW2)
    return prefix


@pytest.fixture(scope="session")
def publisher():
    """A code-signing certificate for the publisher the windows preset expects."""
    return harness.code_signer(harness.built("tests", "signers", "publisher"), *harness.PUBLISHER)
