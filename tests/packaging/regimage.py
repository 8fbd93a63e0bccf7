#!/usr/bin/env python3
"""The control's registry image in a Wine prefix, read from the prefix's own files
(system.reg: HKEY_LOCAL_MACHINE, user.reg: HKEY_CURRENT_USER) after its wineserver has
stopped. One line per key and per value, sorted:
    HKLM\\Software\\Classes\\CLSID\\{...}\\InprocServer32
    HKLM\\Software\\Classes\\CLSID\\{...}\\InprocServer32 @ = "C:\\Program Files\\..."

  regimage.py PREFIX [--machine]      keys that belong to the control (ids, ProgID, type
                                      library, interfaces, the browser's per-site keys) and the
                                      script-safety categories' descriptions (--machine:
                                      HKEY_LOCAL_MACHINE only)
  regimage.py PREFIX --leftovers      every key or value that names the control or the product
                                      (with --product-code / --upgrade-code), categories excluded

Wine writes a registered type library's paths with the \\\\?\\ prefix of a long path; Windows
writes the plain path, as the MSI does: the prefix is dropped here.
"""
import argparse
import os
import re
import sys

OURS = [
    "{75614F24-3276-4CE9-A2C8-72A811129FDF}",  # the control's class
    "{F124E7BF-3C68-4AFC-B779-E244DB192CE7}",  # its property page
    "{D9ADED16-3956-4DF7-A3B6-AAFB2C08E79A}",  # the type library
    "{B6930C7C-3620-40CC-9DE9-5DADC05D490E}",  # _DTarnwick
    "{A712BE60-1606-48D4-83A3-2D00B16EC560}",  # _DTarnwickEvents
    "TARNWICK.",                               # the ProgID
]
CATEGORIES = [
    "Component Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}",
    "Component Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}",
]


def unescape(text):
    return re.sub(r"\\(.)", lambda m: m.group(1), text)


def parse(path, hive):
    """{key: {value name: value text}} of a Wine registry file."""
    keys = {}
    current = None
    pending = ""
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            line = pending + raw.rstrip("\n")
            if line.endswith("\\") and not line.endswith("\\\\"):
                pending = line[:-1]
                continue
            pending = ""
            if line.startswith("["):
                m = re.match(r"^\[(.*)\](?: \d+)?$", line)
                current = hive + "\\" + unescape(m.group(1)) if m else None
                if current is not None:
                    keys.setdefault(current, {})
            elif current is not None and line and not line.startswith("#") and not line.startswith(";"):
                m = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
                if m:
                    name = "@" if m.group(1) == "@" else unescape(m.group(1)[1:-1])
                    keys[current][name] = m.group(2)
    return keys


def normalise(value):
    return value.replace("\\\\\\\\?\\\\", "")  # "\\?\" as it stands in a .reg value


def lines_for(keys, wanted):
    out = []
    for key in sorted(keys, key=str.lower):
        if not wanted(key):
            continue
        out.append(key)
        for name in sorted(keys[key], key=str.lower):
            out.append("%s %s = %s" % (key, name, normalise(keys[key][name])))
    return out


def main():
    p = argparse.ArgumentParser()
    p.add_argument("prefix")
    p.add_argument("--leftovers", action="store_true")
    p.add_argument("--machine", action="store_true", help="HKEY_LOCAL_MACHINE only")
    p.add_argument("--product-code", action="append", default=[])
    p.add_argument("--upgrade-code", action="append", default=[])
    args = p.parse_args()
    keys = {}
    keys.update(parse(os.path.join(args.prefix, "system.reg"), "HKLM"))
    if not args.machine:
        keys.update(parse(os.path.join(args.prefix, "user.reg"), "HKCU"))
    lowered = [o.lower() for o in OURS]
    if args.leftovers:
        # GUIDs as Windows Installer packs them too (each group reversed), and bare.
        names = list(lowered) + ["tarnwick"]
        for guid in args.product_code + args.upgrade_code:
            g = guid.strip("{}").upper()
            parts = g.split("-")
            packed = parts[0][::-1] + parts[1][::-1] + parts[2][::-1] + "".join(
                parts[3][i:i + 2][::-1] for i in range(0, 4, 2)) + "".join(
                parts[4][i:i + 2][::-1] for i in range(0, 12, 2))
            names += [g.lower(), packed.lower()]

        def wanted(key):
            k = key.lower()
            if any(c.lower() in k for c in CATEGORIES):
                return False
            return any(n in k for n in names) or any(
                any(n in (name + "=" + v).lower() for n in names) for name, v in keys[key].items())
    else:
        def wanted(key):
            k = key.lower()
            return any(o in k for o in lowered) or any(c.lower() in k for c in CATEGORIES)
    for line in lines_for(keys, wanted):
        print(line)


if __name__ == "__main__":
    sys.exit(main())
