"""Fixtures of the Wine tests: a test CA and its certificate for localhost,
a private Xvfb display, and the two Wine prefixes of the build folder (made
once by cmake/wine-run.sh, reused by every run), each with the CA trusted
in it only."""

import harness
import pytest
import trustme


@pytest.fixture(scope="session")
def ca():
    return trustme.CA()


@pytest.fixture(scope="session")
def cert(ca):
    return ca.issue_cert("localhost", "127.0.0.1")


@pytest.fixture(scope="session")
def display():
    xvfb, name = harness.start_display()
    yield name
    xvfb.terminate()
    xvfb.wait(10)


def _prefix(request, name, display, ca, user=None, settings=None):
    prefix = harness.Prefix(harness.built(name), display, user)
    request.addfinalizer(prefix.kill)
    prefix.prepare(ca.cert_pem.bytes(), settings)
    return prefix


@pytest.fixture(scope="session")
def prefix(request, display, ca):
    """The build folder's prefix, its profile named after the Unix user."""
    return _prefix(request, "wineprefix", display, ca)


@pytest.fixture(scope="session")
def zh_prefix(request, display, ca):
    """A prefix whose user, and so profile folder, has a Chinese name; it
    reports Windows 10 with WebView2 registered for the machine."""
    return _prefix(request, "wineprefix-zh", display, ca, user="张三", settings={
        r"HKCU\Software\Wine": {"Version": "win10"}, harness.WEBVIEW2: {"pv": "1.2.3.4"}})
