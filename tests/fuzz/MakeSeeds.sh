#!/usr/bin/env bash
# Writes the seed corpora: tiny pictures of each kind a target reads. Seeds are committed; run
# this again only to add kinds. Needs ImageMagick and python3.
set -euo pipefail
cd "$(dirname "$0")/corpus"

bmp() { mkdir -p bmp; convert -size 5x3 gradient:red-blue "${@:2}" "$1"; mv "${1#*:}" bmp/; }
bmp bmp3:b1.bmp -type bilevel
bmp bmp3:p4.bmp -colors 10
bmp bmp3:rle8.bmp -colors 20 -type palette -compress RLE
bmp bmp3:rgb24.bmp
bmp bmp:rgb565.bmp -define bmp:subtype=RGB565
bmp bmp:rgba32.bmp -alpha on -channel A -evaluate set 50%
bmp bmp2:os2.bmp
# RLE4 with a delta, an absolute run and the end-of-line and end-of-picture codes.
python3 - <<'PY'
import struct
palette = b''.join(bytes((i * 16, 255 - i * 16, 0, 0)) for i in range(16))
pixels = bytes([4, 0x12, 0, 2, 1, 0, 0, 3, 0x34, 0x50, 0, 0, 0, 1])
header = struct.pack('<IiiHHIIiiII', 40, 5, 2, 1, 4, 2, len(pixels), 2835, 2835, 16, 0)
offset = 14 + len(header) + len(palette)
with open('bmp/rle4.bmp', 'wb') as f:
    f.write(b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset) + header + palette + pixels)
# Rows stored top-down: a negative height.
data = bytearray(open('bmp/rgb24.bmp', 'rb').read())
data[22:26] = struct.pack('<i', -3)
open('bmp/topdown.bmp', 'wb').write(data)
PY
# Formats of the utility library: a routine byte (0 date, 1 number, 2 file time), an 8-byte value, the format.
python3 - <<'PY'
import os, struct
os.makedirs('textformats', exist_ok=True)
def seed(name, routine, value, text=b''):
    packed = struct.pack('<q', value) if isinstance(value, int) else struct.pack('<d', value)
    open('textformats/' + name, 'wb').write(bytes([routine]) + packed + text)
day = 45360.5  # 10 March 2024, noon
seed('date', 0, day, b'dddd d mmmm yyyy hh:nn:ss "at" h:m')
seed('date-utf8', 0, day, 'ddd \u00e9t\u00e9 yy'.encode())
seed('float', 1, -1234.5, b'{comment}#,##0.00;(0);"zero"')
seed('quarter', 1, 8099.0, b'[Quarter]x-yyyy')
seed('tendays', 1, 2024 * 36 + 35.0, b'[10Days]mm/yyyy - z')
seed('day', 1, day, b'[Day]dd/mm/yyyy')
seed('filetime', 2, 1700000000)
PY
