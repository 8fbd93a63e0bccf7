#!/usr/bin/env python3
"""Writes THIRD-PARTY-NOTICES: what third-party code each shipped artifact contains, under which
license, and where its source is obtained, followed by the notices and license texts themselves,
taken from the Debian packages the modules are built with (/usr/share/doc/*/copyright and
/usr/share/common-licenses). Run it again when a tool chain or library package changes:
    tools/make_notices.py > THIRD-PARTY-NOTICES
"""
import json
import pathlib
import re
import subprocess
import sys

DOC = pathlib.Path("/usr/share/doc")
COMMON = pathlib.Path("/usr/share/common-licenses")
EMSDK = pathlib.Path("/usr/share/emscripten/system/lib")

# name, Debian binary package built with, upstream, license
COMPONENTS = {
    "zlib": ("zlib1g-dev", "https://zlib.net/", "Zlib"),
    "libgcrypt": ("libgcrypt-mingw-w64-dev", "https://gnupg.org/software/libgcrypt/",
                  "LGPL-2.1-or-later"),
    "libgpg-error": ("libgpg-error-mingw-w64-dev", "https://gnupg.org/software/libgpg-error/",
                     "LGPL-2.1-or-later"),
    "libksba": ("libksba-mingw-w64-dev", "https://gnupg.org/software/libksba/",
                "LGPL-3.0-or-later OR GPL-2.0-or-later (used here under LGPL-3.0-or-later)"),
    "MinGW-w64 runtime (CRT, winpthreads)": ("mingw-w64-common", "https://www.mingw-w64.org/",
                                             "ZPL-2.1, MIT and public domain (see its notice)"),
    "GCC runtime (libgcc, libstdc++)": ("gcc-mingw-w64-i686-posix-runtime", "https://gcc.gnu.org/",
                                        "GPL-3.0-or-later WITH GCC-exception-3.1"),
    "Emscripten system libraries (musl libc, dlmalloc, libc++, libc++abi, compiler-rt)":
        ("emscripten", "https://emscripten.org/",
         "MIT (Emscripten, musl), CC0 (dlmalloc), Apache-2.0 WITH LLVM-exception (libc++, libc++abi, compiler-rt)"),
}
# name, npm package (installed under web/node_modules by `make setup`, pinned by the lock), upstream,
# license
NPM_COMPONENTS = {
    "fflate": ("fflate", "https://github.com/101arrowz/fflate", "MIT"),
}
RUNTIME = ["MinGW-w64 runtime (CRT, winpthreads)", "GCC runtime (libgcc, libstdc++)"]
ARTIFACTS = [
    ("win32/tarnwick.OCX, win64/tarnwick.OCX", RUNTIME),
    ("win32/ziptool.dll, win64/ziptool.dll", ["zlib"] + RUNTIME),
    ("win32/OVALON.x86.dll, win64/OVALON.x64.dll",
     ["libgcrypt", "libgpg-error", "libksba"] + RUNTIME),
    ("tarnwick.cab (the three 32-bit modules)",
     ["zlib", "libgcrypt", "libgpg-error", "libksba"] + RUNTIME),
    ("tarnwick-<version>-x86.msi (the three 32-bit modules), tarnwick-<version>-x64.msi "
     "(the six modules of both architectures)",
     ["zlib", "libgcrypt", "libgpg-error", "libksba"] + RUNTIME),
    ("npm package tarnwick (sdk/tarnwick.wasm; sdk/zip/tarnwick-deflate.wasm, the zip workers' deflater, "
     "and sdk/zip/fflate.js, where that module is absent)",
     ["Emscripten system libraries (musl libc, dlmalloc, libc++, libc++abi, compiler-rt)", "zlib", "fflate"]),
]

LLVM_EXCEPTION = """---- LLVM Exceptions to the Apache 2.0 License ----

As an exception, if, as a result of your compiling your source code, portions
of this Software are embedded into an Object form of such source code, you
may redistribute such embedded portions in such Object form without complying
with the conditions of Sections 4(a), 4(b) and 4(d) of the License.

In addition, if you combine or link compiled forms of this Software with
software that is licensed under the GPLv2 ("Combined Software") and if a
court of competent jurisdiction determines that the patent provision (Section
3), the indemnity provision (Section 9) or other Section of the License
conflicts with the conditions of the GPLv2, you may retroactively and
prospectively choose to deem waived or otherwise exclude such Section(s) of
the License, but only in their entirety and only with respect to the Combined
Software.
"""


def package(binary):
    out = subprocess.run(["dpkg-query", "-W", "-f", "${source:Package} ${source:Version} ${Version}",
                          binary], capture_output=True, text=True, check=True).stdout.split()
    return out[0], out[1], out[2]


def upstream_version(src_version):
    v = re.sub(r"^\d+:", "", src_version)
    return re.split(r"[-+~]|\.dfsg", v)[0]


def read_pin(path):
    """(source package, version) from a pin file the setup fetches a source package by."""
    fields = dict(line.split()[:2] for line in path.read_text().splitlines()
                  if line.split() and not line.startswith("#"))
    return fields["package"], fields["version"]


# Parts compiled from a pinned Debian source package rather than linked from a library package.
PINNED = {"zlib": read_pin(pathlib.Path(__file__).resolve().parent / "zlib-source.txt")}


def source_of(name):
    """The Debian source package and version a part is built from."""
    if name in PINNED:
        return PINNED[name]
    src, src_version, _ = package(COMPONENTS[name][0])
    return src, src_version


def version_of(name):
    if name in PINNED:
        return upstream_version(PINNED[name][1])
    src, src_version, version = package(COMPONENTS[name][0])
    # The cross compilers' source package has its own numbering; the binary's carries GCC's.
    return upstream_version(version if src == "gcc-mingw-w64" else src_version)


NODE_MODULES = pathlib.Path(__file__).resolve().parent.parent / "web" / "node_modules"


def npm_version(name):
    return json.loads((NODE_MODULES / NPM_COMPONENTS[name][0] / "package.json").read_text())["version"]


def describe(part):
    if part in NPM_COMPONENTS:
        return "%s %s (%s)" % (part, npm_version(part), NPM_COMPONENTS[part][2])
    return "%s %s (%s)" % (part, version_of(part), COMPONENTS[part][2])


def rule(title):
    return "\n" + "=" * 78 + "\n" + title + "\n" + "=" * 78 + "\n\n"


def main():
    w = sys.stdout.write
    w("THIRD-PARTY NOTICES\n\n"
      "The Tarnwick Project's own code is under the MIT license (LICENSE). The shipped modules\n"
      "also contain the third-party code listed here, linked statically (the Windows modules) or\n"
      "compiled in (the WebAssembly modules). Each part keeps its own license; the texts follow.\n"
      "How the LGPL's conditions are met for the crypto engine: README.md, \"Licenses\".\n")
    w(rule("What each shipped artifact contains"))
    for artifact, parts in ARTIFACTS:
        w(artifact + "\n")
        for p in parts:
            w("  - %s\n" % describe(p))
        w("\n")
    w("The npm package's other JavaScript, types and documents are the project's own (MIT).\n")
    w(rule("Where the source is obtained"))
    w("Every part is built from Debian 12 (bookworm) packages. The exact source of each version\n"
      "is kept by Debian: `apt-get source <source>=<version>` on Debian 12, or\n"
      "https://snapshot.debian.org/package/<source>/<version>/ (for as long as Debian keeps it),\n"
      "and upstream at the address given.\n\n")
    for name, (binary, upstream, _) in COMPONENTS.items():
        src, src_version = source_of(name)
        how = ("  (compiled by the project's build from this source, with Debian's own flags for x86;\n"
               "  a build without it links Debian's prebuilt libz-mingw-w64 of the same release)\n"
               if name in PINNED else "")
        w("%s\n  Debian source package %s, version %s\n%s  %s\n  upstream: %s\n\n" % (
            name, src, src_version, how,
            "https://snapshot.debian.org/package/%s/%s/" % (src, src_version), upstream))
    for name, (package_name, upstream, _) in NPM_COMPONENTS.items():
        w("%s\n  npm package %s, version %s (the file the package ships, unchanged)\n"
          "  https://registry.npmjs.org/%s/-/%s-%s.tgz\n  upstream: %s\n\n" % (
              name, package_name, npm_version(name), package_name, package_name, npm_version(name), upstream))
    for name, (binary, _, _) in COMPONENTS.items():
        if binary == "emscripten":
            continue
        w(rule("%s: copyright and license (Debian's %s)" % (name, binary)))
        text = (DOC / binary / "copyright").read_text(encoding="utf-8", errors="replace")
        # Debian's own lead-in to libksba's IETF notice, said plainly; the notice itself is kept whole.
        text = re.sub(r"is based on a \w+ published\n", "is taken from an RFC published\n", text)
        w(text)
    w(rule("Emscripten system libraries: copyright and license"))
    text = (DOC / "emscripten" / "copyright").read_text(encoding="utf-8", errors="replace")
    m = re.search(r"^License: Expat\n((?: .*\n)+)", text, re.M)
    w("Emscripten: Copyright 2010-2022 The Emscripten Authors. Available under the MIT license\n"
      "or the University of Illinois/NCSA Open Source License; used here under the MIT license:\n\n")
    if not m:
        sys.exit("make_notices: no Expat text in Debian's emscripten copyright")
    w("Copyright 2010-2022 The Emscripten Authors\n\n")
    w(re.sub(r"^ \.?", "", m.group(1), flags=re.M))
    w("\nmusl libc:\n\n")
    musl = (EMSDK / "libc" / "musl" / "COPYRIGHT").read_text(encoding="utf-8", errors="replace")
    w(musl.split("\n\n\n")[0] + "\n")
    w("\ndlmalloc: written by Doug Lea and released to the public domain, as explained at\n"
      "https://creativecommons.org/publicdomain/zero/1.0/\n")
    w("\nlibc++, libc++abi and compiler-rt (the LLVM Project): Apache License 2.0 with LLVM\n"
      "Exceptions; the license text follows under \"Apache-2.0\", then the exceptions.\n\n")
    w(LLVM_EXCEPTION)
    for name, (package_name, _, _) in NPM_COMPONENTS.items():
        w(rule("%s: copyright and license (the npm package's LICENSE)" % name))
        w((NODE_MODULES / package_name / "LICENSE").read_text(encoding="utf-8", errors="replace"))
    for name in ("LGPL-2.1", "LGPL-3", "GPL-3", "GPL-2", "Apache-2.0"):
        w(rule("License text: %s" % name))
        w((COMMON / name).read_text(encoding="utf-8", errors="replace"))


if __name__ == "__main__":
    main()
