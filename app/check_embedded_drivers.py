#!/usr/bin/env python3
"""Fails unless the program's "DATA" resources carry exactly the driver builds given.
Usage: check_embedded_drivers.py PROGRAM.exe ID=FILE.sys ..."""
import struct
import sys


def resources(path):
    d = open(path, "rb").read()
    pe = struct.unpack_from("<I", d, 0x3C)[0]
    sections = struct.unpack_from("<H", d, pe + 6)[0]
    optional_size = struct.unpack_from("<H", d, pe + 20)[0]
    opt = pe + 24
    is64 = struct.unpack_from("<H", d, opt)[0] == 0x20B
    rsrc_rva = struct.unpack_from("<I", d, opt + (112 if is64 else 96) + 16)[0]
    table = [struct.unpack_from("<IIII", d, opt + optional_size + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for vsize, va, rsize, raw in table:
            if va <= rva < va + max(vsize, rsize):
                return rva - va + raw
        raise SystemExit("%s: resource address 0x%x outside every section" % (path, rva))

    base = offset(rsrc_rva)

    def name(value):
        if value & 0x80000000:
            o = base + (value & 0x7FFFFFFF)
            n = struct.unpack_from("<H", d, o)[0]
            return d[o + 2:o + 2 + 2 * n].decode("utf-16le")
        return value

    found = {}

    def walk(o, path):
        named, ids = struct.unpack_from("<HH", d, o + 12)
        for i in range(named + ids):
            n, v = struct.unpack_from("<II", d, o + 16 + 8 * i)
            if v & 0x80000000:
                walk(base + (v & 0x7FFFFFFF), path + [name(n)])
            else:
                rva, size = struct.unpack_from("<II", d, base + v)
                found[tuple(path)] = d[offset(rva):offset(rva) + size]

    walk(base, [])
    return found


def main():
    found = resources(sys.argv[1])
    failed = False
    for item in sys.argv[2:]:
        number, driver = item.split("=", 1)
        expected = open(driver, "rb").read()
        embedded = found.get(("DATA", int(number)))
        if embedded != expected:
            print("%s: DATA %s does not hold %s" % (sys.argv[1], number, driver), file=sys.stderr)
            failed = True
    sys.exit(1 if failed else 0)


main()
