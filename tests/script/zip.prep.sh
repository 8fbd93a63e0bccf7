# Sample files for the zip packaging suite.
cd "$1"
head -c 40 /dev/urandom > forty.bin
head -c 41 /dev/urandom > fortyone.bin
python3 -c 'import sys; sys.stdout.write("line of text to pack\n" * 500)' > text.txt
