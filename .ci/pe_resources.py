#!/usr/bin/env python3
"""Checks the resources of a PE file (DLL or EXE) built for the host.

Usage: pe_resources.py FILE --version A.B.C.D --string ID=TEXT [--description]

Verifies that the file has a version resource whose fixed file version is
A.B.C.D, whose first translation names a string block with a non-empty
FileDescription (with --description), and that string ID of its string
table equals TEXT byte for byte. Exits non-zero with a message otherwise.
"""
import argparse
import struct
import sys

RT_STRING = 6
RT_VERSION = 16


class PeError(Exception):
    pass


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("not an MZ executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        nsect = struct.unpack_from("<H", data, pe + 6)[0]
        optsize = struct.unpack_from("<H", data, pe + 20)[0]
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        ddir = opt + (96 if magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", data, ddir + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(nsect):
            s = opt + optsize + 40 * i
            vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((vaddr, max(vsize, rawsize), rawptr, rawsize))

    def offset(self, rva):
        for vaddr, size, rawptr, rawsize in self.sections:
            if vaddr <= rva < vaddr + size:
                if rva - vaddr >= rawsize:
                    raise PeError("RVA 0x%x lies in uninitialised data" % rva)
                return rawptr + rva - vaddr
        raise PeError("RVA 0x%x outside every section" % rva)

    def resource(self, type_id, name_id):
        """Data of the first language of resource type_id/name_id, or None."""
        rva, size = self.dirs[2]
        if rva == 0:
            return None
        base = self.offset(rva)

        def entries(off):
            named, ids = struct.unpack_from("<HH", self.data, base + off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + off + 16 + 8 * i)
                yield name, target

        def find(off, want):
            for name, target in entries(off):
                if not name & 0x80000000 and (want is None or name == want):
                    return target
            return None

        level = find(0, type_id)
        if level is None or not level & 0x80000000:
            return None
        level = find(level & 0x7FFFFFFF, name_id)
        if level is None or not level & 0x80000000:
            return None
        leaf = find(level & 0x7FFFFFFF, None)
        if leaf is None or leaf & 0x80000000:
            return None
        data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
        start = self.offset(data_rva)
        return self.data[start:start + data_size]


def string_from_table(pe, string_id):
    block = pe.resource(RT_STRING, string_id // 16 + 1)
    if block is None:
        return None
    pos = 0
    for index in range(16):
        n = struct.unpack_from("<H", block, pos)[0]
        text = block[pos + 2:pos + 2 + 2 * n].decode("utf-16-le")
        if index == string_id % 16:
            return text if n else None
        pos += 2 + 2 * n
    return None


def parse_version_node(buf, pos):
    """One VS_VERSIONINFO-style node: (key, value bytes, value type, children, end)."""
    length, value_len, value_type = struct.unpack_from("<HHH", buf, pos)
    end = pos + length
    key_start = pos + 6
    key_end = key_start
    while buf[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = buf[key_start:key_end].decode("utf-16-le")
    cur = (key_end + 2 + 3) & ~3
    value_bytes = value_len * 2 if value_type == 1 else value_len
    value = buf[cur:cur + value_bytes]
    cur = (cur + value_bytes + 3) & ~3
    children = []
    while cur < end:
        child = parse_version_node(buf, cur)
        children.append(child)
        cur = (child[4] + 3) & ~3
    return key, value, value_type, children, end


def check(path, version, strings, want_description):
    with open(path, "rb") as f:
        pe = Pe(f.read())
    problems = []

    info = pe.resource(RT_VERSION, 1)
    if info is None:
        problems.append("no version resource")
    else:
        key, value, _, children, _ = parse_version_node(info, 0)
        if key != "VS_VERSION_INFO" or len(value) < 52:
            problems.append("malformed version resource")
        else:
            sig, _, ms, ls = struct.unpack_from("<IIII", value, 0)
            got = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
            if sig != 0xFEEF04BD:
                problems.append("fixed file info signature 0x%08X" % sig)
            if version and got != version:
                problems.append("file version %s, expected %s" % (got, version))
            print("%s: file version %s" % (path, got))
        translation = None
        tables = {}
        for ckey, cvalue, _, cchildren, _ in children:
            if ckey == "VarFileInfo":
                for vkey, vvalue, _, _, _ in cchildren:
                    if vkey == "Translation" and len(vvalue) >= 4:
                        lang, cp = struct.unpack_from("<HH", vvalue, 0)
                        translation = "%04x%04x" % (lang, cp)
            elif ckey == "StringFileInfo":
                for tkey, _, _, tchildren, _ in cchildren:
                    tables[tkey.lower()] = {
                        s[0]: s[1].decode("utf-16-le").rstrip("\0") for s in tchildren}
        if want_description:
            if translation is None:
                problems.append("no \\VarFileInfo\\Translation")
            elif translation not in tables:
                problems.append("no string block %s for the first translation" % translation)
            else:
                desc = tables[translation].get("FileDescription", "")
                if not desc:
                    problems.append("empty FileDescription")
                else:
                    print("%s: FileDescription %r (translation %s)" % (path, desc, translation))

    for string_id, text in strings:
        got = string_from_table(pe, string_id)
        if got is None:
            problems.append("string %d missing" % string_id)
        elif got != text:
            problems.append("string %d is %r, expected %r" % (string_id, got, text))
        else:
            print("%s: string %d present (%d characters)" % (path, string_id, len(got)))

    for p in problems:
        print("%s: %s" % (path, p), file=sys.stderr)
    return not problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("file")
    ap.add_argument("--version")
    ap.add_argument("--description", action="store_true")
    ap.add_argument("--string", action="append", default=[], metavar="ID=TEXT")
    args = ap.parse_args()
    strings = []
    for s in args.string:
        i, _, t = s.partition("=")
        strings.append((int(i), t))
    try:
        ok = check(args.file, args.version, strings, args.description)
    except (PeError, struct.error, UnicodeDecodeError) as e:
        print("%s: %s" % (args.file, e), file=sys.stderr)
        ok = False
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
