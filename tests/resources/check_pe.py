"""Checks a program whose resources were rewritten against the original:
it parses with no warnings, its checksum holds (where set), its relocations
are the original's, and its resources are the original's but for one, whose
data are the original's repeated.

Usage: check_pe.py ORIGINAL NEW TYPE NAME LANGUAGE TIMES  (a type or name
by its id in decimal, or by its name)
"""
import sys

import pefile


def resources(pe):
    found = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                d = lang.data.struct
                key = (str(t.name) if t.name else str(t.id), str(n.name) if n.name else str(n.id), lang.id)
                found[key] = pe.get_data(d.OffsetToData, d.Size)
    return found


def relocations(pe):
    return [(b.struct.VirtualAddress, [e.rva for e in b.entries]) for b in pe.DIRECTORY_ENTRY_BASERELOC]


def main(original, new, rtype, name, lang, times):
    old, pe = pefile.PE(original), pefile.PE(new)
    problems = ["pefile: " + w for w in pe.get_warnings()]
    if pe.OPTIONAL_HEADER.CheckSum != 0 and not pe.verify_checksum():
        problems.append("checksum %#x, should be %#x" % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()))
    if relocations(pe) != relocations(old):
        problems.append("the relocations differ")
    expected = resources(old)
    grown = (rtype, name, int(lang))
    if grown not in expected:
        problems.append("no resource %r in the original" % (grown,))
    else:
        expected[grown] *= int(times)
    got = resources(pe)
    for key in sorted(set(expected) | set(got), key=str):
        if expected.get(key) != got.get(key):
            problems.append("resource %r: %s bytes, expected %s" % (
                key, len(got.get(key, b"")), len(expected.get(key, b""))))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
