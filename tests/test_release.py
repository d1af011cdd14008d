# The release build, built twice from this tree in fresh folders, the second
# time signed with a throwaway key: what a release must be, which nothing at
# run time under Wine shows.
import os
import re
import subprocess

import peers
import pefile

# The loader's known DLLs on Windows 7 and later; anything else is delay-loaded,
# so a DLL planted beside the installer is never loaded at its start. COM's
# ole32 and oleaut32 are known too, but delay-loaded all the same.
KNOWN = set("advapi32 comdlg32 gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz nsi "
            "ntdll psapi rpcrt4 sechost setupapi shell32 shlwapi user32 wldap32 ws2_32".split())
# Shell metacharacters: the password must reach osslsigncode verbatim, and no log.
PASSWORD = "it's $HOME; \"quoted\" `x`"
PUBLISHER = "CN=Velnor release check, O=Velnor, C=CN"


def build(folder, env):
    """The release preset built in folder: its build log (commands echoed)."""
    subprocess.run(["cmake", "-S", peers.ROOT, "-B", folder, "--preset", "release",
                    "-DVELNOR_DIST_DIR=" + folder + "/dist",
                    "-DVELNOR_SETUP_PUBLISHER=" + PUBLISHER], env=env, check=True, stdout=subprocess.DEVNULL,
                   timeout=300)
    run = subprocess.run(["cmake", "--build", folder, "-j2", "-v"], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, timeout=600)
    log = run.stdout.decode(errors="replace")
    assert run.returncode == 0, log[-4000:]
    return log


def test_release_build():
    # A throwaway code-signing key in sign.p12 under PASSWORD; its CA in certificates.pem.
    certificates, key = peers.code_signer(peers.built("release-check", "key"), "Velnor release", "Velnor")
    keys = os.path.dirname(key)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", certificates, "-out", "sign.p12",
                    "-passout", "env:PASSWORD"], cwd=keys, env=dict(os.environ, PASSWORD=PASSWORD),
                   check=True, capture_output=True, timeout=60)
    # Whoever runs the tests may have a key of their own set.
    unsigned_env = {k: v for k, v in os.environ.items() if not k.startswith("VELNOR_SIGN_")}
    signed_env = dict(unsigned_env, VELNOR_SIGN_PKCS12=keys + "/sign.p12", VELNOR_SIGN_PASSWORD=PASSWORD)
    first, second = (peers.fresh(peers.built("release-check", n)) for n in "12")
    build(first, unsigned_env)
    log = build(second, signed_env)
    assert PASSWORD not in log

    program = open(first + "/dist/velnor-installer.exe", "rb").read()
    signed = second + "/dist/velnor-installer.exe"
    check = subprocess.run(["osslsigncode", "verify", "-in", signed, "-CAfile", keys + "/certificates.pem"],
                           capture_output=True, text=True, timeout=60)
    assert check.returncode == 0 and re.search(r"digest algorithm\s*: SHA256", check.stdout), check.stdout
    # Signing rewrites the header's checksum and certificate-table entry and
    # appends the table, 8-byte aligned; remove-signature clears the entry,
    # cuts the table off and recomputes the checksum. That gives back the very
    # bytes only because the linker writes the true checksum (not 0) and ends
    # the file on its 512-byte alignment, so that signing pads nothing.
    subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", second + "/stripped.exe"],
                   check=True, stdout=subprocess.DEVNULL, timeout=60)
    # Reproducible, and the signature undone without a trace.
    assert open(second + "/stripped.exe", "rb").read() == program
    # The budget, signature included; scripts/bench.sh size shows where the bytes go.
    assert os.path.getsize(signed) <= 768 * 1024, os.path.getsize(signed)

    # A key that cannot be used fails the build and leaves no release behind.
    run = subprocess.run(["cmake", "--build", second, "--target", "dist"], capture_output=True, timeout=300,
                         env=dict(signed_env, VELNOR_SIGN_PASSWORD="wrong"))
    assert run.returncode != 0 and not os.path.exists(signed)

    pe = pefile.PE(data=program)
    # High-entropy addresses (0x20), dynamic base (0x40), DEP (0x100); no link time stamp.
    assert (pe.OPTIONAL_HEADER.DllCharacteristics & 0x160, pe.FILE_HEADER.TimeDateStamp) == (0x160, 0)
    assert {entry.dll.decode().lower()[:-4] for entry in pe.DIRECTORY_ENTRY_IMPORT} <= KNOWN
    manifest = next(kind.directory.entries[0].directory.entries[0].data.struct
                    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == 24)
    text = pe.get_data(manifest.OffsetToData, manifest.Size).decode()
    assert 'level="requireAdministrator"' in text and "dpiAware" not in text
    assert PUBLISHER.encode("utf-16-le") in program  # the setup program's signer is checked
