#!/usr/bin/env python3
"""DLL planting: marker DLLs named like system DLLs lie beside the installer
while it runs end to end (a download that succeeds and one that fails, with
the browser and the box), and none may be loaded by the installer.

Wine prefers its own builtin DLLs, so the run tells Wine to prefer a native
DLL of each planted name wherever the search finds one: that is how Windows
treats them. A control program that loads the same names unprotected shows
that the markers are found when the search is not limited.

Takes the end-to-end driver's arguments (e2e.py) and the group "planting";
VELNOR_PLANTED_DIR names the folder with the marker DLLs and the control.
"""

import glob
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e  # noqa: E402  the end-to-end harness, its server and its probes

PLANTED_DIR = os.environ.get("VELNOR_PLANTED_DIR", "")
# Names Wine itself reaches from the program's folder whatever the program
# does, so a planted copy is loaded (and, exporting nothing, ends the run):
# Wine resolves the imports of its own known DLLs at start, of DLLs that its
# libraries load by full path, and its libraries' delay imports with the
# program's folder first. Windows
# takes neither path. They are not planted; the import-table check of the
# release covers the program's own imports.
WINE_ONLY = {
    "version": "Wine's user32 imports it at start",
    "crypt32": "Wine's TLS loads rsaenh.dll by full path, which imports it",
    "propsys": "Wine's GDI+ decodes PNG through windowscodecs.dll, which imports it",
    "secur32": "Wine's WinHTTP delay-imports it for TLS, without the search limit",
    "iphlpapi": "Wine's network libraries delay-import it, without the search limit",
    "dnsapi": "Wine's network libraries delay-import it, without the search limit",
}


def all_marker_names():
    return sorted(os.path.basename(p)[:-4] for p in glob.glob(os.path.join(PLANTED_DIR, "*.dll")))


def planted_names():
    return [n for n in all_marker_names() if n not in WINE_ONLY]


def native_first_env(suite):
    overrides = "mscoree,mshtml=;" + ",".join(planted_names()) + "=n,b"
    return {"WINEDLLOVERRIDES": overrides}


def plant(work):
    for name in planted_names():
        shutil.copy(os.path.join(PLANTED_DIR, name + ".dll"), work)


def loads_by(work, program):
    """The planted DLLs that `program` (a file name) loaded."""
    loaded = []
    for marker in sorted(glob.glob(os.path.join(work, "*.dll.loaded"))):
        with open(marker, encoding="utf-8", errors="replace") as lines:
            if any(line.strip().lower().endswith("\\" + program) for line in lines):
                loaded.append(os.path.basename(marker)[:-len(".dll.loaded")])
    return loaded


def check_no_planted_load(suite, run, work):
    suite.check(loads_by(work, "velnor-installer.exe") == [],
                "the installer loaded none of the %d planted DLLs" % len(planted_names()),
                loads_by(work, "velnor-installer.exe"))
    others = sorted(os.path.basename(m) for m in glob.glob(os.path.join(work, "*.loaded")))
    if others:
        e2e.log("  (other processes loaded: %s)" % ", ".join(others))


@e2e.scenario("planting")
def planting_control(suite):
    """Unprotected loads of the same names find the planted markers."""
    for name, why in sorted(WINE_ONLY.items()):
        e2e.log("  not planted: %s.dll (%s)" % (name, why))
    work = suite.workdir("planting-control")
    plant(work)
    shutil.copy(os.path.join(PLANTED_DIR, "planting-control.exe"), work)
    names = planted_names()
    env = dict(suite.env, **native_first_env(suite))
    result = suite.wine(os.path.join(work, "planting-control.exe"), *[n + ".dll" for n in names],
                        env=env, check=False, timeout=120)
    loaded = loads_by(work, "planting-control.exe")
    suite.check(result.returncode == 0 and loaded == names,
                "the control loaded every planted DLL from its own folder",
                sorted(set(names) - set(loaded)))


@e2e.scenario("planting")
def planting_success(suite):
    suite.configure(version="win10", pv_machine="1.2.3.4")
    work = suite.workdir("planting-success")
    plant(work)
    run = e2e.run_installer(suite, work, e2e.Server(suite, suite.args.setup),
                            env=native_first_env(suite))
    e2e.check_clean_success(suite, run, e2e.RELEASE_URL)
    check_no_planted_load(suite, run, work)


@e2e.scenario("planting")
def planting_download_failure(suite):
    """The failure path loads more: the shell opens the browser, a box shows."""
    suite.configure(version="win10", pv_machine=None)
    work = suite.workdir("planting-download-failure")
    plant(work)

    def during(run):
        suite.answer_box("ok")
        e2e.wait_until(lambda: len(suite.browser()) >= 2, 10)
        time.sleep(0.5)
        suite.click(*e2e.CLOSE_BOX_CENTRE)

    run = e2e.run_installer(suite, work, e2e.Server(suite, suite.args.setup, mode="404"),
                            env=native_first_env(suite), during=during)
    suite.check(run.code == 0 and len(run.browser) == 2,
                "the download failed, the browser opened twice and the installer ended",
                (run.code, run.browser))
    check_no_planted_load(suite, run, work)


if __name__ == "__main__":
    if not all_marker_names():
        sys.exit("VELNOR_PLANTED_DIR holds no marker DLLs")
    sys.exit(e2e.main())
