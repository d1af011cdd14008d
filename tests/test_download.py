# DownloadFile over WinHTTP under Wine against HTTPS servers on 127.0.0.1
# whose CA only the test prefix trusts: what only the real library shows.
# The download loop's own rules are tested natively over a fake transport.
import contextlib
import hashlib
import os
import re
import socket
import ssl
import subprocess

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


# The user's proxy settings, each row against real peers: squid (its log the
# evidence), a PAC script on loopback, a PAC server that never answers, and servers
# offering TLS 1.1 and 1.2 at most. Target localhost, proxy 127.0.0.1: with one host
# string for both, Wine would skip CONNECT. The evidence: what squid's log, the PAC
# server or the resolver saw.
ROUTES = [  # settings, the server, outcome, CONNECT through the proxy, milliseconds, evidence
    ("manual proxy", dict(proxy="{proxy}"), "main", "ok", True, ANY, None),
    ("PAC naming the proxy", dict(pac="{pac}/proxy.pac"), "main", "ok", True, ANY, ("pac", "/proxy.pac")),
    ("bypass list naming localhost", dict(proxy="{proxy}", bypass="localhost"), "main", "ok", False, ANY, None),
    ("PAC naming a proxy where nothing listens", dict(pac="{pac}/dead.pac"), "main", "ok", False, ANY,
     ("pac", "/dead.pac")),
    # In namespaces of its own, where nothing leaves the machine.
    ("auto-detection, no WPAD server", dict(detect=True), "main", "ok", False, range(5000), ("dns", "wpad")),
    ("a PAC server that never answers, then the manual proxy", dict(pac="{hang}/proxy.pac", proxy="{proxy}"),
     "main", "ok", True, range(4500, 9000), None),
    ("a proxy demanding Basic", dict(proxy="{basic}"), "main", "WinHttpSendRequest failed", False, ANY,
     ("squid", "TCP_DENIED/407")),
    ("a server offering TLS 1.1 at most", {}, "tls1.1", "WinHttpSendRequest failed", False, ANY, None),
    ("a server offering TLS 1.2 at most", {}, "tls1.2", "ok", False, ANY, None)]


@pytest.fixture(scope="module")
def peers(prefix, cert):
    pac_naming = lambda port: lambda h: reply(h, 200, b'function FindProxyForURL(u, h) { return "PROXY '
                                              b'127.0.0.1:%d"; }' % port)
    with contextlib.ExitStack() as stack:
        servers = {name: stack.enter_context(harness.Server(cert, {"/small": lambda h: reply(h, 200, BODY[:1000])},
                                                            tls_max=tls)) for name, tls in (
            ("main", None), ("tls1.1", ssl.TLSVersion.TLSv1_1), ("tls1.2", ssl.TLSVersion.TLSv1_2))}
        (port, basic), squid = stack.enter_context(harness.proxy(harness.built("tests", "squid")))
        hang = stack.enter_context(socket.create_server(("127.0.0.1", 0))).getsockname()[1]  # never answers
        with socket.create_server(("127.0.0.1", 0)) as closed:  # where nothing listens
            pac = stack.enter_context(harness.Server(None, {"/proxy.pac": pac_naming(port),
                                                            "/dead.pac": pac_naming(closed.getsockname()[1])}))
        names = dict(proxy="127.0.0.1:%d" % port, basic="127.0.0.1:%d" % basic, pac="http://127.0.0.1:%d" % pac.port,
                     hang="http://127.0.0.1:%d" % hang)
        asked = harness.no_such_name()
        yield servers, names, dict(squid=squid, pac=lambda: str(pac.requests), dns=lambda: str(asked))
    harness.set_proxy(prefix)


@pytest.mark.parametrize("label, settings, server, outcome, tunnelled, milliseconds, evidence", ROUTES,
                         ids=[r[0] for r in ROUTES])
def test_route(prefix, peers, label, settings, server, outcome, tunnelled, milliseconds, evidence):
    servers, names, logs = peers
    harness.set_proxy(prefix, **{k: v.format(**names) if isinstance(v, str) else v for k, v in settings.items()})
    work, seen = harness.fresh(harness.built("tests", "route-run")), {k: len(log()) for k, log in logs.items()}
    command = [os.path.join(harness.ROOT, "cmake", "wine-run.sh"), harness.built("tests", "download_check.exe"),
               "https://localhost:%d/small" % servers[server].port]
    prefix.kill()  # the wineserver starts where this run does (private_resolver)
    with open(os.path.join(work, "out"), "wb") as out:
        subprocess.run(harness.private_resolver(work, command) if settings.get("detect") else command,
                       env=prefix.env, cwd=work, stdout=out, stderr=out, timeout=120)
    line = open(os.path.join(work, "out"), encoding="utf-8").read().splitlines()[-1].split("\t")
    assert line[0] == outcome and int(line[1]) in milliseconds
    new = lambda name: logs[name]()[seen[name]:]
    tunnel = r"TCP_TUNNEL/200 \d+ CONNECT localhost:%d " % servers[server].port
    assert bool(harness.wait_until(lambda: re.search(tunnel, new("squid")), 5 * tunnelled)) == tunnelled
    assert not evidence or harness.wait_until(lambda: evidence[1] in new(evidence[0]), 5)
