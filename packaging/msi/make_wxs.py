#!/usr/bin/env python3
"""Writes the WiX source of the administrators' MSI, for wixl.

  make_wxs.py --arch x64|x86 --version-file VERSION --out FILE.wxs --sql-out FILE.sql [--msi-version V]

Run wixl on the result from the dist directory (it finds win32/... and win64/... there), then
the SQL on the package with msibuild -q (rows wixl cannot express).

x64: the package for 64-bit Windows. It installs both controls: the 64-bit one (64-bit hosts:
  Office, cscript/wscript) to [ProgramFiles64Folder]Tarnwick with its registration in the 64-bit
  registry view, the 32-bit one (IE-mode tabs) to [ProgramFilesFolder]Tarnwick with its
  registration in the 32-bit view.
x86: the package for 32-bit Windows: the 32-bit control only; it refuses to install on 64-bit
  Windows, where the x64 package belongs.

Both are per-machine and share one UpgradeCode, so a newer package of either kind replaces what
an older one installed. Registration is authored as Registry table rows that write exactly what
the control's DllRegisterServer writes under HKLM (tests/packaging/test-msi.sh compares the two
images under Wine); Windows Installer removes every row again on uninstall. Nothing runs the
modules' own code during installation.
"""
import argparse
import re
from xml.sax.saxutils import quoteattr

UPGRADE_CODE = "BE2E9457-69C6-4DDA-A2D0-BA353E8EAE58"
# Component GUIDs stay fixed for as long as each component keeps its file and its place.
COMPONENT_GUIDS = {
    ("x86", "control"): "79A5E2B4-2423-4132-8F9E-5AD1D7907E1C",
    ("x86", "zip"): "E19BEB76-7EE5-40C2-A2D9-BF2002246463",
    ("x86", "engine"): "E7DEE4F1-5942-42B7-84DC-657AA71AFB4D",
    ("x86", "categories"): "B92FC50D-3E70-437A-92A0-A977BEF383CA",
    ("x64", "control"): "F852992C-139E-4C49-A3AA-628A165D35BF",
    ("x64", "zip"): "CE2C6284-C128-4EAD-AC28-EDB92CFD85B6",
    ("x64", "engine"): "00294B05-766E-40BF-93C8-20E7E0159387",
    ("x64", "categories"): "E0A5F62C-E7DA-480D-9028-7021EA6559FE",
    ("x86", "notices"): "5D0C8F3A-2B71-4E96-9A0E-6C3F1B7D24E8",
    ("x64", "notices"): "A4E7B219-8C53-4F0D-B6A1-3E92D57C0F61",
}
# The license and the third-party notices, installed beside the modules of each architecture.
NOTICES = ("LICENSE", "THIRD-PARTY-NOTICES")

# What the control registers (src/control/Registration.cpp and the type library).
CLSID = "{75614F24-3276-4CE9-A2C8-72A811129FDF}"
PPG_CLSID = "{F124E7BF-3C68-4AFC-B779-E244DB192CE7}"
LIBID = "{D9ADED16-3956-4DF7-A3B6-AAFB2C08E79A}"
PROGID = "TARNWICK.TarnwickCtrl.1"
INTERFACES = [("{B6930C7C-3620-40CC-9DE9-5DADC05D490E}", "_DTarnwick"),
              ("{A712BE60-1606-48D4-83A3-2D00B16EC560}", "_DTarnwickEvents")]
PSOA = "{00020420-0000-0000-C000-000000000046}"  # the automation marshaler of dispinterfaces
CATID_SAFE_FOR_SCRIPTING = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}"
CATID_SAFE_FOR_INITIALIZING = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}"
MISC_STATUS = "132241"  # kControlMiscStatus
STATS = r"Software\Microsoft\Windows\CurrentVersion\Ext\Stats"

ENGINE = {"x86": "OVALON.x86.dll", "x64": "OVALON.x64.dll"}
DIST_DIR = {"x86": "win32", "x64": "win64"}
PROGRAM_FILES = {"x86": "ProgramFilesFolder", "x64": "ProgramFiles64Folder"}


def read_version(path):
    values = {}
    for line in open(path, encoding="utf-8"):
        m = re.match(r"^([A-Z_]+)=(.*)$", line.rstrip("\r\n"))
        if m:
            values[m.group(1)] = m.group(2)
    return values


def a(value):
    return quoteattr(value)


class Writer:
    def __init__(self):
        self.lines = []
        self.component = None

    def __call__(self, depth, text):
        self.lines.append("  " * depth + text)


def value(w, depth, root, key, val, name=None):
    attrs = "Root=%s Key=%s Type=\"string\" Value=%s" % (a(root), a(key), a(val))
    if name:
        attrs += " Name=%s" % a(name)
    w(depth, "<RegistryValue %s/>" % attrs)


# Rows wixl cannot author (it has no RegistryKey/@Action and no Component/@Permanent): SQL that
# tools/make-msi.sh runs on the built package with msibuild.
SQL = []
ROOTS = {"HKCR": 0, "HKCU": 1, "HKLM": 2}
KEY_ACTIONS = {"create": "+", "removeOnUninstall": "-"}


def sql_text(text):
    return "'" + text.replace("'", "''") + "'"


def key_only(w, depth, root, key, action):
    """A key without values: "+" creates it on install, "-" removes it with everything below it
    on uninstall (Registry table, Name column)."""
    component = w.component
    row = "key%d_%s" % (len(SQL), component)
    SQL.append("INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) "
               "VALUES (%s, %d, %s, %s, %s)" % (sql_text(row), ROOTS[root], sql_text(key),
                                                sql_text(KEY_ACTIONS[action]), sql_text(component)))


def control_registration(w, depth, arch, file_id, shares_typelib):
    """The rows of one architecture's registration (written in that architecture's view).
    On 64-bit Windows only CLSID and Interface have a 32-bit view of their own: the ProgID, the
    type library key and the category descriptions are one key for both. There (shares_typelib,
    the 32-bit control of the x64 package) the 64-bit registration owns them, and the 32-bit one
    adds its class, its interfaces, its win32 type library path and its browser keys, as
    regsvr32 of the 32-bit module after the 64-bit one leaves them (RegisterTypeLib keeps the
    HELPDIR it finds)."""
    path = "[#%s]" % file_id
    # The type library's HELPDIR is the module's directory without a trailing backslash, as
    # RegisterTypeLib writes it; a directory property always ends in one, so it is spelt out.
    helpdir = "[%s]Tarnwick" % PROGRAM_FILES[arch]
    clsid = "CLSID\\" + CLSID
    hkcr = "HKCR"
    # Each of our own keys goes whole on uninstall, with whatever was added below it later.
    shared = (PROGID, "TypeLib\\" + LIBID)
    for own in (clsid, "CLSID\\" + PPG_CLSID) + tuple("Interface\\" + iid for iid, _ in INTERFACES) + (
            () if shares_typelib else shared):
        key_only(w, depth, hkcr, own, "removeOnUninstall")
    key_only(w, depth, "HKLM", STATS + "\\" + CLSID, "removeOnUninstall")

    value(w, depth, hkcr, clsid, "Tarnwick Control")
    value(w, depth, hkcr, clsid + "\\InprocServer32", path)
    value(w, depth, hkcr, clsid + "\\InprocServer32", "Apartment", "ThreadingModel")
    value(w, depth, hkcr, clsid + "\\ProgID", PROGID)
    empty_default(w, hkcr, clsid + "\\Control")
    value(w, depth, hkcr, clsid + "\\ToolboxBitmap32", path + ", 1")
    value(w, depth, hkcr, clsid + "\\MiscStatus", "0")
    value(w, depth, hkcr, clsid + "\\MiscStatus\\1", MISC_STATUS)
    value(w, depth, hkcr, clsid + "\\TypeLib", LIBID)
    value(w, depth, hkcr, clsid + "\\Version", "1.0")
    for catid in (CATID_SAFE_FOR_SCRIPTING, CATID_SAFE_FOR_INITIALIZING):
        key_only(w, depth, hkcr, clsid + "\\Implemented Categories\\" + catid, "create")
    if not shares_typelib:
        value(w, depth, hkcr, PROGID, "Tarnwick Control")
        value(w, depth, hkcr, PROGID + "\\CLSID", CLSID)

    ppg = "CLSID\\" + PPG_CLSID
    value(w, depth, hkcr, ppg, "Tarnwick Property Page")
    value(w, depth, hkcr, ppg + "\\InprocServer32", path)
    value(w, depth, hkcr, ppg + "\\InprocServer32", "Apartment", "ThreadingModel")

    lib = "TypeLib\\%s\\1.0" % LIBID
    value(w, depth, hkcr, lib + "\\409\\" + ("win64" if arch == "x64" else "win32"), path)
    if not shares_typelib:
        value(w, depth, hkcr, lib, "tarnwick ActiveX Control module")
        value(w, depth, hkcr, lib + "\\FLAGS", "10")
        value(w, depth, hkcr, lib + "\\HELPDIR", helpdir)
    for iid, name in INTERFACES:
        key = "Interface\\" + iid
        value(w, depth, hkcr, key, name)
        value(w, depth, hkcr, key + "\\ProxyStubClsid", PSOA)
        value(w, depth, hkcr, key + "\\ProxyStubClsid32", PSOA)
        value(w, depth, hkcr, key + "\\TypeLib", LIBID)
        value(w, depth, hkcr, key + "\\TypeLib", "1.0", "Version")

    # The browser's per-site allowance: every site, for every user of the machine.
    key_only(w, depth, "HKLM", STATS + "\\" + CLSID + "\\iexplore\\AllowedDomains\\*", "create")


def empty_default(w, root, key):
    """An empty text as the key's default value: a row with neither name nor value (wixl
    refuses an empty Value, and "[~]" would make it a multi-string)."""
    row = "empty%d_%s" % (len(SQL), w.component)
    SQL.append("INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Component_`) VALUES (%s, %d, %s, %s)"
               % (sql_text(row), ROOTS[root], sql_text(key), sql_text(w.component)))


def categories(w, depth):
    """The two script-safety categories' descriptions: shared by every control on the machine,
    so they stay when ours goes (as they do after regsvr32 /u)."""
    for catid, text in ((CATID_SAFE_FOR_SCRIPTING, "Controls safely scriptable!"),
                        (CATID_SAFE_FOR_INITIALIZING, "Controls safely initializable from persistent data!")):
        value(w, depth, "HKCR", "Component Categories\\" + catid, text, "409")


def architecture(w, depth, arch, features, notices_dir, shares_typelib=False):
    win64 = "yes" if arch == "x64" else "no"
    folder = "INSTALLDIR%s" % ("64" if arch == "x64" else "32")
    src = DIST_DIR[arch]  # wixl finds sources from its working directory: the dist directory
    w(depth, "<Directory Id=%s>" % a(PROGRAM_FILES[arch]))
    w(depth + 1, "<Directory Id=%s Name=\"Tarnwick\">" % a(folder))
    d = depth + 2
    ocx = "tarnwick_ocx_" + arch
    comp = "Control_" + arch
    # The companions first: the control needs them beside it.
    for kind, name, fid in (("zip", "ziptool.dll", "ziptool_dll_" + arch),
                            ("engine", ENGINE[arch], "ovalon_dll_" + arch)):
        cid = "%s_%s" % (kind.capitalize(), arch)
        w(d, "<Component Id=%s Guid=%s Win64=%s>" % (a(cid), a(COMPONENT_GUIDS[(arch, kind)]), a(win64)))
        w(d + 1, "<File Id=%s Name=%s Source=%s KeyPath=\"yes\"/>" % (a(fid), a(name), a(src + "/" + name)))
        w(d, "</Component>")
        features.append(cid)
    cid = "Notices_" + arch
    w(d, "<Component Id=%s Guid=%s Win64=%s>" % (a(cid), a(COMPONENT_GUIDS[(arch, "notices")]), a(win64)))
    for i, name in enumerate(NOTICES):
        w(d + 1, "<File Id=%s Name=%s Source=%s%s/>" % (a("notice%d_%s" % (i, arch)), a(name),
                                                       a(notices_dir + "/" + name), " KeyPath=\"yes\"" if i == 0 else ""))
    w(d, "</Component>")
    features.append(cid)
    w(d, "<Component Id=%s Guid=%s Win64=%s>" % (a(comp), a(COMPONENT_GUIDS[(arch, "control")]), a(win64)))
    w.component = comp
    w(d + 1, "<File Id=%s Name=\"tarnwick.OCX\" Source=%s KeyPath=\"yes\"/>" % (a(ocx), a(src + "/tarnwick.OCX")))
    control_registration(w, d + 1, arch, ocx, shares_typelib)
    w(d, "</Component>")
    features.append(comp)
    if shares_typelib:
        w(depth + 1, "</Directory>")
        w(depth, "</Directory>")
        return
    cat = "Categories_" + arch
    w(d, "<Component Id=%s Guid=%s Win64=%s>" % (a(cat), a(COMPONENT_GUIDS[(arch, "categories")]), a(win64)))
    # Permanent (msidbComponentAttributesPermanent, 16): left in place on uninstall; with 256
    # (msidbComponentAttributes64bit) for the 64-bit view.
    SQL.append("UPDATE `Component` SET `Attributes` = %d WHERE `Component` = %s"
               % (16 | (256 if arch == "x64" else 0), sql_text(cat)))
    categories(w, d + 1)
    w(d, "</Component>")
    features.append(cat)
    w(depth + 1, "</Directory>")
    w(depth, "</Directory>")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--arch", choices=["x86", "x64"], required=True)
    p.add_argument("--version-file", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--sql-out", required=True, help="SQL to run on the built package (msibuild -q)")
    p.add_argument("--msi-version", help="ProductVersion instead of VERSION's (upgrade tests)")
    p.add_argument("--notices-dir", required=True, help="where LICENSE and THIRD-PARTY-NOTICES are, relative to the dist directory (wixl takes no absolute sources)")
    args = p.parse_args()
    v = read_version(args.version_file)
    msi_version = args.msi_version or v["PRODUCT_VERSION"]
    name = "tarnwick ActiveX Control"
    w = Writer()
    w(0, '<?xml version="1.0" encoding="utf-8"?>')
    w(0, "<!-- Generated by packaging/msi/make_wxs.py; edit that, not this. -->")
    w(0, '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">')
    w(1, "<Product Id=\"*\" Name=%s Language=\"1033\" Version=%s Manufacturer=%s UpgradeCode=%s>"
      % (a(name + (" (64-bit and 32-bit)" if args.arch == "x64" else " (32-bit)")), a(msi_version),
         a(v["COMPANY"]), a(UPGRADE_CODE)))
    w(2, "<Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"perMachine\" "
         "Description=%s Manufacturer=%s Comments=%s/>"
      % (a(v["PRODUCT"]), a(v["COMPANY"]), a("File version " + v["FILE_VERSION"])))
    w(2, "<MajorUpgrade DowngradeErrorMessage=\"A newer version of [ProductName] is already installed.\"/>")
    w(2, "<Media Id=\"1\" Cabinet=\"tarnwick.cab\" EmbedCab=\"yes\"/>")
    w(2, "<Property Id=\"ARPNOMODIFY\" Value=\"1\"/>")
    w(2, "<Property Id=\"ARPNOREPAIR\" Value=\"1\"/>")
    if args.arch == "x86":
        w(2, "<Condition Message=\"This package is for 32-bit Windows. On 64-bit Windows install "
             "the x64 package, which carries both the 64-bit and the 32-bit control.\">"
             "Installed OR NOT VersionNT64</Condition>")
    features = []
    w(2, "<Directory Id=\"TARGETDIR\" Name=\"SourceDir\">")
    if args.arch == "x64":
        architecture(w, 3, "x64", features, args.notices_dir)
    architecture(w, 3, "x86", features, args.notices_dir, shares_typelib=args.arch == "x64")
    w(2, "</Directory>")
    w(2, "<Feature Id=\"Control\" Title=%s Level=\"1\">" % a(name))
    for cid in features:
        w(3, "<ComponentRef Id=%s/>" % a(cid))
    w(2, "</Feature>")
    w(1, "</Product>")
    w(0, "</Wix>")
    with open(args.out, "w", encoding="utf-8") as out:
        out.write("\n".join(w.lines) + "\n")
    with open(args.sql_out, "w", encoding="utf-8") as out:
        out.write("\n".join(SQL) + "\n")


if __name__ == "__main__":
    main()
