# A download broken off and resumed: nginx serves the setup program on the fixed origin through a
# relay that breaks the connection, and its access log shows what was asked and answered.
import os
import pathlib

import peers
import pytest
from peers import RELEASE_URL, built

HALF, REQUEST = 1 << 19, "GET /velnor-video/release HTTP/1.1|VelnorInstaller/1.0|"
# The relay's cuts (bytes to the client, by connection), the file replaced before the
# resume, the outcome, the resume's line in nginx's log, the connections made.
CASES = [("reset at half, a whole install", [HALF], False, "ok", "206|bytes={n}-|{etag}|bytes {n}-{last}/{size}", 2),
         ("the file replaced before the resume", [HALF], True, "ok", "200|bytes={n}-|{etag}|", 2),
         ("reset at half, every resume refused", [HALF] + [0] * 9, False, "download incomplete", None, 6),
         ("reset before the 200", [8192], False, "WinHttpReceiveResponse failed", None, 1)]


@pytest.mark.parametrize("case, cuts, replace, outcome, resumed, connections", CASES, ids=[c[0] for c in CASES])
def test_resume(prefix, cert, real_setup, case, cuts, replace, outcome, resumed, connections):
    work, (program, payload, installed) = peers.fresh(built("tests", "resume")), real_setup
    served = pathlib.Path(peers.fresh(work + "/nginx/www/velnor-video"), "release")
    served.write_bytes(program)
    etag = '"%x-%x"' % (int(served.stat().st_mtime), len(program))  # nginx's: modification time and size
    replacement = program + bytes(4096) if replace else program  # another size: another ETag
    folder = peers.fresh(work + "/run")
    with peers.nginx(work + "/nginx", cert) as (port, log), peers.relay(
            port, cuts=cuts, before_reset=lambda: replace and served.write_bytes(replacement)) as (_, sent):
        if case.endswith("a whole install"):  # started, the setup program unpacks its payload
            run = peers.Run(prefix, built("velnor-installer.exe"), folder)
            result = "ok" if run.wait(90) == 0 and os.path.exists(installed + "/payload.bin") else "not started"
            saved = installed + "/payload.bin"
        else:
            prefix.launch([built("tests", "download_check.exe"), RELEASE_URL], folder + "/out", cwd=folder).wait(90)
            result, saved = open(folder + "/out").read().split("\t")[0], folder + "/file1.bin"
        peers.wait_until(lambda: len(log()) > bool(resumed), 10)
    assert (result, len(sent), sent[0]) == (outcome, connections, cuts[0])
    n = int(log()[-1].split("|")[3][len("bytes="):-1]) if resumed else 0
    resume = [REQUEST + resumed.format(n=n, etag=etag, last=len(program) - 1, size=len(program))] if resumed else []
    assert log() == [REQUEST + "200|||"] + resume
    # Written before the break: the cut less the handshake, the headers and a part-read TLS record.
    assert not resumed or HALF - (64 << 10) < n < HALF
    whole = payload if case.endswith("a whole install") else replacement
    assert pathlib.Path(saved).read_bytes() == whole if outcome == "ok" else not os.path.exists(saved)
