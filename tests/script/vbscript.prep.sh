# Sample files for the VBScript suite.
cd "$1"
printf 'hello' > hello.txt
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(64)))' > head.bin
