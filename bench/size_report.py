#!/usr/bin/env python3
"""Prints where the bytes of a PE file go: its sections, its resources one by
one, and (given the linker's map file) which libraries the code and constant
data come from, and which of our object files pulled in which parts of the C
runtime.

Usage: size_report.py <program.exe> [<linker map>]
"""

import re
import struct
import sys
from collections import defaultdict

BUDGET = 768 * 1024

RESOURCE_TYPES = {1: "cursor", 2: "bitmap", 3: "icon", 4: "menu", 5: "dialog", 6: "string",
                  10: "rcdata", 12: "cursor group", 14: "icon group", 16: "version",
                  24: "manifest"}


def read_sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("not a PE file")
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    sections = []
    for i in range(count):
        name, vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        sections.append((name.rstrip(b"\0").decode(), vaddr, vsize, raw_ptr, raw_size))
    headers = sections[0][3] if sections else len(data)
    return sections, headers


def signature_size(data):
    """The size of the certificate table (the Authenticode signature) after the image; 0 unsigned."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    pe32_plus = struct.unpack_from("<H", data, pe + 24)[0] == 0x20B
    security_entry = pe + 24 + (112 if pe32_plus else 96) + 8 * 4
    return struct.unpack_from("<I", data, security_entry + 4)[0]


def read_resources(data, rsrc):
    """Yields (type, id, size) for every resource in the .rsrc section."""
    _, base_rva, _, base_ptr, _ = rsrc

    def entries(offset):
        named, numbered = struct.unpack_from("<HH", data, base_ptr + offset + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", data, base_ptr + offset + 16 + 8 * i)
            yield ident, target

    def name_of(ident):
        if ident & 0x80000000:
            at = base_ptr + (ident & 0x7FFFFFFF)
            length = struct.unpack_from("<H", data, at)[0]
            return data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        return ident

    for type_id, type_dir in entries(0):
        for res_id, res_dir in entries(type_dir & 0x7FFFFFFF):
            for _, leaf in entries(res_dir & 0x7FFFFFFF):
                _, size = struct.unpack_from("<II", data, base_ptr + leaf)
                kind = name_of(type_id)
                yield RESOURCE_TYPES.get(kind, kind), name_of(res_id), size


def our_folder(path):
    """The source folder of one of our object files ("net/"), or None for anything else.
    Our libraries are libvelnor_*.a in their folder's build directory; the program's own
    objects and the app/ library sit in the top one."""
    name = path.replace("\\", "/")
    if not re.search(r"(?:^|/)(libvelnor_\w+\.a\(|CMakeFiles/velnor-installer\.dir/)", name):
        return None
    match = re.match(r"\.\./(\w+)/", name)
    return (match.group(1) if match else "app") + "/"


def is_crt(path):
    """The C runtime: MinGW's start-up objects, libmingw32, libmingwex and libmsvcrt (its
    own code and the stubs of its msvcrt.dll imports)."""
    name = path.replace("\\", "/")
    return bool(re.search(r"/(libmingw32|libmingwex|libmsvcrt)\.a\(|/crt2\w*\.o$", name))


def origin_of(path):
    if our_folder(path):
        return "our code: " + our_folder(path)
    name = path.replace("\\", "/")
    if is_crt(name):
        return "MinGW runtime (mingwex, crt)"
    for marker, label in (("libstdc++", "C++ library (libstdc++)"),
                          ("libgcc", "compiler runtime (libgcc)"),
                          ("/crtbegin.o", "compiler runtime (libgcc)"),
                          ("/crtend.o", "compiler runtime (libgcc)"),
                          ("libwinpthread", "threads runtime (winpthread)")):
        if marker in name:
            return label
    if name.endswith(".a") or ".a(" in name:
        return "import and other libraries"
    return "other objects"


def input_sections(map_text):
    """Yields (output section, input file, bytes) for every input section of the image in a
    GNU ld map: the debug sections (stripped) left out."""
    output, pending = None, False
    for line in map_text.split("Linker script and memory map", 1)[-1].splitlines():
        if re.match(r"^\.\S+", line):
            output = None if re.match(r"\.z?debug|\.stab", line) else line.split()[0]
            continue
        # An input section's name, its address, its size and its file; a long name
        # puts the rest on the next line.
        match = re.match(r"^ \S+\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if not match and pending:
            match = re.match(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        pending = bool(re.match(r"^ \S+\s*$", line))
        if match and output:
            yield output, match.group(2), int(match.group(1), 16)


def map_contributions(map_text):
    """Sums the input sections of .text and .rdata by origin."""
    totals = {".text": defaultdict(int), ".rdata": defaultdict(int)}
    for output, path, size in input_sections(map_text):
        if output in totals:
            totals[output][origin_of(path)] += size
    return totals


def image_bytes_by_file(map_text):
    """Bytes of each input file in the image (.bss has none in the file)."""
    sizes = defaultdict(int)
    for output, path, size in input_sections(map_text):
        sizes[path] += size if output != ".bss" else 0
    return sizes


def archive_members(map_text):
    """The map's "Archive member included to satisfy reference by file (symbol)" table:
    {member: (the file that referred to it first, the symbol)}."""
    members, member = {}, None
    for line in map_text.splitlines()[1:]:
        if line.startswith(("Discarded input sections", "Memory Configuration")):
            break
        if not line.strip():
            continue
        if not line.startswith(" "):
            # A short member name shares its line with the reference.
            member, _, line = line.partition("  ")
            if not line.strip():
                continue
        match = re.match(r"^(\S+) \((.*)\)$", line.strip())
        if member and match:
            members[member] = (match.group(1), match.group(2))
        member = None
    return members


def short_name(path):
    """A file of the map without its directories or the archive's name repeated in its
    members' names: "libmingwex.a(mingw_pformat.o)", "net/download.cpp.obj"."""
    if our_folder(path):
        return our_folder(path) + re.sub(r".*\(|\)$", "", path)
    name = path.replace("\\", "/").rsplit("/", 1)[-1]
    return re.sub(r"\(lib64_lib\w+?_a-|\(libmsvcrt_\w+?_a-|\(\w+_delay_a_", "(", name)


def crt_by_cause(map_text):
    """The C runtime's members in the image, grouped by what pulled them in: the chain of
    first references is followed back out of the C runtime, through any other library,
    to the first of our object files; without one on the chain the cause is the start-up
    code or the library it ends in. {(our code's or not, cause): [(member, bytes)]}. The map names one
    reference per member, the first the linker met: remove that one and the next is named."""
    members, sizes = archive_members(map_text), image_bytes_by_file(map_text)
    groups = defaultdict(list)
    for member in members:
        if not is_crt(member):
            continue
        at, via, seen = member, None, set()
        while at in members and not our_folder(at) and at not in seen:
            seen.add(at)
            referrer, symbol = members[at]
            if not is_crt(referrer) and not our_folder(referrer) and via is None:
                via = referrer  # the library that called into the C runtime for us
            at = referrer
            cause = "%s (%s)" % (short_name(at), symbol)
        if our_folder(at):
            cause = (True, cause + (" via " + short_name(via) if via else ""))
        else:
            cause = (False, "start-up code" if is_crt(at) else short_name(at))
        groups[cause].append((member, sizes[member]))
    # The start-up objects are named on the command line, not taken from an archive.
    groups[False, "start-up code"] += [(path, size) for path, size in sizes.items()
                                       if is_crt(path) and path not in members]
    return groups


def print_crt(map_text):
    groups = crt_by_cause(map_text)
    is_import = lambda member: "libmsvcrt_def" in member  # a stub of an msvcrt.dll import
    total = lambda group: sum(size for _, size in group)
    print("C runtime (libmingw32, libmingwex, libmsvcrt, start-up objects): %s bytes in the image"
          % f"{total([m for g in groups.values() for m in g]):,}")
    code = {cause: [(m, s) for m, s in group if not is_import(m)] for cause, group in groups.items()}
    code = sorted(((c, g) for c, g in code.items() if g), key=lambda kv: -total(kv[1]))
    print("  pulled in by our code (the first reference, and the library it went through):")
    for (ours, cause), group in code:
        if ours:
            print(f"  {total(group):>10,}  {cause}")
            for member, size in sorted(group, key=lambda ms: -ms[1]):
                print(f"  {'':>10}  {size:>8,}  {short_name(member)}")
    for (ours, cause), group in code:
        if not ours:
            print(f"  {total(group):>10,}  pulled in by {cause}")
    stubs = [(m, s) for group in groups.values() for m, s in group if is_import(m)]
    print(f"  {total(stubs):>10,}  msvcrt.dll imports: {len(stubs)} stubs")


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    data = open(sys.argv[1], "rb").read()
    sections, headers = read_sections(data)
    margin = (f"{BUDGET - len(data):,} bytes to spare" if len(data) <= BUDGET
              else f"{len(data) - BUDGET:,} bytes over")
    print(f"{sys.argv[1]}: {len(data):,} bytes ({len(data) / 1024:,.0f} KiB; budget {BUDGET // 1024} KiB"
          f" = {BUDGET:,} bytes: {margin})")
    print(f"  {'headers':<12}{headers:>10,}")
    for name, _, vsize, _, raw_size in sections:
        print(f"  {name:<12}{raw_size:>10,}   ({vsize:,} in memory)")
    if signature_size(data):
        print(f"  {'signature':<12}{signature_size(data):>10,}")

    rsrc = next((s for s in sections if s[0] == ".rsrc"), None)
    if rsrc:
        print("resources:")
        for kind, ident, size in sorted(read_resources(data, rsrc), key=lambda r: -r[2]):
            label = f"{kind} {ident}"
            print(f"  {label:<22}{size:>10,}")

    if len(sys.argv) == 3:
        map_text = open(sys.argv[2], errors="replace").read()
        totals = map_contributions(map_text)
        for section, by_origin in totals.items():
            print(f"{section} by origin (linker map):")
            for origin, size in sorted(by_origin.items(), key=lambda kv: -kv[1]):
                print(f"  {origin:<34}{size:>10,}")
        print_crt(map_text)


if __name__ == "__main__":
    main()
