#!/usr/bin/env python3
"""What a Windows module says about itself: its machine, its version block and the names it
exports, read straight from the PE file (no Windows needed). Prints JSON.
  peinfo.py FILE"""
import json
import struct
import sys


def sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("not a PE file")
    machine, count = struct.unpack_from("<HH", data, pe + 4)
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    table = optional + optional_size
    found = []
    for i in range(count):
        name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        found.append((vaddr, max(vsize, rsize), raddr))
    dirs = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
    return machine, magic, found, dirs


def offset_of(rva, found):
    for vaddr, size, raddr in found:
        if vaddr <= rva < vaddr + size:
            return rva - vaddr + raddr
    raise ValueError("rva %x outside every section" % rva)


def exports(data, found, dirs):
    rva, size = dirs[0]
    if not rva:
        return []
    at = offset_of(rva, found)
    count_names, names_rva = struct.unpack_from("<I", data, at + 24)[0], struct.unpack_from("<I", data, at + 32)[0]
    out = []
    for i in range(count_names):
        name_rva = struct.unpack_from("<I", data, offset_of(names_rva, found) + 4 * i)[0]
        start = offset_of(name_rva, found)
        out.append(data[start:data.index(b"\0", start)].decode("ascii"))
    return out


def version_block(data):
    key = "VS_VERSION_INFO".encode("utf-16-le")
    at = data.find(key)
    if at < 0:
        return None
    start = at - 6
    length = struct.unpack_from("<H", data, start)[0]
    block = data[start:start + length]

    def align(n):
        return (n + 3) & ~3

    def walk(offset, end, path, out):
        while offset + 6 <= end:
            w_length, w_value_length, w_type = struct.unpack_from("<HHH", block, offset)
            if w_length == 0:
                break
            k = offset + 6
            k_end = k
            while block[k_end:k_end + 2] != b"\0\0":
                k_end += 2
            name = block[k:k_end].decode("utf-16-le")
            value_at = align(k_end + 2)
            if name == "VS_VERSION_INFO":
                fixed = struct.unpack_from("<13I", block, value_at)
                out["fixed"] = {
                    "file": "%d.%d.%d.%d" % (fixed[2] >> 16, fixed[2] & 0xFFFF, fixed[3] >> 16, fixed[3] & 0xFFFF),
                    "product": "%d.%d.%d.%d" % (fixed[4] >> 16, fixed[4] & 0xFFFF, fixed[5] >> 16, fixed[5] & 0xFFFF),
                }
                walk(align(value_at + w_value_length), offset + w_length, path + [name], out)
            elif name in ("StringFileInfo", "VarFileInfo") or (path and path[-1] == "StringFileInfo"):
                walk(value_at, offset + w_length, path + [name], out)
            elif path and len(path) >= 2 and path[-2] == "StringFileInfo":
                text = block[value_at:value_at + 2 * w_value_length].decode("utf-16-le").rstrip("\0")
                out.setdefault("strings", {})[name] = text
            offset = align(offset + w_length)

    out = {}
    walk(0, len(block), [], out)
    return out


def main():
    data = open(sys.argv[1], "rb").read()
    machine, magic, found, dirs = sections(data)
    info = {
        "machine": {0x14C: "i386", 0x8664: "amd64"}.get(machine, hex(machine)),
        "pe32plus": magic == 0x20B,
        "exports": exports(data, found, dirs),
        "version": version_block(data),
    }
    json.dump(info, sys.stdout, indent=1, sort_keys=True)
    print()


if __name__ == "__main__":
    main()
