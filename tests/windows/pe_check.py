#!/usr/bin/env python3
"""Checks Windows programs from their PE headers: the subsystem (GUI or console) and that the
resource section holds an icon and version information.
Usage: pe_check.py gui|console PROGRAM.exe ..."""
import struct
import sys

SUBSYSTEMS = {"gui": 2, "console": 3}
RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16


def resource_types(data, rsrc_offset):
    _, _, _, _, named, ids = struct.unpack_from("<IIHHHH", data, rsrc_offset)
    types = set()
    for i in range(named + ids):
        name, _ = struct.unpack_from("<II", data, rsrc_offset + 16 + 8 * i)
        if not name & 0x80000000:
            types.add(name)
    return types


def check(path, expected):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return f"{path}: not a PE file"
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x20B:
        return f"{path}: not a 64-bit program"
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    problems = []
    if subsystem != SUBSYSTEMS[expected]:
        problems.append(f"subsystem {subsystem}, expected {SUBSYSTEMS[expected]} ({expected})")
    rsrc_rva = struct.unpack_from("<I", data, optional + 112 + 2 * 8)[0]
    table = optional + optional_size
    types = set()
    for i in range(sections):
        _, _, vaddr, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if rsrc_rva and vaddr <= rsrc_rva < vaddr + raw_size:
            types = resource_types(data, raw_ptr + rsrc_rva - vaddr)
    for kind, name in ((RT_ICON, "icon"), (RT_GROUP_ICON, "icon group"), (RT_VERSION, "version")):
        if kind not in types:
            problems.append(f"no {name} resource")
    return f"{path}: " + "; ".join(problems) if problems else None


def main():
    expected, programs = sys.argv[1], sys.argv[2:]
    failures = [p for p in (check(path, expected) for path in programs) if p]
    for failure in failures:
        print(failure)
    for path in programs:
        if not any(f.startswith(f"{path}:") for f in failures):
            print(f"{path}: {expected} program with icon and version information")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
