"""The peers of velnor-installer.exe under Wine, for the tests, the
demonstration and the window benchmark: a private Xvfb display, a Wine prefix
of the build folder, an HTTPS server on 127.0.0.1 and the installer run in a
folder of its own. Every wait is bounded."""

import http.server
import os
import select
import shutil
import ssl
import subprocess
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(ROOT, "cmake", "wine-run.sh")
BUILD = os.environ.get("VELNOR_BUILD") or os.path.join(ROOT, "build", "windows")
PORT = 8443  # the download origin of the windows preset
RELEASE_URL = "https://localhost:8443/velnor-video/release"
SUPPORT_PAGE = "https://localhost:8444"
SAVE_NAME = "velnor-setup.exe"
WEBVIEW2 = (r"HKLM\SOFTWARE\WOW6432Node\Microsoft\EdgeUpdate\Clients"
            r"\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}")
SCREEN = (1920, 1080)
ORIGIN = ((SCREEN[0] - 560) // 2, (SCREEN[1] - 310) // 2)  # the centred window


class Failure(Exception):
    """A peer did not start or a wait ran out."""


def log(message):
    print("[%s] %s" % (time.strftime("%H:%M:%S"), message), flush=True)


def wait_until(predicate, timeout, interval=0.1):
    """predicate's first true value, or its last value after timeout seconds."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()) and time.monotonic() < deadline:
        time.sleep(interval)
    return value


def built(*parts):
    """A path in the windows build folder."""
    return os.path.join(BUILD, *parts)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def start_display():
    """Xvfb on a display number of its own choice: (process, ":N")."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % SCREEN,
                             "-nolisten", "tcp", "-br"], pass_fds=(write,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""  # written in pieces: the pipe stays open until the newline
    while not number.endswith(b"\n") and select.select([read], [], [], 15)[0]:
        number += os.read(read, 16) or b"\n"
    os.close(read)
    if not number.strip():
        xvfb.kill()
        raise Failure("Xvfb did not start")
    return xvfb, ":" + number.decode().strip()


def screenshot(env, path, crop=None):
    """The X screen (or its crop x, y, w, h) saved as the PNG path, opened with Pillow."""
    from PIL import Image
    grab = ["import", "-window", "root"]
    if crop:
        grab += ["-crop", "%dx%d+%d+%d" % (crop[2], crop[3], crop[0], crop[1]), "+repage"]
    subprocess.run(grab + [path], env=env, check=True, timeout=30)
    return Image.open(path).convert("RGB")


class Prefix:
    """A Wine prefix that cmake/wine-run.sh makes once, used with one display;
    prepare() trusts the CA in it only and sets the stand-in browser."""

    def __init__(self, path, display=None, user=None):
        self.path = path
        self.env = dict(os.environ, VELNOR_WINEPREFIX=path, WINEPREFIX=path, WINEDEBUG="-all")
        self.env.pop("DISPLAY", None)
        self.env.update({"DISPLAY": display} if display else {})
        self.env.update({"USER": user} if user else {})
        self.browser_log = os.path.join(path, "browser.log")

    def wine(self, *command, timeout=120, env=None, cwd=None):
        # Output through files: a wineserver started by the command would
        # keep a pipe open until it exits.
        with tempfile.TemporaryFile() as out:
            proc = subprocess.Popen([WINE_RUN, *command], env=env or self.env, cwd=cwd,
                                    stdout=out, stderr=subprocess.STDOUT)
            try:
                proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                raise Failure("%s still ran after %d s" % (command[0], timeout))
            out.seek(0)
            return proc.returncode, out.read().decode("utf-8", "replace")

    def launch(self, command, output, env=None, cwd=None):
        with open(output, "wb") as out:
            return subprocess.Popen([WINE_RUN, *command], env=env or self.env, cwd=cwd,
                                    stdout=out, stderr=subprocess.STDOUT)

    def kill(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL, timeout=60)

    def prepare(self, ca_pem, settings=None):
        """A new wineserver on this display; ca_pem trusted; the stand-in
        browser, unmanaged windows and the registry settings given."""
        self.kill()
        der = os.path.join(os.path.dirname(self.path), "test-ca.der")
        with open(der, "wb") as out:
            out.write(ssl.PEM_cert_to_DER_cert(ca_pem.decode()))
        if self.wine(built("tests", "velnor_trust_ca.exe"), windows_path(der))[0] != 0:
            raise Failure("the test CA could not be trusted")
        browser = self.path + "-browser.sh"
        with open(browser, "w") as script:
            script.write("#!/bin/sh\nprintf '%%s\\n' \"$1\" >>'%s'\n" % self.browser_log)
        os.chmod(browser, 0o755)
        # Without a window manager Wine waits 2 s on every hide of a managed window.
        self.registry({r"HKCU\Software\Wine\WineBrowser": {"Browsers": browser},
                       r"HKCU\Software\Wine\X11 Driver": {"Managed": "N"}, **(settings or {})})

    def registry(self, keys):
        """Sets {key: {name: text}}; a key mapped to None is deleted."""
        full = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}
        lines = ["REGEDIT4", ""]
        for key, values in keys.items():
            key = full[key[:4]] + key[4:]
            lines += ["[%s%s]" % ("" if values else "-", key)]
            lines += ['"%s"="%s"' % (n, v.replace("\\", "\\\\")) for n, v in (values or {}).items()]
            lines += [""]
        path = self.path + "-settings.reg"
        with open(path, "w", encoding="ascii", newline="\r\n") as out:
            out.write("\n".join(lines))
        if self.wine("reg", "import", windows_path(path))[0] != 0:
            raise Failure("reg import failed")

    def profile(self):
        users = os.path.join(self.path, "drive_c", "users")
        return os.path.join(users, next(n for n in sorted(os.listdir(users)) if n != "Public"))


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        server = self.server.owner
        server.requests.append((self.requestline, self.headers.get("User-Agent", "")))
        route = server.routes.get(self.path.split("?")[0])
        if route is None:
            reply(self, 404)
        else:
            route(self)


class _Listener(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, address):
        pass  # clients that refuse the certificate or hang up are what tests make


def reply(handler, status, body=b"", headers=(), chunked=False, rate=0, stall=0.0, events=None):
    """Answers with status and body: chunked (no Content-Length), at rate
    bytes per second, or half the body then stall seconds of silence;
    events (a dict) gets the times of "body-start" and "body-end"."""
    handler.send_response(status)
    for name, value in headers:
        handler.send_header(name, value)
    handler.send_header(*("Transfer-Encoding", "chunked") if chunked else
                        ("Content-Length", str(len(body))))
    handler.end_headers()
    handler.wfile.flush()
    events = {} if events is None else events
    events["body-start"] = time.time()
    step = max(1, rate // 20) if rate else 1 << 16
    for at in range(0, len(body) // 2 if stall else len(body), step):
        piece = body[at:at + step]
        handler.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece) if chunked else piece)
        handler.wfile.flush()
        if rate:
            time.sleep(len(piece) / rate)
    handler.wfile.write(b"0\r\n\r\n" if chunked else b"")
    handler.wfile.flush()
    time.sleep(stall)
    handler.close_connection = bool(stall)
    events["body-end"] = time.time()


class Server:
    """HTTPS on 127.0.0.1 with one certificate, on `port` (0: any free one);
    routes maps a path (without its query) to a function of the request
    handler; `requests` lists (request line, User-Agent) in order."""

    def __init__(self, cert, routes, port=0, requests=None, wait=120):
        self.routes, self.requests = routes, [] if requests is None else requests
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        cert.configure_cert(context)
        # Other build folders use the same fixed port: take turns for a while.
        deadline = time.monotonic() + wait
        while True:
            try:
                self.listener = _Listener(("127.0.0.1", port), _Handler)
                break
            except OSError as error:
                if time.monotonic() > deadline:
                    raise Failure("port %d stays taken: %s" % (port, error))
                time.sleep(0.5)
        self.listener.owner = self
        # The handshake runs on the first read, in the request's own thread.
        self.listener.socket = context.wrap_socket(self.listener.socket, server_side=True,
                                                   do_handshake_on_connect=False)
        self.port = self.listener.server_port
        threading.Thread(target=self.listener.serve_forever, daemon=True).start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.listener.shutdown()
        self.listener.server_close()


def installer_routes(payload, events, status=200, rate=0):
    """The installer's two channel paths, answered with payload (bytes)."""
    serve = lambda h: reply(h, status, payload if status == 200 else b"", rate=rate, events=events)
    return {"/velnor-video/win7": serve, "/velnor-video/release": serve}


def fresh(path):
    """path as a new empty folder."""
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def padded_payload(program, size):
    """The program followed by zeros up to size bytes: the loader ignores them."""
    with open(program, "rb") as data:
        content = data.read()
    return content + b"\0" * max(0, size - len(content))


class Run:
    """velnor-installer.exe started from workdir (its current directory)."""

    def __init__(self, prefix, installer, workdir, env=None, extra=()):
        os.makedirs(workdir, exist_ok=True)
        self.prefix, self.workdir = prefix, workdir
        for path in (installer, *extra):
            shutil.copy(path, workdir)
        open(prefix.browser_log, "w").close()
        self.proc = prefix.launch([self.path(os.path.basename(installer))],
                                  self.path("installer.out"), dict(prefix.env, **(env or {})),
                                  cwd=workdir)

    def path(self, name):
        return os.path.join(self.workdir, name)

    def wait(self, timeout=60):
        """The exit code; None when the installer still ran (then every
        process of the prefix is ended)."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.prefix.kill()
            self.proc.wait(30)
            return None

    def browser(self):
        with open(self.prefix.browser_log, encoding="utf-8") as lines:
            return lines.read().split()

    def setup_log(self):
        """The stand-in setup program's "key<TAB>value" lines; {} when it never ran."""
        if not os.path.exists(self.path("setup.log")):
            return {}
        with open(self.path("setup.log"), encoding="utf-8") as lines:
            return dict(line.rstrip("\n").partition("\t")[::2] for line in lines)
