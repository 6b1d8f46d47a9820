#!/usr/bin/env python3
"""Checks the version resource of a Windows image without running it.

    check_version.py FILE VERSION COMPANY

Reads the VS_VERSIONINFO tree from the file's resource section (located by
its key, then walked by its lengths): the fixed file and product versions and
the strings CompanyName, FileVersion, ProductVersion and ProductName of every
string table. Prints what it found; exits 1 on a mismatch.
"""
import struct
import sys

SIGNATURE = 0xFEEF04BD


def align4(n):
    return (n + 3) & ~3


def read_node(data, offset):
    """One node of the tree: (key, value, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_end = data.index(b"\0\0", offset + 6)
    while (key_end - offset) % 2:  # the terminator starts on a character
        key_end = data.index(b"\0\0", key_end + 1)
    key = data[offset + 6:key_end].decode("utf-16-le")
    value_start = align4(key_end + 2)
    size = value_length * 2 if kind == 1 else value_length
    value = data[value_start:value_start + size]
    if kind == 1:
        value = value.decode("utf-16-le").split("\0")[0]
    children = []
    child = align4(value_start + size)
    while child + 6 <= end:
        node = read_node(data, child)
        if node[3] <= child:
            break
        children.append(node)
        child = align4(node[3])
    return key, value, children, end


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: check_version.py FILE VERSION COMPANY")
    path, version, company = sys.argv[1:]
    data = open(path, "rb").read()
    key = "VS_VERSION_INFO".encode("utf-16-le")
    at = data.find(key)
    if at < 6:
        sys.exit("check-version: %s: no version resource" % path)
    root_key, fixed, children, _ = read_node(data, at - 6)
    problems = []
    sig, _, fms, fls, pms, pls = struct.unpack_from("<6I", fixed)
    if sig != SIGNATURE:
        sys.exit("check-version: %s: no fixed file information" % path)

    def text(ms, ls):
        return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    found = {"fixed FileVersion": text(fms, fls), "fixed ProductVersion": text(pms, pls)}
    for child in children:
        if child[0] != "StringFileInfo":
            continue
        for table in child[2]:
            for entry in table[2]:
                found[entry[0]] = entry[1]
    want = {"fixed FileVersion": version, "fixed ProductVersion": version,
            "FileVersion": version, "ProductVersion": version, "CompanyName": company}
    for name, value in want.items():
        if found.get(name) != value:
            problems.append("%s is %r, expected %r" % (name, found.get(name), value))
    if not found.get("ProductName"):
        problems.append("no ProductName")
    if problems:
        sys.exit("check-version: %s: %s" % (path, "; ".join(problems)))
    print("check-version: %s ok (%s)" % (path, ", ".join(
        "%s=%s" % (k, found[k]) for k in ("FileVersion", "ProductName", "CompanyName"))))


if __name__ == "__main__":
    main()
