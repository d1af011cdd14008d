# The release build, built twice from this tree in fresh folders: what a
# release must be, which nothing at run time under Wine shows.
import subprocess

import harness
import pefile

# The loader's known DLLs on Windows 7 and later; anything else is delay-loaded,
# so a DLL planted beside the installer is never loaded at its start. COM's
# ole32 and oleaut32 are known too, but delay-loaded all the same.
KNOWN = set("advapi32 comdlg32 gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz nsi "
            "psapi rpcrt4 sechost setupapi shell32 shlwapi user32 wldap32 ws2_32".split())


def test_release_build():
    programs = []
    for n in "12":
        build = harness.fresh(harness.built("release-check", n))
        subprocess.run(["cmake", "-S", harness.ROOT, "-B", build, "--preset", "release",
                        "-DVELNOR_DIST_DIR=" + build + "/dist"], check=True, stdout=subprocess.DEVNULL, timeout=300)
        subprocess.run(["cmake", "--build", build, "-j2"], check=True, stdout=subprocess.DEVNULL, timeout=600)
        programs.append(open(build + "/dist/velnor-installer.exe", "rb").read())
    assert programs[0] == programs[1] and len(programs[0]) < 1572864
    pe = pefile.PE(data=programs[0])
    # High-entropy addresses (0x20), dynamic base (0x40), DEP (0x100); no link time stamp.
    assert (pe.OPTIONAL_HEADER.DllCharacteristics & 0x160, pe.FILE_HEADER.TimeDateStamp) == (0x160, 0)
    assert {entry.dll.decode().lower()[:-4] for entry in pe.DIRECTORY_ENTRY_IMPORT} <= KNOWN
    manifest = next(kind.directory.entries[0].directory.entries[0].data.struct
                    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == 24)
    text = pe.get_data(manifest.OffsetToData, manifest.Size).decode()
    assert 'level="requireAdministrator"' in text and "dpiAware" not in text
