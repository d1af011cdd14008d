# The peers of velnor-installer.exe under Wine, which the demonstration, the
# benchmarks and the tests share: a private Xvfb display, a Wine prefix of the
# build folder, an HTTPS server on 127.0.0.1, nginx and a relay that breaks its
# connections, a resolver that knows no name, signed programs, the installer
# run from a folder of its own. Every wait is bounded.
import argparse
import contextlib
import fcntl
import hashlib
import http.server
import os
import pathlib
import re
import select
import shutil
import socket
import ssl
import struct
import subprocess
import tempfile
import termios
import threading
import time

import trustme

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VELNOR_BUILD") or os.path.join(ROOT, "build", "windows")
PORT, RELEASE_URL = 8443, "https://localhost:8443/velnor-video/release"  # the windows preset's
SAVE_NAME = "velnor-setup.exe"
PUBLISHER = ("Velnor 测试发行者", "Velnor")  # CN and O of the windows preset's publisher
WIN10_WITH_WEBVIEW2 = {r"HKCU\Software\Wine": {"Version": "win10"}, r"HKLM\SOFTWARE\WOW6432Node"
                       r"\Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}": {"pv": "1.2.3.4"}}
ORIGIN = ((1920 - 560) // 2, (1080 - 310) // 2)  # the window, centred on the screen


def wait_until(predicate, timeout, interval=0.1):
    """predicate's first true value, or its last one after timeout seconds."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()) and time.monotonic() < deadline:
        time.sleep(interval)
    return value


def built(*parts):
    return os.path.join(BUILD, *parts)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def fresh(path):
    os.unlink(path) if os.path.islink(path) else shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def start_display():
    """Xvfb on a free display: (process, ":N")."""
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
                             "-br"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    number = xvfb.stdout.readline().strip()  # or nothing, when Xvfb ends without a display
    if not number:
        raise RuntimeError("Xvfb did not start")
    return xvfb, ":" + number.decode()


class Prefix:
    """A Wine prefix that cmake/wine-run.sh makes once, used on one display."""

    def __init__(self, path, display=None, user=None):
        self.path, self.browser_log = path, path + "-browser.log"
        # Without the Unix http_proxy family: WinHTTP's default access type follows it.
        self.env = {k: v for k, v in os.environ.items() if not re.fullmatch(r"(?i)(http|https|no|all)_proxy", k)}
        self.env.update(VELNOR_WINEPREFIX=path, WINEPREFIX=path, WINEDEBUG="-all")
        self.env.update({k: v for k, v in (("DISPLAY", display), ("USER", user)) if v})

    def launch(self, command, output, env=None, cwd=None):
        # Output to a file: a wineserver that the command starts would keep a pipe open.
        with open(output, "wb") as out:
            return subprocess.Popen([os.path.join(ROOT, "cmake", "wine-run.sh"), *command],
                                    env=env or self.env, cwd=cwd, stdout=out, stderr=out)

    def wine(self, *command, timeout=120, cwd=None):
        """Runs a program to its end: (exit code, output)."""
        with tempfile.NamedTemporaryFile() as out:
            proc = self.launch(command, out.name, cwd=cwd)
            try:
                return proc.wait(timeout), open(out.name, encoding="utf-8", errors="replace").read()
            except subprocess.TimeoutExpired:
                proc.kill()
                raise RuntimeError("%s still ran after %d s" % (command[0], timeout))

    def kill(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL, timeout=60)

    def prepare(self, ca_pem, settings={}):
        # A new wineserver on this display; ca_pem trusted in this prefix only; a browser that
        # logs its URLs; unmanaged windows (without a window manager, each hide waits 2 s).
        self.kill()
        browser = self.path + "-browser.sh"
        pathlib.Path(browser).write_text("#!/bin/sh\nprintf '%%s\\n' \"$1\" >>'%s'\n" % self.browser_log)
        os.chmod(browser, 0o755)
        ca = ssl.PEM_cert_to_DER_cert(ca_pem.decode())
        # Under its SHA-1, as a serialised store element: property 32 (the encoded
        # certificate), encoding 1 (X.509 ASN), length, bytes.
        root = r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\%s" % hashlib.sha1(ca).hexdigest().upper()
        for key, values in {root: {"Blob": struct.pack("<3I", 32, 1, len(ca)) + ca},
                            r"HKCU\Software\Wine\WineBrowser": {"Browsers": browser},
                            r"HKCU\Software\Wine\X11 Driver": {"Managed": "N"}, **settings}.items():
            self.set(key, values)

    def set(self, key, values):
        """Registry values under key: texts, or bytes as REG_BINARY."""
        for name, value in values.items():
            binary = isinstance(value, bytes)
            if self.wine("reg", "add", key, "/v", name, "/t", "REG_BINARY" if binary else "REG_SZ",
                         "/d", value.hex() if binary else value, "/f")[0]:
                raise RuntimeError("%s could not be set in %s" % (name, key))

    def profile(self):
        users = os.path.join(self.path, "drive_c", "users")
        return os.path.join(users, next(n for n in sorted(os.listdir(users)) if n != "Public"))


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        self.server.requests.append((self.requestline, self.headers.get("User-Agent", "")))
        # Through a proxy's tunnel the request line names the origin too (absolute form).
        path = re.sub(r"^https://[^/]*", "", self.path)
        self.server.routes.get(path, lambda handler: reply(handler, 404))(self)

    def log_message(self, *args):
        pass  # the requests are in server.requests


def reply(handler, status, body=b"", headers=(), length=True, rate=0, stall=0, hold=None):
    # With or without Content-Length (then the connection ends the body), at rate bytes per
    # second, or half the body then stall seconds of silence, or paused half-way until hold()
    # (60 s at most); the server's events get the times of "body-start", "silent" (all that
    # will be sent before the stall is out) and "body-end".
    handler.send_response(status)
    for header in [*headers, *[("Content-Length", str(len(body)))] * length]:
        handler.send_header(*header)
    handler.end_headers()
    events = handler.server.events
    start = events["body-start"] = time.time()
    step, view = max(1, rate // 20) if rate else 1 << 16, memoryview(body)
    for at in range(0, len(body) // 2 if stall else len(body), step):
        if hold and at >= len(body) // 2 > at - step:
            wait_until(hold, 60)
        handler.wfile.write(view[at:at + step])
        # Paced by the clock, so that the time spent writing counts too.
        time.sleep(max(0, start + (at + step) / rate - time.time()) if rate else 0)
    handler.wfile.flush()
    events["silent"] = time.time()
    time.sleep(stall)
    handler.close_connection, events["body-end"] = bool(stall) or not length, time.time()


class Server(http.server.ThreadingHTTPServer):
    # HTTPS on 127.0.0.1:port (0: any free one), plain HTTP without a cert, at most TLS
    # version tls_max when given; routes maps a path to a function of the request
    # handler; requests lists (request line, User-Agent); events, see reply().
    daemon_threads = True

    def __init__(self, cert, routes, port=0, tls_max=None):
        self.routes, self.requests, self.events = routes, [], {}
        # Other build folders use the same fixed port: take turns for a while.
        for attempt in range(240):
            try:
                super().__init__(("127.0.0.1", port), _Handler)
                break
            except OSError:
                time.sleep(0.5)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        if tls_max:  # OpenSSL offers TLS 1.1 and older only at security level 0
            context.set_ciphers("DEFAULT:@SECLEVEL=0")
            context.minimum_version, context.maximum_version = ssl.TLSVersion.TLSv1, tls_max
        if cert:
            cert.configure_cert(context)
            # The handshake runs on the first read, in the request's own thread.
            self.socket = context.wrap_socket(self.socket, server_side=True, do_handshake_on_connect=False)
        self.port = self.server_port
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def handle_error(self, request, address):
        pass  # clients that refuse the certificate or hang up are what the tests make

    def __exit__(self, *exc):
        self.shutdown()
        self.server_close()


def set_proxy(prefix, proxy="", bypass="", pac="", detect=False):
    """The user's proxy settings (Internet Options) in the prefix: a manual proxy with
    its bypass list, a PAC URL, auto-detection; none of them given: direct."""
    flags = 1 | 2 * bool(proxy) | 4 * bool(pac) | 8 * detect
    blob = struct.pack("<3I", 0x46, 1, flags) + b"".join(
        struct.pack("<I", len(text)) + text.encode() for text in (proxy, bypass, pac)) + bytes(32)
    prefix.set(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections",
               {"DefaultConnectionSettings": blob})


def no_such_name():
    """A DNS server answering every query "no such name", on port 53 of a loopback address of
    this process's own (other test runs hold theirs): (its address, the names asked)."""
    dns, asked = socket.socket(socket.AF_INET, socket.SOCK_DGRAM), []
    dns.bind(("127.%d.%d.%d" % tuple(os.getpid().to_bytes(3, "big")), 53))

    def answer():
        while True:
            query, peer = dns.recvfrom(512)
            end = query.index(b"\0", 12) + 5  # header and question only
            asked.append(query[12:end - 4])
            dns.sendto(query[:2] + b"\x81\x83\0\1" + bytes(6) + query[12:end], peer)
    threading.Thread(target=answer, daemon=True).start()
    return dns.getsockname()[0], asked


def private_resolver(folder, command, resolver):
    """command in namespaces of its own where the resolver is no_such_name()'s address and the
    host name has a domain: auto-detection then asks for wpad.corp.example.test there and
    nowhere else. Wine takes the domain from the wineserver's host name, so none may be
    running (Prefix.kill) when it starts."""
    pathlib.Path(folder, "resolv.conf").write_text("nameserver %s\n" % resolver)
    return ["unshare", "-m", "-u", "sh", "-c", 'mount --bind "$0" /etc/resolv.conf && '
            'hostname pc1.corp.example.test && exec "$@"', folder + "/resolv.conf", *command]


@contextlib.contextmanager
def nginx(folder, cert, rate=0):
    """nginx serving folder/www over TLS on a free port of 127.0.0.1, as this user, with all its
    files in folder, each connection at most rate bytes a second (0: no bound): (the port, a
    function giving the lines of its access log,
    "request|User-Agent|status|Range|If-Range|Content-Range", empty where there is none)."""
    with socket.socket() as probe:
        port = probe.bind(("127.0.0.1", 0)) or probe.getsockname()[1]
    cert.private_key_and_cert_chain_pem.write_to_path(folder + "/tls.pem")
    # One process: workers would drop to www-data. Paths are relative to folder.
    pathlib.Path(folder, "nginx.conf").write_text("\n".join([
        "daemon off;", "master_process off;", "pid nginx.pid;", "events {}", "http {",
        *("%s_temp_path %s;" % (kind, kind) for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi")),
        "log_format ranges escape=none '$request|$http_user_agent|$status|$http_range|$http_if_range|"
        "$sent_http_content_range';", "access_log access.log ranges;",
        "server { listen 127.0.0.1:%d ssl; ssl_certificate tls.pem; ssl_certificate_key tls.pem; root www;" % port,
        "limit_rate %d; }}" % rate]))
    server = subprocess.Popen(["nginx", "-c", folder + "/nginx.conf", "-p", folder, "-e", "error.log"])
    try:
        listening = lambda: socket.socket().connect_ex(("127.0.0.1", port)) == 0
        if not wait_until(lambda: server.poll() is not None or listening(), 30) or server.poll() is not None:
            raise RuntimeError("nginx did not start: " + pathlib.Path(folder, "error.log").read_text()[-2000:])
        yield port, lambda: pathlib.Path(folder, "access.log").read_text().splitlines()
    finally:
        server.terminate()
        server.wait(30)


def _bind(port):
    with contextlib.suppress(OSError):
        return socket.create_server(("127.0.0.1", port))


def _pass_on(client, upstream, limit, rate):
    """Bytes both ways between client and upstream until either ends or limit bytes have
    gone to the client, at most rate a second (0: no bound): their number."""
    with socket.create_connection(("127.0.0.1", upstream)) as server:
        start, count = time.monotonic(), 0
        while count < limit:
            for ready in select.select([client, server], [], [])[0]:
                if not (data := ready.recv(min(1 << 16, limit - count))):
                    return count
                (client if ready is server else server).sendall(data)
                count += len(data) if ready is server else 0
            time.sleep(max(0, start + count / rate - time.monotonic()) if rate else 0)
    return count


@contextlib.contextmanager
def relay(upstream, port=PORT, cuts=(), rate=0, before_reset=lambda: None):
    """TCP from 127.0.0.1:port (0: any free one) to 127.0.0.1:upstream, one connection at a
    time; the n-th is reset after cuts[n] bytes to the client (those beyond cuts are not),
    once before_reset() has returned: (the port, the bytes each connection gave the client)."""
    listener, sent = wait_until(lambda: _bind(port), 120, 0.5), []  # 8443: other build folders take turns
    if not listener:
        raise RuntimeError("127.0.0.1:%d stayed taken" % port)

    def serve():
        with contextlib.suppress(OSError):  # until the listener is closed
            while True:
                with listener.accept()[0] as client, contextlib.suppress(OSError):
                    limit = cuts[len(sent)] if len(sent) < len(cuts) else 1 << 62
                    sent.append(0)  # listed as it opens, counted once it ends
                    sent[-1] = _pass_on(client, upstream, limit, rate)
                    if sent[-1] == limit:  # delivered first: a reset drops what is still queued
                        unsent = lambda: struct.unpack("i", fcntl.ioctl(client, termios.TIOCOUTQ, bytes(4)))[0]
                        wait_until(lambda: unsent() == 0, 10, 0.01)
                        before_reset()
                        client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    threading.Thread(target=serve, daemon=True).start()
    try:
        yield listener.getsockname()[1], sent
    finally:
        listener.shutdown(socket.SHUT_RDWR)  # wakes accept(), which close() alone would not
        listener.close()


def bench_start(work):
    """A benchmark's command line (--build DIR of the windows preset, --rounds, --size), its CA,
    its prefix (DIR/wineprefix-bench, trusting the CA) and its fresh folder DIR/bench/work."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--size", type=int, default=200 * 1000 * 1000)
    args = parser.parse_args()
    global BUILD
    BUILD = os.path.abspath(args.build)
    ca = trustme.CA()
    prefix = Prefix(built("wineprefix-bench"))
    prefix.prepare(ca.cert_pem.bytes())
    return args, ca, prefix, fresh(built("bench", work))


def installer_routes(payload, rate=0, hold=None):
    serve = lambda h: reply(h, 200, payload, rate=rate, hold=hold)
    return {"/velnor-video/win7": serve, "/velnor-video/release": serve}


def padded_payload(program, size):
    """The program followed by zeros up to size bytes, which the loader ignores."""
    return open(program, "rb").read().ljust(size, b"\0")


def code_signer(folder, common_name, organization):
    """A throwaway CA and a code-signing certificate it issued for C=CN, O, CN (encoded
    in that order, which the system shows as "CN=..., O=..., C=CN"): the paths of
    (the certificate then the CA's, the key), in PEM."""
    folder = fresh(folder)
    new = lambda *args: subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-noenc", "-days", "30",
                                        "-utf8", *args], cwd=folder, check=True, capture_output=True, timeout=60)
    new("-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Velnor test code-signing CA")
    new("-keyout", "key.pem", "-out", "leaf.pem", "-subj", "/C=CN/O=%s/CN=%s" % (organization, common_name),
        "-CA", "ca.pem", "-CAkey", "ca.key", "-addext", "basicConstraints=critical,CA:FALSE",
        "-addext", "keyUsage=critical,digitalSignature", "-addext", "extendedKeyUsage=codeSigning")
    pathlib.Path(folder, "certificates.pem").write_bytes(b"".join(
        pathlib.Path(folder, name).read_bytes() for name in ("leaf.pem", "ca.pem")))
    return os.path.join(folder, "certificates.pem"), os.path.join(folder, "key.pem")


def signed(program, signer):
    """program (bytes) signed (Authenticode, SHA-256) by signer, a code_signer()."""
    with tempfile.TemporaryDirectory() as folder:
        unsigned, out = os.path.join(folder, "unsigned.exe"), os.path.join(folder, "signed.exe")
        open(unsigned, "wb").write(program)
        subprocess.run(["osslsigncode", "sign", "-certs", signer[0], "-key", signer[1], "-h", "sha256",
                        "-in", unsigned, "-out", out], check=True, stdout=subprocess.DEVNULL, timeout=60)
        return open(out, "rb").read()


class Run:
    """A copy of the installer, `extra` files beside it, started from workdir."""

    def __init__(self, prefix, installer, workdir, env={}, extra=()):
        self.prefix, self.workdir = prefix, workdir
        for path in (installer, *extra):
            shutil.copy(path, workdir)
        open(prefix.browser_log, "w").close()
        self.proc = prefix.launch([self.path(os.path.basename(installer))], self.path("out"),
                                  dict(prefix.env, **env), workdir)

    def path(self, name):
        return os.path.join(self.workdir, name)

    def wait(self, timeout=60):
        """The exit code, or None when it still ran (then the prefix's processes are ended)."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return self.prefix.kill()

    def browser(self):
        return open(self.prefix.browser_log, encoding="utf-8").read().split()

    def setup_log(self):
        """The stand-in setup program's "key<TAB>value" lines; {} when it never ran."""
        log = self.path("setup.log")
        lines = open(log, encoding="utf-8-sig").read().splitlines() if os.path.exists(log) else []
        return dict(line.split("\t", 1) for line in lines)
