# Sample files for the size suite.
set -euo pipefail
cd "$1"
: > empty.bin
printf 'hello' > hello.txt
printf 'not here' > "$(printf '\xe0\xb8\x81').txt"    # a Thai letter code page 936 cannot hold
mkdir folder
truncate -s 3G sparse3g.bin                            # sparse: no disk space used
