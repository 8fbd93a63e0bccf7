#!/usr/bin/env bash
# The VERSION file for scripts.
#   version.sh KEY            prints a value: FILE_VERSION, PRODUCT_VERSION, COMPANY, PRODUCT,
#                             FILE_VERSION_COMMAS (2018,3,12,1), MSI_VERSION (the first three
#                             fields of PRODUCT_VERSION, what Windows Installer compares),
#                             SEMVER (the same three fields as the npm package's version)
#   version.sh render IN OUT  copies IN to OUT with every @KEY@ replaced by its value
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
python3 - "$root/VERSION" "$@" <<'PY'
import re, sys
path, args = sys.argv[1], sys.argv[2:]
values = {}
for line in open(path, encoding="utf-8"):
    m = re.match(r"^([A-Z_]+)=(.*)$", line.rstrip("\r\n"))
    if m:
        values[m.group(1)] = m.group(2)
values["FILE_VERSION_COMMAS"] = values["FILE_VERSION"].replace(".", ",")
values["PRODUCT_VERSION_COMMAS"] = values["PRODUCT_VERSION"].replace(".", ",")
values["MSI_VERSION"] = ".".join(values["PRODUCT_VERSION"].split(".")[:3])
# A release that replaces an installed one raises one of these fields, so the npm package's
# version moves with it (semver numbers carry no leading zeros).
values["SEMVER"] = ".".join(str(int(n)) for n in values["PRODUCT_VERSION"].split(".")[:3])
if len(args) == 1:
    print(values[args[0]])
elif len(args) == 3 and args[0] == "render":
    text = open(args[1], encoding="utf-8", newline="").read()
    def sub(m):
        if m.group(1) not in values:
            sys.exit("version.sh: %s names @%s@, which VERSION does not define" % (args[1], m.group(1)))
        return values[m.group(1)]
    open(args[2], "w", encoding="utf-8", newline="").write(re.sub(r"@([A-Z_]+)@", sub, text))
else:
    sys.exit("usage: version.sh KEY | version.sh render IN OUT")
PY
