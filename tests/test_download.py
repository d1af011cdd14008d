# DownloadFile over WinHTTP under Wine against HTTPS servers on 127.0.0.1
# whose CA only the test prefix trusts: what only the real library shows.
# The download loop's own rules are tested natively over a fake transport.
import contextlib
import hashlib
import os
import pathlib
import re
import shutil
import socket
import ssl
import subprocess
import tempfile

import peers
import pytest
import trustme
from peers import reply

BODY = bytes(i % 251 for i in range(100000))
ANY = range(0, 60000)
# Path, outcome, the paths then requested of any server, the milliseconds it may take.
CASES = [("/length", "ok", ["/length"], ANY),
         ("/unsized", "ok", ["/unsized"], ANY),  # no Content-Length: the body ends with the connection
         # WinHTTP's own redirect following is off: 301, 308 and 307 each reach the limit.
         ("/three", "Too many redirects", ["/three", "/three-b", "/three-c"], ANY),
         ("/folder", "failed to create save file", ["/folder"], ANY),
         # Refused before any request is sent: a CA the prefix does not trust, TLS 1.1.
         ("/untrusted", "WinHttpSendRequest failed", [], ANY),
         ("/tls1.1", "WinHttpSendRequest failed", [], ANY),
         # The 30 s receive time-out, not before, not much after; then, without a validator,
         # the whole body asked for again.
         ("/stall", "ok", ["/stall", "/stall"], range(30000, 60000))]


def check(prefix, work, urls, resolver=None):
    """download_check.exe run from work to its end, behind the private resolver when one is
    given: the fields it printed for each URL."""
    command = [os.path.join(peers.ROOT, "cmake", "wine-run.sh"), peers.built("tests", "download_check.exe"), *urls]
    with open(os.path.join(work, "out"), "wb") as out:  # no pipe that a wineserver would hold
        subprocess.run(peers.private_resolver(work, command, resolver) if resolver else command,
                       env=prefix.env, cwd=work, stdout=out, stderr=out, timeout=150)
    # Wine's own messages have no tab.
    return [line.rstrip("\n").split("\t") for line in open(os.path.join(work, "out"), encoding="utf-8") if "\t" in line]


@contextlib.contextmanager
def squid():
    """squid on a free port of 127.0.0.1: (the port, a function giving its access log)."""
    with socket.socket() as free:
        port = free.bind(("127.0.0.1", 0)) or free.getsockname()[1]
    # squid drops to its own user, who may not reach the build folder (under a home only its
    # owner may enter): what it writes goes to a folder of the run under /tmp, given to that user.
    folder = tempfile.mkdtemp(prefix="velnor-squid-")
    if os.geteuid() == 0:
        shutil.chown(folder, "proxy")
    pathlib.Path(folder, "squid.conf").write_text("\n".join([
        "http_port 127.0.0.1:%d" % port, "http_access allow all", "cache deny all", "pinger_enable off",
        "cache_effective_user proxy", "visible_hostname velnor-test", "shutdown_lifetime 0 seconds",
        "access_log stdio:%s/access.log" % folder, "cache_log %s/cache.log" % folder, "pid_filename %s/pid" % folder]))
    read = lambda name: pathlib.Path(folder, name).read_text(errors="replace") if os.path.exists(
        os.path.join(folder, name)) else ""
    listening = lambda: socket.socket().connect_ex(("127.0.0.1", port)) == 0
    with open(os.path.join(folder, "stderr"), "wb") as stderr:  # where it writes what it cannot log
        server = subprocess.Popen(["squid", "-N", "-f", folder + "/squid.conf"], stderr=stderr)
    try:
        peers.wait_until(lambda: server.poll() is not None or listening(), 30)
        if not listening():
            why = (read("cache.log") + read("stderr")).splitlines()[-12:]
            raise RuntimeError("squid did not start; the end of what it wrote:\n" + "\n".join(why))
        yield port, lambda: read("access.log")
    finally:
        server.terminate()
        server.wait(30)
        shutil.rmtree(folder)


@pytest.fixture(scope="module")
def run(prefix, cert):
    """Every case in one run, the stall last: ({path: printed fields}, every server's requests)."""
    work = peers.fresh(peers.built("tests", "download-run"))
    paths = [case[0] for case in CASES]
    os.mkdir(os.path.join(work, "file%d.bin" % (paths.index("/folder") + 1)))  # where "/folder" goes
    redirect = lambda status, to: lambda h: reply(h, status, headers=[("Location", "https://localhost:%d%s" % (
        h.server.port, to))])
    stalls = iter([90])  # the first answer only
    routes = {"/stall": lambda h: reply(h, 200, BODY, stall=next(stalls, 0)), "/three": redirect(301, "/three-b"),
              "/three-b": redirect(308, "/three-c"), "/three-c": redirect(307, "/three-d"),
              "/unsized": lambda h: reply(h, 200, BODY, length=False),
              **dict.fromkeys(["/length", "/folder", "/untrusted", "/tls1.1"], lambda h: reply(h, 200, BODY))}
    with contextlib.ExitStack() as stack:
        serve = lambda *args: stack.enter_context(peers.Server(*args))
        servers = {"/untrusted": serve(trustme.CA().issue_cert("localhost"), routes),
                   "/tls1.1": serve(cert, routes, 0, ssl.TLSVersion.TLSv1_1)}
        main = serve(cert, routes)
        lines = check(prefix, work, ["https://localhost:%d%s" % (servers.get(p, main).port, p) for p in paths])
    return dict(zip(paths, lines)), [r for server in (main, *servers.values()) for r in server.requests]


@pytest.mark.parametrize("path, outcome, requested, milliseconds", CASES)
def test_outcome_requests_and_time(run, path, outcome, requested, milliseconds):
    lines, requests = run
    printed, taken, digest = lines[path]
    # The SHA-256 of what was received, by the program's own digest: one that always gave
    # one value would pass every check of the saved file.
    assert (printed, digest) == (outcome, hashlib.sha256(BODY).hexdigest() if outcome == "ok" else "")
    assert int(taken) in milliseconds
    # The case's own requests: its path and targets named after it ("/three-b").
    assert [r for r in requests if r[0].split()[1].split("-")[0] == path] == [
        ("GET %s HTTP/1.1" % p, "VelnorInstaller/1.0") for p in requested]


# The user's proxy settings, each row against real peers: squid (its log shows each
# tunnel), a PAC script on loopback, a PAC server that never answers, a proxy where
# nothing listens, and auto-detection with no WPAD server. Target localhost, proxy
# 127.0.0.1: with one host string for both, Wine would skip CONNECT.
ROUTES = [  # settings, through squid's tunnel, the milliseconds it may take
    ("manual proxy", dict(proxy="{proxy}"), True, ANY),
    ("PAC naming the proxy", dict(pac="{pac}/proxy.pac"), True, ANY),
    ("bypass list naming localhost", dict(proxy="{proxy}", bypass="localhost"), False, ANY),
    ("a proxy where nothing listens, then direct", dict(proxy="{closed}"), False, ANY),
    # In namespaces of its own, where nothing leaves the machine; the resolver is asked for wpad.
    ("auto-detection, no WPAD server", dict(detect=True), False, range(5000)),
    ("a PAC server that never answers, then the manual proxy", dict(pac="{hang}/proxy.pac", proxy="{proxy}"),
     True, range(4500, 9000))]


@pytest.fixture(scope="module")
def route_peers(prefix, cert):
    with contextlib.ExitStack() as stack:
        target = stack.enter_context(peers.Server(cert, {"/body": lambda h: reply(h, 200, BODY)}))
        port, squid_log = stack.enter_context(squid())
        pac = stack.enter_context(peers.Server(None, {"/proxy.pac": lambda h: reply(
            h, 200, b'function FindProxyForURL(u, h) { return "PROXY 127.0.0.1:%d"; }' % port)}))
        hang = stack.enter_context(socket.create_server(("127.0.0.1", 0))).getsockname()[1]  # never answers
        with socket.create_server(("127.0.0.1", 0)) as closed:
            names = dict(proxy="127.0.0.1:%d" % port, pac="http://127.0.0.1:%d" % pac.port,
                         hang="http://127.0.0.1:%d" % hang, closed="127.0.0.1:%d" % closed.getsockname()[1])
        yield target.port, names, squid_log, peers.no_such_name()
    peers.set_proxy(prefix)


@pytest.mark.parametrize("label, settings, tunnelled, milliseconds", ROUTES, ids=[r[0] for r in ROUTES])
def test_route(prefix, route_peers, label, settings, tunnelled, milliseconds):
    port, names, squid_log, (resolver, asked) = route_peers
    peers.set_proxy(prefix, **{k: v.format(**names) if isinstance(v, str) else v for k, v in settings.items()})
    work, seen = peers.fresh(peers.built("tests", "route-run")), len(squid_log())
    prefix.kill()  # the wineserver starts where this run does (private_resolver)
    printed, taken, _ = check(prefix, work, ["https://localhost:%d/body" % port],
                              resolver if settings.get("detect") else None)[-1]
    assert printed == "ok" and int(taken) in milliseconds
    tunnel = r"TCP_TUNNEL/200 \d+ CONNECT localhost:%d " % port
    assert bool(peers.wait_until(lambda: re.search(tunnel, squid_log()[seen:]), 5 * tunnelled)) == tunnelled
    assert not settings.get("detect") or any(b"\x04wpad" in name for name in asked)
