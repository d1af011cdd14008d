"""The release build, built twice from this tree in fresh folders: what a
release must be and nothing at run time under Wine shows."""

import shutil
import subprocess

import harness
import pefile
import pytest

# The loader's known DLLs on Windows 7 and later; anything else is delay-loaded.
KNOWN = set("advapi32 comdlg32 gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz nsi ole32 "
            "oleaut32 psapi rpcrt4 sechost setupapi shell32 shlwapi user32 wldap32 ws2_32 "
            "ntdll".split())


@pytest.fixture(scope="module")
def builds():
    scratch = harness.built("release-check")
    shutil.rmtree(scratch, ignore_errors=True)
    programs = []
    for n in (1, 2):
        build, dist = "%s/build%d" % (scratch, n), "%s/dist%d" % (scratch, n)
        subprocess.run(["cmake", "-S", harness.ROOT, "-B", build, "--preset", "release",
                        "-DVELNOR_DIST_DIR=" + dist], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", build, "-j2"], check=True, stdout=subprocess.DEVNULL)
        with open(dist + "/velnor-installer.exe", "rb") as program:
            programs.append(program.read())
    return programs


def test_reproducible_hardened_small(builds):
    assert builds[0] == builds[1]
    pe = pefile.PE(data=builds[0])
    # High-entropy addresses (0x20), dynamic base (0x40), DEP (0x100).
    assert pe.OPTIONAL_HEADER.DllCharacteristics & 0x160 == 0x160
    assert pe.FILE_HEADER.TimeDateStamp == 0
    assert len(builds[0]) < 1572864


def test_static_imports_are_known_dlls(builds):
    """A DLL planted beside the installer is then never loaded at its start."""
    pe = pefile.PE(data=builds[0])
    assert {entry.dll.decode().lower()[:-4] for entry in pe.DIRECTORY_ENTRY_IMPORT} <= KNOWN


def test_manifest_and_version_record(builds):
    pe = pefile.PE(data=builds[0])
    manifest = next(kind.directory.entries[0].directory.entries[0].data.struct
                    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == 24)
    text = pe.get_data(manifest.OffsetToData, manifest.Size).decode()
    assert 'level="requireAdministrator"' in text and "dpiAware" not in text
    fixed = pe.VS_FIXEDFILEINFO[0]
    assert (fixed.FileVersionMS, fixed.FileVersionLS) == ((1 << 16) | 3, 1 << 16)
    strings = next(table.entries for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
                   for table in info.StringTable if table.LangID == b"080404b0")
    assert strings[b"ProductName"].decode() == "velnor 视频格式转换器"
    assert strings[b"FileVersion"] == b"1.3.1"
