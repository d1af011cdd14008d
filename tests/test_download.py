"""DownloadFile over WinHTTP under Wine, against HTTPS servers on 127.0.0.1
whose CA only the test prefix trusts: what only the real library shows. The
download loop's own rules are tested natively over a fake transport."""

import os
import subprocess

import harness
import pytest
import trustme

BODY = bytes(i % 251 for i in range(100000))
AGENT = "VelnorInstaller/1.0"
# URL path on the first server, outcome, every path then requested on either server.
CASES = [
    ("/length", "ok", ["/length"]),
    ("/chunked", "ok", ["/chunked"]),
    ("/two", "ok", ["/two", "/two-b", "/two-c"]),
    ("/three", "Too many redirects", ["/three", "/three-b", "/three-c"]),
    ("/relative", "URL parse failed", ["/relative"]),
    ("/http", "URL parse failed", ["/http"]),
    ("/no-location", "HTTP status not OK: 301", ["/no-location"]),
    ("/empty-location", "URL parse failed", ["/empty-location"]),
]


def redirect(status, location=None):
    headers = [("Location", location)] if location is not None else []
    return lambda handler: harness.reply(handler, status, headers=headers)


@pytest.fixture(scope="module")
def run(prefix, cert):
    """Every case in one program run, beside a second run with the stalled
    body; (results by path, the requests both servers saw, the untrusted
    server's requests)."""
    work = harness.built("tests", "download-runs")
    requests, refused = [], []
    with harness.Server(cert, {}, requests=requests) as one, \
            harness.Server(cert, {}, requests=requests) as two, \
            harness.Server(trustme.CA().issue_cert("localhost"), {}, requests=refused) as untrusted:
        a, b = ("https://localhost:%d" % s.port for s in (one, two))
        one.routes.update({
            "/length": lambda h: harness.reply(h, 200, BODY),
            "/chunked": lambda h: harness.reply(h, 200, BODY, chunked=True),
            "/stall": lambda h: harness.reply(h, 200, BODY, stall=90),
            "/two": redirect(302, b + "/two-b"), "/two-c": lambda h: harness.reply(h, 200, b"2"),
            "/three": redirect(301, b + "/three-b"), "/three-c": redirect(307, b + "/three-d"),
            "/relative": redirect(302, "/relative-target"),
            "/http": redirect(302, "http://localhost:%d/http-target" % one.port),
            "/no-location": redirect(301),
            "/empty-location": redirect(302, ""),
        })
        two.routes.update({"/two-b": redirect(303, a + "/two-c"),
                           "/three-b": redirect(308, a + "/three-c")})
        procs = {}
        for name, urls in (("stall", [a + "/stall"]),
                           ("main", [a + p for p, _, _ in CASES] +
                            ["https://localhost:%d/length" % untrusted.port])):
            os.makedirs(os.path.join(work, name), exist_ok=True)
            procs[name] = prefix.launch([harness.built("tests", "download_check.exe"), *urls],
                                        os.path.join(work, name, "out"), cwd=os.path.join(work, name))
        for proc in procs.values():
            proc.wait(150)
    lines = {}
    for name, paths in (("stall", ["/stall"]), ("main", [p for p, _, _ in CASES] + ["untrusted"])):
        with open(os.path.join(work, name, "out"), encoding="utf-8") as out:
            lines.update(zip(paths, (line.rstrip("\n").split("\t") for line in out)))
    return lines, requests, refused, work


@pytest.mark.parametrize("path, outcome, requested", CASES)
def test_redirects_and_statuses(run, path, outcome, requested):
    lines, requests, _, _ = run
    assert lines[path][0] == outcome
    mine = [r for r in requests if r[0].split()[1] == path or r[0].split()[1].startswith(path + "-")]
    assert mine == [("GET %s HTTP/1.1" % p, AGENT) for p in requested]


def test_body_with_and_without_content_length(run):
    lines, _, _, work = run
    for n, total in ((1, "100000"), (2, "0")):
        with open(os.path.join(work, "main", "file%d.bin" % n), "rb") as saved:
            assert saved.read() == BODY
        assert lines[CASES[n - 1][0]][2:] == ["100000", total]


def test_empty_location_fails_without_waiting_for_a_time_out(run):
    assert int(run[0]["/empty-location"][1]) < 20000


def test_untrusted_certificate_refused_before_any_request(run):
    assert run[0]["untrusted"][0] == "WinHttpSendRequest failed"
    assert run[2] == []


def test_stalled_body_ends_at_the_30_s_receive_time_out(run):
    assert 29000 <= int(run[0]["/stall"][1]) < 60000
