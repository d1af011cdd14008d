#!/usr/bin/env python3
"""Prints where the bytes of a PE file go: its sections, its resources one by
one, and (given the linker's map file) which libraries the code and constant
data come from.

Usage: size_report.py <program.exe> [<linker map>]
"""

import re
import struct
import sys
from collections import defaultdict

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


def origin_of(path):
    name = path.replace("\\", "/")
    for marker, label in (("libstdc++", "C++ library (libstdc++)"),
                          ("libgcc", "compiler runtime (libgcc)"),
                          ("libwinpthread", "threads runtime (winpthread)"),
                          ("libmingwex", "MinGW runtime (mingwex, crt)"),
                          ("libmingw32", "MinGW runtime (mingwex, crt)"),
                          ("libmsvcrt", "MinGW runtime (mingwex, crt)"),
                          ("crt", "MinGW runtime (mingwex, crt)")):
        if marker in name:
            return label
    match = re.search(r"(?:^|/)(app|install|net|softwarelist|common|resources)/", name)
    if match:
        return "our code: " + match.group(1) + "/"
    if name.endswith(".a") or ".a(" in name:
        return "import and other libraries"
    return "other objects"


def map_contributions(map_text):
    """Sums the input sections of .text and .rdata in a GNU ld map by origin."""
    totals = {".text": defaultdict(int), ".rdata": defaultdict(int)}
    pending = None
    in_map = False
    for line in map_text.splitlines():
        if line.startswith("Linker script and memory map"):
            in_map = True
            continue
        if not in_map:
            continue
        match = re.match(r"^ (\.text|\.rdata)(\S*)\s*$", line)
        if match:
            pending = match.group(1)
            continue
        match = re.match(r"^ (\.text|\.rdata)(\S*)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if match:
            totals[match.group(1)][origin_of(match.group(4))] += int(match.group(3), 16)
            pending = None
            continue
        match = re.match(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if pending and match:
            totals[pending][origin_of(match.group(2))] += int(match.group(1), 16)
        pending = None
    return totals


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    data = open(sys.argv[1], "rb").read()
    sections, headers = read_sections(data)
    print(f"{sys.argv[1]}: {len(data):,} bytes ({len(data) / 1048576:.2f} MB, budget 1.50 MB)")
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
        totals = map_contributions(open(sys.argv[2], errors="replace").read())
        for section, by_origin in totals.items():
            print(f"{section} by origin (linker map):")
            for origin, size in sorted(by_origin.items(), key=lambda kv: -kv[1]):
                print(f"  {origin:<34}{size:>10,}")


if __name__ == "__main__":
    main()
