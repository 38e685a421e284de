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
# The extended library's decoders: an options byte, the 16-bit target size, the packed data
# (TzpicFuzzInput.h), each made by an independent encoder where one exists.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -seed 1 -size 24x8 plasma:fractal -depth 8 "$tmp/p.tif"
convert "$tmp/p.tif" -monochrome "$tmp/b.pbm"
tiffcp -c lzw -r 100 "$tmp/p.tif" "$tmp/lzw.tif"
convert "$tmp/p.tif" -colors 4 +dither "$tmp/p.gif"
pbmtog3 -nofixedwidth "$tmp/b.pbm" > "$tmp/b.g3"
convert -size 9x8 gradient: -colorspace gray "$tmp/g.jpg"
convert -size 16x8 gradient:red-blue -sampling-factor 2x2 "$tmp/c.jpg"
convert -size 4x4 xc:red "$tmp/c.png"
convert -size 4x4 xc:red "$tmp/c.gif"
convert -size 4x4 xc:red "$tmp/c.pcx"
python3 - "$tmp" <<'PY'
import os, struct, sys, zlib
tmp = sys.argv[1]
def seed(target, name, options, size, packed):
    os.makedirs(target, exist_ok=True)
    open(os.path.join(target, name), 'wb').write(bytes([options]) + struct.pack('<H', size) + packed)
def strips(path):
    b = open(path, 'rb').read()
    ifd = struct.unpack_from('<I', b, 4)[0]
    tags = {}
    for i in range(struct.unpack_from('<H', b, ifd)[0]):
        tag, typ, count, value = struct.unpack_from('<HHII', b, ifd + 2 + 12 * i)
        if typ == 3 and count == 1:
            value &= 0xFFFF
        tags[tag] = value
    return b[tags[273]:tags[273] + tags[279]]
seed('tzpic_rle', 'targa24', 0, 12, bytes([0x81, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9]))
seed('tzpic_rle', 'targa16', 1, 8, bytes([0x82, 1, 2, 0x00, 3, 4]))
seed('tzpic_rle', 'packbits', 2, 8, bytes([0xFD, 7, 0x02, 1, 2, 3, 0x80]))
seed('tzpic_rle', 'pcx', 3, 6, bytes([0xC3, 9, 1, 2, 0xC1, 0xC5]))
seed('tzpic_rle', 'sgi8', 4, 8, bytes([0x83, 1, 2, 3, 0x04, 9, 0]))
seed('tzpic_rle', 'sgi16', 12, 8, bytes([0, 0x82, 1, 2, 3, 4, 0, 2, 5, 6, 0, 0]))
seed('tzpic_rle', 'cut', 5, 8, bytes([7, 0, 0x83, 1, 0x02, 2, 3, 0]))
seed('tzpic_rle', 'psp', 6, 8, bytes([0x83, 1, 0x02, 2, 3, 0x80, 5]))
seed('tzpic_rle', 'rla', 7, 8, bytes([0x02, 1, 0xFE, 2, 3, 0x00, 4]))
g3 = open(os.path.join(tmp, 'b.g3'), 'rb').read()
seed('tzpic_ccitt', 'fax3', 3 << 3 | 0, 24 // 8 * 8 + 8, g3)
seed('tzpic_ccitt', 'fax3-reversed', 3 << 3 | 4, 32, bytes(int('{:08b}'.format(c)[::-1], 2) for c in g3))
# Modified Huffman rows of width 25: white 8, black 5, white 12; then white 25.
bits = '10011' + '0011' + '001000' + '000'
bits += '0101011' + '0'
seed('tzpic_ccitt', 'mh', 3 << 3 | 1, 8, bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8)))
seed('tzpic_lzw', 'tiff', 0, 24 * 8 * 3, strips(os.path.join(tmp, 'lzw.tif')))
gif = open(os.path.join(tmp, 'p.gif'), 'rb').read()
at = 13 + (3 << ((gif[10] & 7) + 1) if gif[10] & 0x80 else 0)
while gif[at] == 0x21:
    at += 2
    while gif[at]:
        at += gif[at] + 1
    at += 1
at += 10
code_size = gif[at]
at += 1
data = b''
while gif[at]:
    data += gif[at + 1:at + 1 + gif[at]]
    at += gif[at] + 1
seed('tzpic_lzw', 'gif', code_size << 1 | 1, 24 * 8, data)
seed('tzpic_lz77', 'zlib', 0, 600, zlib.compress(bytes(range(200)) * 3))
seed('tzpic_lz77', 'zlib-finish', 2, 600, zlib.compress(b'abc' * 200))
seed('tzpic_tiffjpeg', 'gray', 8, 0, open(os.path.join(tmp, 'g.jpg'), 'rb').read())
seed('tzpic_tiffjpeg', 'ycbcr', 15 | 16 | 32, 0, open(os.path.join(tmp, 'c.jpg'), 'rb').read())
seed('tzpic_thunder', 'rows', 4, 15, bytes([0xC3, 0x02, 0x8E, 0x5B, 0xCF, 0x01, 0xC5, 0xC1, 0x08, 0xC9,
                                            0xC0, 0x55, 0x55, 0x02, 0xCA]))
class Bits:
    def __init__(self): self.s = ''
    def put(self, v, n): self.s += format(v, '0{}b'.format(n))
    def row(self, plane, row): self.put(0xFFFFFE, 24); self.put(plane, 2); self.put(row, 13); self.put(0, 1)
    def bytes(self):
        s = self.s + '0' * (-len(self.s) % 8)
        return bytes(int(s[i:i + 8], 2) for i in range(0, len(s), 8))
w = Bits()
w.put(2, 8)
for length, code, key in ((1, 0, 5), (2, 2, 0xFD), (2, 3, 0)):
    w.put(length - 1, 8); w.put(code << (16 - length), 16); w.put(key, 8)
w.put(0, 8)
w.row(0, 0); w.put(0b0011100, 7); w.put(0b0, 1); w.put(0b11, 2)
w.row(0, 1); w.put(0b000000, 6)
w.row(0, 2); w.put(0, 32)
seed('tzpic_pcd', 'rows', 1 << 1, 0, w.bytes())
os.makedirs('tzpic_content', exist_ok=True)
for name in ('c.png', 'c.gif', 'c.pcx', 'p.tif'):
    open(os.path.join('tzpic_content', name), 'wb').write(open(os.path.join(tmp, name), 'rb').read()[:2100])
PY
