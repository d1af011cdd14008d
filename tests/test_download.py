# DownloadFile over WinHTTP under Wine against HTTPS servers on 127.0.0.1
# whose CA only the test prefix trusts: what only the real library shows.
# The download loop's own rules are tested natively over a fake transport.
import hashlib
import os

import harness
import pytest
import trustme
from harness import reply

BODY = bytes(i % 251 for i in range(100000))
ANY = range(0, 60000)
# Path, outcome, the paths then requested of either server, the milliseconds it may take.
CASES = [("/length", "ok", ["/length"], ANY), ("/unsized", "ok", ["/unsized"], ANY),
         ("/three", "Too many redirects", ["/three", "/three-b", "/three-c"], ANY),
         ("/empty-location", "URL parse failed", ["/empty-location"], range(20000)),  # it once hung 40 s
         ("/no-location", "HTTP status not OK: 301", ["/no-location"], ANY),
         ("/folder", "failed to create save file", ["/folder"], ANY),
         # The certificate refused before any request is sent.
         ("/untrusted", "WinHttpSendRequest failed", [], ANY),
         # The 30 s receive time-out: not before, not much after.
         ("/stall", "download incomplete", ["/stall"], range(29000, 60000))]


def redirect(status, *location):
    return lambda handler: reply(handler, status, headers=[("Location", l) for l in location])


@pytest.fixture(scope="module")
def run(prefix, cert):
    """Every case in one run of download_check.exe, the stall last: ({path: printed
    fields}, both servers' requests, the run's folder)."""
    work = harness.fresh(harness.built("tests", "download-run"))
    paths = [case[0] for case in CASES]
    os.mkdir(os.path.join(work, "file%d.bin" % (paths.index("/folder") + 1)))  # where "/folder" goes
    with harness.Server(cert, {}) as one, harness.Server(trustme.CA().issue_cert("localhost"), {}) as other:
        a, c = ("https://localhost:%d" % server.port for server in (one, other))
        one.routes.update({
            "/length": lambda h: reply(h, 200, BODY), "/stall": lambda h: reply(h, 200, BODY, stall=90),
            "/unsized": lambda h: reply(h, 200, BODY, length=False),
            "/three": redirect(301, a + "/three-b"), "/three-b": redirect(308, a + "/three-c"),
            "/three-c": redirect(307, a + "/three-d"),
            "/empty-location": redirect(302, ""), "/no-location": redirect(301),
            "/folder": lambda h: reply(h, 200, BODY)})
        other.routes["/untrusted"] = one.routes["/length"]
        url = lambda path: (c if path == "/untrusted" else a) + path
        prefix.launch([harness.built("tests", "download_check.exe"), *map(url, paths)],
                      os.path.join(work, "out"), cwd=work).wait(150)
    with open(os.path.join(work, "out"), encoding="utf-8") as out:
        lines = dict(zip(paths, (line.rstrip("\n").split("\t") for line in out)))
    return lines, one.requests + other.requests, work


@pytest.mark.parametrize("path, outcome, requested, milliseconds", CASES)
def test_outcome_requests_and_time(run, path, outcome, requested, milliseconds):
    lines, requests, _ = run
    assert lines[path][0] == outcome and int(lines[path][1]) in milliseconds
    # The case's own requests: its path and targets named after it ("/three-b").
    assert [r for r in requests if r[0].split()[1].split("-")[0] == path.split("-")[0]] == [
        ("GET %s HTTP/1.1" % p, "VelnorInstaller/1.0") for p in requested]


def test_body_with_and_without_content_length(run):
    # The saved bytes, the progress, and the program's SHA-256 of them (a digest that
    # always gave one value would pass every check of the saved file).
    for n, (path, total) in enumerate((("/length", "100000"), ("/unsized", "0")), 1):
        assert open(os.path.join(run[2], "file%d.bin" % n), "rb").read() == BODY
        assert run[0][path][2:] == ["100000", total, hashlib.sha256(BODY).hexdigest()]
