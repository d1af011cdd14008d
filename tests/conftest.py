# Fixtures of the Wine tests: a test CA and its certificate for localhost, a
# private Xvfb display, and two Wine prefixes of the build folder (made once
# by cmake/wine-run.sh, reused by every run), each trusting the CA.
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


def _prefix(request, name, display, **options):
    prefix = harness.Prefix(harness.built(name), display, options.pop("user", None))
    request.addfinalizer(prefix.kill)
    prefix.prepare(CA.cert_pem.bytes(), **options)
    return prefix


@pytest.fixture(scope="session")
def prefix(request, display):
    return _prefix(request, "wineprefix", display)


@pytest.fixture(scope="session")
def zh_prefix(request, display):
    # Its user, and so its profile folder, has a Chinese name.
    return _prefix(request, "wineprefix-zh", display, user="张三",
                   settings=harness.WIN10_WITH_WEBVIEW2)
