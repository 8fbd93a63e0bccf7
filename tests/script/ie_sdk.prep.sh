# The IE-mode SDK as a page includes it, and a file to hash.
set -euo pipefail
fixture="$1"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cp "$root/web/sdk/tarnwick-ie.js" "$fixture/"
python3 -c 'import sys; sys.stdout.buffer.write(b"ie mode " * 1000)' > "$fixture/sample.bin"
sha256sum "$fixture/sample.bin" | cut -c1-64 | tr a-f A-F > "$fixture/sample.sha256"
