"""Starting and stopping the peers of a TLS test run: certificates, the
shared TLS server (tls_server.py) and the test CA trusted in one Wine prefix.

Used by the drivers of the downloader's Wine tests and benchmark. Every wait
is bounded; servers end with the `with` block that started them (and by
their own --timeout if the driver itself is killed).
"""

import fcntl
import hashlib
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def windows_path(path):
    """The Z: path under which a Wine program sees a host path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class _Lock:
    """An exclusive flock on `path` (held by parallel drivers in turn)."""

    def __init__(self, path):
        self.path = path

    def __enter__(self):
        self.file = open(self.path, "w")
        fcntl.flock(self.file, fcntl.LOCK_EX)
        return self

    def __exit__(self, *exc):
        self.file.close()


def make_certs(out_dir):
    """Makes the test certificates in `out_dir` once (make_certs.sh); later
    runs reuse them, so a CA trusted earlier stays the right one."""
    os.makedirs(out_dir, exist_ok=True)
    with _Lock(os.path.join(out_dir, ".lock")):
        done = os.path.join(out_dir, ".made")
        if not os.path.exists(done):
            subprocess.run(["bash", os.path.join(HERE, "make_certs.sh"), out_dir],
                           check=True, timeout=120)
            open(done, "w").close()
    return out_dir


def trust_ca(wine_run, prefix, trust_exe, ca_der):
    """Trusts `ca_der` in the Wine prefix `prefix` only, once per CA: a marker
    named after the certificate's hash records that it was done."""
    with open(ca_der, "rb") as der:
        digest = hashlib.sha256(der.read()).hexdigest()[:16]
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
    with _Lock(os.path.abspath(prefix) + ".trust.lock"):
        marker = os.path.join(prefix, ".velnor-trusted-" + digest)
        if os.path.exists(marker):
            return
        env = dict(os.environ, VELNOR_WINEPREFIX=prefix)
        subprocess.run(["timeout", "-k", "5", "180", wine_run, trust_exe, windows_path(ca_der)],
                       env=env, check=True)
        open(marker, "w").close()


class TlsServer:
    """tls_server.py with one certificate on `ports` ephemeral ports of
    127.0.0.1; `.ports` lists them once the server is up."""

    def __init__(self, cert, key, ports=1, log=None, timeout=600, script=None):
        self.work = tempfile.mkdtemp(prefix="velnor-tls-")
        self.port_file = os.path.join(self.work, "ports")
        command = [sys.executable, script or os.path.join(HERE, "tls_server.py"),
                   "--cert", cert, "--key", key, "--ports", str(ports),
                   "--port-file", self.port_file, "--timeout", str(timeout)]
        if log:
            command += ["--log", log]
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        self.ports = self._wait_for_ports(ports)

    def _wait_for_ports(self, count):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                self.stop()
                raise RuntimeError("tls_server.py ended with %d" % self.process.returncode)
            if os.path.exists(self.port_file):
                with open(self.port_file, encoding="ascii") as lines:
                    ports = [int(line) for line in lines if line.strip()]
                if len(ports) == count:
                    return ports
            time.sleep(0.05)
        self.stop()
        raise RuntimeError("tls_server.py did not report its ports within 30 s")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=5)
        for name in os.listdir(self.work):
            os.remove(os.path.join(self.work, name))
        os.rmdir(self.work)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
