# Sample files for the VBScript suite.
set -euo pipefail
cd "$1"
printf 'hello' > hello.txt
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(64)))' > head.bin
python3 -c 'import sys; sys.stdout.buffer.write("\u4e0d\u652f\u63012\u7ef4\u3001\u5143\u7d20\u7c7b\u578b\u4e3a12\u7684\u6570\u7ec4!".encode("utf-16"))' > dims.txt
