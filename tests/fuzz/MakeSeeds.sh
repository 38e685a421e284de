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

# The image library's readers: bitmaps (also headerless), icons and cursors, portable maps,
# wireless bitmaps, and one picture of each kind for content detection.
mkdir -p kvbmp kvicon kvpxm kvwbmp kvdetect
cp bmp/*.bmp kvbmp/
tail -c +15 bmp/p4.bmp > kvbmp/p4-headerless.dib
g() { convert -size 5x3 gradient:red-blue "$@"; }
i() { convert -size 6x6 gradient:red-blue "$@"; }
i \( -clone 0 -resize 4x4 \) kvicon/two-sizes.ico
i -colors 10 kvicon/p8.ico
i -alpha on -channel A -evaluate set 50% kvicon/alpha.ico
i -type bilevel kvicon/b1.ico
python3 - <<'PY'
data = bytearray(open('kvicon/p8.ico', 'rb').read())
data[2] = 2  # the same directory as a cursor
open('kvicon/p8.cur', 'wb').write(data)
PY
g ppm:- | tee kvpxm/p6.ppm | pnmtoplainpnm > kvpxm/p3.ppm
ppmtopgm kvpxm/p6.ppm | tee kvpxm/p5.pgm | pnmtoplainpnm > kvpxm/p2.pgm
pgmtopbm kvpxm/p5.pgm | tee kvpxm/p4.pbm | pnmtoplainpnm > kvpxm/p1.pbm
pnmdepth 1000 kvpxm/p6.ppm > kvpxm/p6-wide.ppm
pbmtowbmp kvpxm/p4.pbm > kvwbmp/p.wbmp
convert -size 200x3 gradient: -type bilevel wbmp:kvwbmp/wide.wbmp
cp bmp/rle4.bmp kvicon/two-sizes.ico kvpxm/p1.pbm kvdetect/
g jpg:kvdetect/p.jpg
g gif:kvdetect/p.gif
g tif:kvdetect/p.tif
g tga:kvdetect/p.tga
g png:kvdetect/p.png
g pcx:kvdetect/p.pcx
cp kvwbmp/p.wbmp kvdetect/
g ppm:kvdetect/p.ppm
opj_compress -n 1 -i kvdetect/p.ppm -o kvdetect/p.jp2 >/dev/null
opj_compress -n 1 -i kvdetect/p.ppm -o kvdetect/p.j2k >/dev/null
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

# Packed DIBs: the BMP seeds without their file header.
mkdir -p dib
for f in b1 p4 rle4 rle8 rgb24 rgb565 os2; do tail -c +15 "bmp/$f.bmp" > "dib/$f.dib"; done

# Icons: BMP-form images of several depths with their masks, and one PNG-form image.
mkdir -p icon
convert -size 16x16 gradient:red-blue -colors 16 icon/p4.ico
convert -size 16x16 gradient:red-blue -alpha on -channel A -evaluate set 40% icon/rgba32.ico
convert -size 8x8 xc:white -fill black -draw 'point 2,2' -type bilevel icon/b1.ico
convert -size 3x2 gradient:red-blue png:- | python3 -c '
import struct, sys
png = sys.stdin.buffer.read()
sys.stdout.buffer.write(struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 3, 2, 0, 0, 1, 32, len(png), 22) + png)
' > icon/png.ico

# JPEG: gray, colour with 4:2:0 and 4:4:4, progressive, restart intervals, CMYK with an Adobe marker.
mkdir -p jpeg
jpeg() { convert -size 16x8 gradient:red-blue "${@:2}" "jpeg/$1"; }
jpeg gray.jpg -colorspace Gray -quality 50
jpeg rgb420.jpg -quality 50 -sampling-factor 2x2
jpeg rgb444.jpg -quality 50 -sampling-factor 1x1
jpeg progressive.jpg -quality 50 -interlace Plane
jpeg restart.jpg -quality 50 -define jpeg:restart-interval=1
jpeg cmyk.jpg -quality 50 -colorspace CMYK

# IPTC: plain data sets and the same inside a Photoshop resource.
mkdir -p iptc
python3 - <<'PY'
import struct
def dataset(record, number, data):
    return bytes((0x1C, record, number)) + struct.pack('>H', len(data)) + data
plain = dataset(1, 90, b'\x1b%G') + dataset(2, 5, b'Title') + dataset(2, 25, b'one') + dataset(2, 25, b'two')
open('iptc/plain.bin', 'wb').write(plain)
resource = b'8BIM' + struct.pack('>H', 0x0404) + b'\x00\x00' + struct.pack('>I', len(plain)) + plain
open('iptc/photoshop.bin', 'wb').write(b'Photoshop 3.0\x00' + resource)
PY

# Maker notes: a directory with a value in its entry and one beyond it.
mkdir -p makernote
python3 - <<'PY'
import struct
entries = [(1, 3, 1, 7), (2, 2, 12, 2 + 2 * 12 + 4), (3, 4, 2, 2 + 2 * 12 + 4 + 12)]
data = struct.pack('<H', len(entries)) + b''.join(struct.pack('<HHII', *e) for e in entries) + b'\0\0\0\0'
open('makernote/directory.bin', 'wb').write(data + b'Maker name\0\0' + struct.pack('<II', 1, 2))
PY

# Marker lists: records of a type, a 16-bit length and the data.
mkdir -p markers
printf '\xe1\x04\x00Exif\xfe\x03\x00abc\xe1\x00\x00\xed\x02\x00xy' > markers/three.bin

# Annotations: a block with default properties, then a line, a text and an image mark.
mkdir -p annotations
python3 - <<'PY'
import struct
def named(record, name, data):
    return struct.pack('<ii', record, 12) + name.ljust(8, b'\0') + struct.pack('<I', len(data)) + data
def mark(kind):
    attributes = struct.pack('<i', kind) + bytes(160)
    return struct.pack('<ii', 5, len(attributes)) + attributes
dib = open('dib/b1.dib', 'rb').read()
block = struct.pack('<ii', 0, 1)
block += named(2, b'OiGroup', b'group\0')
block += mark(3) + named(6, b'OiAnoDat', struct.pack('<iiiiii', 2, 2, 1, 2, 30, 40))
block += mark(7) + named(6, b'OiAnText', struct.pack('<iiii', 0, 0, 1000, 5) + b'Note\0')
block += mark(1) + named(6, b'OiDIB', dib)
open('annotations/marks.bin', 'wb').write(block)
PY

# Colour profiles: sRGB, a gray and a Lab profile, written by the colour-management library.
mkdir -p icc
cc -x c -o /tmp/mordale-icc-seeds - -llcms2 <<'C'
#include <lcms2.h>
int main(void) {
    cmsToneCurve* gamma = cmsBuildGamma(NULL, 2.2);
    cmsSaveProfileToFile(cmsCreate_sRGBProfile(), "icc/srgb.icc");
    cmsSaveProfileToFile(cmsCreateGrayProfile(cmsD50_xyY(), gamma), "icc/gray.icc");
    cmsSaveProfileToFile(cmsCreateLab4Profile(NULL), "icc/lab.icc");
    return 0;
}
C
/tmp/mordale-icc-seeds
rm /tmp/mordale-icc-seeds

# Settings files: keys, escapes, a default value, a damaged line and a last line without newline.
mkdir -p settings
printf '[Software\\Brelvant\\Mordale]\nLast Folder=/home/a b\n=default\n%%25name=va%%0Alue\n[Software\\Brelvant\\Mordale\\Recent]\nFile1=a.jpg\nbroken line\n[unterminated\nFile2=b.png' > settings/mordale.conf

# Metafiles: a placeable Windows metafile with a DIB record and an enhanced metafile.
mkdir -p metafile
python3 - <<'PY'
import struct
def wmf_record(function, words=b''):
    return struct.pack('<IH', 3 + len(words) // 2, function) + words
dib = open('dib/b1.dib', 'rb').read()
records = wmf_record(0x020C, struct.pack('<hh', 50, 100))
records += wmf_record(0x041B, struct.pack('<hhhh', 50, 40, 0, 0))
records += wmf_record(0x0F43, struct.pack('<Ihhhhhhhhh', 0x00CC0020, 0, 3, 5, 0, 0, 0, 20, 10, 0) + dib)
records += wmf_record(0x0000)
placeable = struct.pack('<IHhhhhHI', 0x9AC6CDD7, 0, 0, 0, 100, 50, 96, 0)
checksum = 0
for i in range(0, 20, 2):
    checksum ^= struct.unpack_from('<H', placeable, i)[0]
header = struct.pack('<HHHIHIH', 1, 9, 0x0300, 9 + len(records) // 2, 0, 0, 0)
open('metafile/picture.wmf', 'wb').write(placeable + struct.pack('<H', checksum) + header + records)

def emf_record(kind, values):
    return struct.pack('<II', kind, 8 + 4 * len(values)) + struct.pack('<%dI' % len(values), *values)
body = emf_record(39, [1, 0, 0x0000FF, 0]) + emf_record(37, [1]) + emf_record(43, [0, 0, 40, 50])
body += emf_record(14, [0, 16, 20])
size = 108
header = struct.pack('<II4i4iIIIIHH3I4I5I', 1, size, 0, 0, 99, 49, 0, 0, 2645, 1322, 0x464D4520, 0x10000,
                     size + len(body), 5, 2, 0, 0, 0, 0, 1024, 768, 271, 203, 0, 0, 0, 270933, 203200)
open('metafile/shapes.emf', 'wb').write(header + body)
PY
# JPEG files as the PDF writer passes them through: baseline, progressive, CMYK with the Adobe marker, gray.
jpeg() { mkdir -p jpeglayout; convert "${@:2}" "jpeglayout/$1"; }
jpeg baseline.jpg -size 16x8 gradient:red-blue
jpeg progressive.jpg -size 16x8 gradient:red-blue -interlace JPEG
jpeg cmyk.jpg -size 8x8 xc:red -colorspace CMYK
jpeg gray.jpg -size 8x8 gradient: -colorspace Gray

# JPEG driver: the codings cjpeg and ImageMagick write, and profile chunks.
mkdir -p jpegfilter
convert -size 24x16 gradient:red-blue ppm:jpegfilter/src.ppm
cjpeg -quality 60 jpegfilter/src.ppm > jpegfilter/baseline.jpg
cjpeg -grayscale jpegfilter/src.ppm > jpegfilter/gray.jpg
cjpeg -progressive jpegfilter/src.ppm > jpegfilter/progressive.jpg
cjpeg -restart 1 -sample 2x1 jpegfilter/src.ppm > jpegfilter/restart422.jpg
cjpeg -rgb -optimize jpegfilter/src.ppm > jpegfilter/rgb.jpg
convert jpegfilter/src.ppm -colorspace CMYK jpegfilter/cmyk.jpg
rm jpegfilter/src.ppm
python3 - <<'PY'
data = open('jpegfilter/baseline.jpg', 'rb').read()
def app2(seq, count, body):
    payload = b'ICC_PROFILE\0' + bytes([seq, count]) + body
    return b'\xff\xe2' + (len(payload) + 2).to_bytes(2, 'big') + payload
chunks = app2(2, 2, b'B' * 40) + app2(1, 2, b'A' * 40)
open('jpegfilter/icc-chunks.jpg', 'wb').write(data[:20] + chunks + data[20:])
PY

# PNG driver: colour types, depths, transparency, interlacing and chunks.
mkdir -p pngfilter
png() { convert -size 12x7 gradient:red-blue "${@:2}" "$1"; }
png PNG24:pngfilter/rgb.png
png PNG32:pngfilter/rgba.png -alpha on -channel A -evaluate set 40%
png PNG48:pngfilter/rgb16.png -depth 16
png PNG8:pngfilter/palette.png -colors 12 -transparent blue
png PNG24:pngfilter/interlaced.png -interlace PNG
png PNG24:pngfilter/text.png -set comment "a comment" -density 72
convert -size 12x7 gradient: -depth 4 pgm:- | pnmtopng > pngfilter/gray4.png
convert -size 12x7 gradient: -depth 16 pgm:- | pnmtopng > pngfilter/gray16.png
convert -size 12x7 gradient: -monochrome pbm:- | pnmtopng > pngfilter/bilevel.png
convert -size 12x7 gradient: -alpha on -channel A -evaluate set 50% -colorspace Gray PNG:pngfilter/grayalpha.png

# GIF driver: one image, interlaced, bilevel, and an animation with disposals and transparency.
mkdir -p giffilter
convert -size 12x7 gradient:red-blue -colors 30 giffilter/single.gif
convert -size 12x7 gradient:red-blue -colors 5 -interlace GIF giffilter/interlaced.gif
convert -size 12x7 gradient: -monochrome giffilter/bilevel.gif
convert -size 10x8 xc:gray -dispose background -page +2+2 -size 4x3 xc:red \
  -dispose none -page +1+1 \( -size 5x5 xc:blue -fill white -draw 'point 2,2' -transparent white \) \
  -loop 0 giffilter/animated.gif

# TIFF LZW decoder: a row-length byte, then a strip as libtiff writes it.
mkdir -p tifflzw
convert -size 16x6 gradient: -depth 8 -compress LZW -define tiff:rows-per-strip=6 tifflzw/gray.tif
convert -size 9x5 plasma:fractal -depth 8 -compress LZW -define tiff:rows-per-strip=5 tifflzw/rgb.tif
python3 - <<'PY'
import os, struct
for name, row in (('gray', 16), ('rgb', 27)):
    path = 'tifflzw/%s.tif' % name
    data = open(path, 'rb').read()
    ifd = struct.unpack_from('<I', data, 4)[0]
    offset = count = 0
    for i in range(struct.unpack_from('<H', data, ifd)[0]):
        tag, kind, _, value = struct.unpack_from('<HHII', data, ifd + 2 + 12 * i)
        value = value & 0xFFFF if kind == 3 else value
        if tag == 273: offset = value
        if tag == 279: count = value
    open('tifflzw/%s.lzw' % name, 'wb').write(bytes([row - 1]) + data[offset:offset + count])
    os.remove(path)
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

# The engine's settings, under the key named after the fuzz target's executable.
mkdir -p engine_settings
cat > engine_settings/mordale.conf <<'CONF'
[Software\Brelvant\fuzz_engine_settings]
Author=Ann
BottomMargin=100
LeftMargin=1 234
RightMargin=-5
TopMargin=abc
ExeFileName=/usr/bin/mordale
LengthUnit=Inch
Mode=Book
Orientation=Landscape
PaperSizeName=Letter
PicDatesFont=Times New Roman,12,Red,Italic,Bold
PicDatesPos=0
PicDirectory=/tmp
PicNamesFont=Arial,10,$00FF8000,Underline,StrikeOut
PicNamesPos=7
PicResolution=300
PicsPerPage=24
Overwrite=TRUE
CONF

# PCX of each layout the reader decodes, and a DCX of two pages.
mkdir -p kvpcx
g ppm:- | ppmtopcx -24bit > kvpcx/rgb24.pcx
g ppm:- | ppmtopcx -8bit > kvpcx/p8.pcx
g -colors 16 ppm:- | ppmtopcx -packed > kvpcx/p4.pcx
g -colors 16 ppm:- | ppmtopcx -planes 4 > kvpcx/planes4.pcx
g -type bilevel ppm:- | ppmtopcx > kvpcx/b1.pcx
python3 - <<'PY'
import struct
pages = [open('kvpcx/b1.pcx', 'rb').read(), open('kvpcx/p4.pcx', 'rb').read()]
table = 4 + 4 * (len(pages) + 1)
offsets = [table, table + len(pages[0])]
open('kvpcx/two.dcx', 'wb').write(struct.pack('<4I', 0x3ADE68B1, *offsets, 0) + b''.join(pages))
PY

# Targa of each kind: true colour with and without run-length coding, colour-mapped, grey,
# 32-bit with alpha, and 16-bit.
mkdir -p kvtga
g ppm:- | ppmtotga -rgb > kvtga/rgb-rle.tga
g ppm:- | ppmtotga -rgb -norle > kvtga/rgb.tga
g -colors 8 ppm:- | ppmtotga -cmap > kvtga/cmap-rle.tga
g -type grayscale tga:kvtga/gray.tga
g -alpha on -channel A -evaluate set 50% tga:kvtga/alpha.tga
g -depth 5 -define tga:bits-per-pixel=16 tga:kvtga/rgb16.tga

# JPEG 2000: a JP2 file and code streams, colour and grey, one of them with 12-bit samples.
mkdir -p kvjpeg2000
g ppm:kvjpeg2000/src.ppm
opj_compress -n 2 -i kvjpeg2000/src.ppm -o kvjpeg2000/rgb.jp2 >/dev/null
opj_compress -n 2 -r 20 -p RLCP -i kvjpeg2000/src.ppm -o kvjpeg2000/lossy.j2k >/dev/null
ppmtopgm kvjpeg2000/src.ppm | pnmdepth 4095 > kvjpeg2000/src.pgm
opj_compress -n 2 -i kvjpeg2000/src.pgm -o kvjpeg2000/gray12.j2k >/dev/null
rm kvjpeg2000/src.ppm kvjpeg2000/src.pgm
# CCITT decoders: a coding byte (0 Group 3 1-D, 1 Group 3 2-D, 2 Group 4) and a width byte
# (width = 8 x value + 1 + first byte / 8), then the strip that libtiff writes.
mkdir -p ccitt
for c in g3:1d:0 g3:2d:1 g4::2; do
  IFS=: read -r kind dim code <<<"$c"
  opt=$kind; [ "$kind" = g3 ] && opt="g3:$dim"
  convert -size 40x12 pattern:checkerboard -type bilevel -depth 1 -compress None ccitt/in.tif
  tiffcp -c "$opt" -r 12 ccitt/in.tif ccitt/out.tif
  python3 - "$code" "ccitt/$kind$dim.fax" <<'PY'
import struct, sys
data = open('ccitt/out.tif', 'rb').read()
ifd = struct.unpack_from('<I', data, 4)[0]
offset = count = 0
for i in range(struct.unpack_from('<H', data, ifd)[0]):
    tag, kind, _, value = struct.unpack_from('<HHII', data, ifd + 2 + 12 * i)
    value = value & 0xFFFF if kind == 3 else value
    if tag == 273: offset = value
    if tag == 279: count = value
open(sys.argv[2], 'wb').write(bytes([int(sys.argv[1]) + 8 * 7, 4]) + data[offset:offset + count])
PY
  rm ccitt/in.tif ccitt/out.tif
done

# TIFF reader: one small file per coding, layout and byte order.
mkdir -p tiff
printf 'P6\n9 5\n255\n' > tiff/in.ppm && head -c 135 /dev/urandom >> tiff/in.ppm
ppmtopgm tiff/in.ppm | pgmtopbm | pnmtotiff -miniswhite > tiff/bilevel.tif
convert tiff/in.ppm -compress none tiff/rgb.tif
convert tiff/in.ppm -colors 5 -type palette -compress none tiff/palette.tif
for c in "g3:g3" "g32d:g3:2d" "g4:g4 -B" "g4lsb:g4 -f lsb2msb"; do
  tiffcp -c ${c#*:} tiff/bilevel.tif "tiff/${c%%:*}.tif"
done
for c in "lzw2:lzw:2" "packbits:packbits -B" "zip:zip -p separate" "tiles:lzw -t -w 16 -l 16" "jpeg:jpeg"; do
  tiffcp -c ${c#*:} tiff/rgb.tif "tiff/${c%%:*}.tif"
done
tiffcp -c lzw tiff/palette.tif tiff/rgb.tif tiff/twopages.tif
# Second pages are read in native formats: separated inks, gray JPEG data.
convert tiff/in.ppm -colorspace CMYK -compress none tiff/cmyk1.tif
tiffcp -c jpeg tiff/cmyk1.tif tiff/cmyk2.tif
tiffcp tiff/cmyk1.tif tiff/cmyk2.tif tiff/cmyk.tif
convert tiff/in.ppm -colorspace gray -compress none tiff/gray.tif
tiffcp -c jpeg tiff/gray.tif tiff/gray.tif tiff/grayjpeg.tif
convert tiff/in.ppm -colorspace Lab -compress lzw tiff/lab.tif
# 16-bit gray, big-endian, differenced, two strips.
printf 'P5\n6 4\n65535\n' > tiff/in16.pgm && head -c 48 /dev/urandom >> tiff/in16.pgm
pnmtotiff tiff/in16.pgm > tiff/gray16.tif && tiffcp -c lzw:2 -r 2 -B tiff/gray16.tif tiff/lzw16.tif
rm tiff/in16.pgm tiff/gray16.tif
rm tiff/in.ppm tiff/rgb.tif tiff/cmyk1.tif tiff/cmyk2.tif tiff/gray.tif

# EXIF blocks: the TIFF structure of APP1 blocks as exiftool writes them, in both byte orders,
# with a JPEG thumbnail.
mkdir -p exif
convert -size 8x6 gradient:red-blue exif/thumb.jpg
for order in II MM; do
  convert -size 16x12 gradient:blue-green "exif/$order.jpg"
  exiftool -q -overwrite_original -ExifByteOrder=$order -Make=Acme -Model=X1 -ExposureTime=1/60 -FNumber=4 \
    -ISO=100 -DateTimeOriginal='2020:01:02 03:04:05' -UserComment=hi '-ThumbnailImage<=exif/thumb.jpg' "exif/$order.jpg"
  python3 - "exif/$order.jpg" "exif/$order.exif" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
at = data.index(b'Exif\0\0') + 6
length = int.from_bytes(data[at - 8:at - 6], 'big') - 8
open(sys.argv[2], 'wb').write(data[at:at + length])
PY
  rm "exif/$order.jpg"
done
rm exif/thumb.jpg
# Video files: tiny clips of ffmpeg's test pattern in the containers and codecs the program opens.
mkdir -p mediafile
for clip in "raw.avi -c:v rawvideo -pix_fmt bgr24" "mjpeg.avi -c:v mjpeg" "clip.mpg -c:v mpeg1video" \
            "clip.wmv -c:v wmv2"; do
  set -- $clip
  ffmpeg -v error -y -f lavfi -i testsrc=size=16x8:rate=25 -frames:v 3 "${@:2}" "mediafile/$1"
done
# An MPEG stream without a container, whose frames have no timestamps, and frames at a variable rate.
ffmpeg -v error -y -f lavfi -i testsrc=size=16x8:rate=25 -frames:v 3 -c:v mpeg1video -f mpeg1video mediafile/elementary.mpg
ffmpeg -v error -y -f lavfi -i testsrc=size=16x8:rate=25 -frames:v 4 -vf "select='not(eq(n,1))'" -fps_mode vfr \
  -c:v mpeg4 mediafile/variable.mkv
# A video file with sound, played through the capture graph.
mkdir -p capturefile
ffmpeg -v error -y -f lavfi -i testsrc=size=16x8:rate=25 -f lavfi -i sine=sample_rate=8000 -frames:v 2 -t 0.08 \
  -c:v rawvideo -pix_fmt gray -c:a pcm_s16le capturefile/sound.avi

# Captured frames: information headers with uncompressed bitmaps and YUV layouts.
mkdir -p videoframe
python3 - <<'PY'
import struct
def frame(name, width, height, bits, compression, rest, used=0):
    header = struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, compression, 0, 0, 0, used, 0)
    open('videoframe/' + name, 'wb').write(header + rest)
fourcc = lambda code: struct.unpack('<I', code)[0]
frame('pal8', 3, 2, 8, 0, bytes(range(8)) + bytes([0, 1, 2, 0, 1, 0, 1, 0]), 2)
frame('pal4', 3, 1, 4, 0, bytes(range(8)) + bytes([0x01, 0x10, 0, 0]), 2)
frame('mask565', 2, 1, 16, 3, struct.pack('<III', 0xF800, 0x7E0, 0x1F) + bytes([0xFF, 0xFF, 0, 0x7C]))
frame('bgr32', 2, -1, 32, 3, bytes(12) + bytes(range(8)))
frame('bgr24', 2, 2, 24, 0, bytes(range(16)))
for code, size in ((b'YUY2', 16), (b'Y41P', 24), (b'CLJR', 8), (b'IYU1', 12), (b'I420', 12), (b'YVU9', 18)):
    frame(code.decode().lower(), 4, 2, 16, fourcc(code), bytes((i * 37) & 0xFF for i in range(size)))
PY
# The extended library's portable map and Targa readers: each variant of a tiny picture.
tzpic() { mkdir -p "$1"; convert -size 5x3 gradient:red-blue -depth 8 "${@:3}" "$1/$2"; }
tzpic tzpic_ppm raw.ppm
tzpic tzpic_ppm plain.ppm -compress none
tzpic tzpic_ppm wide.ppm -depth 16
tzpic tzpic_ppm gray.pgm -colorspace gray
tzpic tzpic_ppm plain.pbm -monochrome -compress none
tzpic tzpic_ppm raw.pbm -monochrome
tzpic tzpic_targa rle.tga -compress RLE
tzpic tzpic_targa raw.tga -compress None
tzpic tzpic_targa mapped.tga -type Palette -compress RLE
tzpic tzpic_targa gray.tga -colorspace gray
tzpic tzpic_targa alpha.tga -alpha on -compress RLE
# An Autodesk cel of 3 x 2 pixels over a 6-bit palette.
mkdir -p tzpic_autodesk
python3 -c "
import struct, sys
palette = b''.join(bytes((i % 64, 63, 0)) for i in range(256))
sys.stdout.buffer.write(struct.pack('<HHHHHBBI16x', 0x9119, 3, 2, 0, 0, 8, 0, 6) + palette + bytes(range(6)))
" > tzpic_autodesk/small.cel
tzpic tzpic_sgi rle.sgi -compress RLE
tzpic tzpic_sgi verbatim.sgi -compress None
tzpic tzpic_sgi wide.sgi -depth 16 -compress RLE
tzpic tzpic_sgi gray.sgi -colorspace gray -compress RLE
tzpic tzpic_sgi alpha.sgi -alpha on -compress None
tzpic tzpic_pcx truecolour.pcx
tzpic tzpic_pcx mapped.pcx -type Palette
tzpic tzpic_pcx bilevel.pcx -monochrome
convert -size 5x3 gradient:red-blue -colors 16 ppm:- | ppmtopcx -planes 4 > tzpic_pcx/planes.pcx
convert -size 5x3 gradient:red-blue -colors 4 ppm:- | ppmtopcx -packed > tzpic_pcx/cga.pcx
# A Photo-CD overview pack: the signature, its orientation byte, and one 192 x 128 thumbnail.
mkdir -p tzpic_pcdpack
python3 -c "
import sys
head = bytearray(5 * 2048)
head[0:7] = b'PCD_OPA'
head[11] = 1
head[3586] = 1
thumb = b''.join(bytes([i % 256] * 384) + bytes([128 + i % 64] * 96) + bytes([140] * 96) for i in range(64))
sys.stdout.buffer.write(bytes(head) + thumb)
" > tzpic_pcdpack/overview.pcd
tzpic tzpic_psd rle.psd -compress RLE
tzpic tzpic_psd raw.psd -compress None
tzpic tzpic_psd cmyk.psd -colorspace CMYK
tzpic tzpic_psd wide.psd -depth 16
tzpic tzpic_psd mapped.psd -type Palette
tzpic tzpic_psd bilevel.psd -monochrome
tzpic tzpic_psd grayalpha.psd -colorspace gray -alpha on -channel A -fx 0.5 -compress RLE
tzpic tzpic_psd widegrayalpha.psd -colorspace gray -alpha on -channel A -fx 0.5 -depth 16
# A Dr. Halo cut file of 5 x 3 pixels: runs and literals, each row behind its length.
mkdir -p tzpic_cut
printf '\005\000\003\000\000\000\003\000\205\007\000\007\000\003\001\002\003\202\011\000\007\000\005\012\013\014\015\016\000' > tzpic_cut/small.cut
# An RLA file of 4 x 3 pixels with a matte: the row offsets, then length-prefixed packed channels.
mkdir -p tzpic_rla
python3 -c "
import struct, sys
f = bytearray(740)
struct.pack_into('>hhhh', f, 8, 0, 3, 0, 2)
struct.pack_into('>HHHH', f, 20, 3, 1, 0, 0xFFFE)
f[28:31] = b'1.0'
f[580:583] = b'rgb'
struct.pack_into('>H', f, 658, 8)
rows = b''
offsets = []
for y in range(3):
    offsets.append(740 + 12 + len(rows))
    for c in range(4):
        packed = bytes([1, 16 * y + 40 * c, 0xFE, 200 + c, 255])
        rows += struct.pack('>H', len(packed)) + packed
sys.stdout.buffer.write(bytes(f) + b''.join(struct.pack('>I', o) for o in offsets) + rows)
" > tzpic_rla/matte.rla
# A Paint Shop Pro file (major version 5) of 3 x 2 pixels: a vector layer, then a raster layer
# with run-length coded red, green, blue and alpha channels.
mkdir -p tzpic_psp
python3 -c "
import struct, sys
def block(i, content): return b'~BK\0' + struct.pack('<HI', i, len(content)) + content
def chunk(content): return struct.pack('<I', len(content) + 4) + content
attributes = struct.pack('<ii8sBHHHIBIIHI', 3, 2, bytes(8), 0, 1, 24, 1, 256, 0, 0, 0, 2, 1)
def layer(kind, channels):
    info = bytes([kind]) + bytes(114)
    content = chunk(struct.pack('<H', 5) + b'Layer' + info) + struct.pack('<HH', 1, len(channels))
    for kind, packed in channels:
        content += block(5, chunk(struct.pack('<IIHH', len(packed), 6, 0, kind)) + packed)
    return block(4, content)
head = b'Paint Shop Pro Image File\n\x1a'.ljust(32, b'\0') + struct.pack('<HH', 5, 0)
layers = layer(2, [(0, b'\x86\x7f')]) + layer(1, [(1, b'\x83\x10\x83\x20'), (2, b'\x06\x01\x02\x03\x04\x05\x06'), (3, b'\x86\x80'), (0, b'\x86\x7f')])
sys.stdout.buffer.write(head + block(0, chunk(attributes)) + block(3, layers))
" > tzpic_psp/layers.psp
# Two more of 5 x 2 pixels: an 8-bit layer whose one channel is a gray JPEG, and a 4-bit layer
# with its palette and deflated rows of 5 / 2 + 1 bytes.
convert -size 5x2 gradient:black-white pgm:- | cjpeg > tzpic_psp/channel.jpg
python3 -c "
import struct, sys, zlib
def block(i, content): return b'~BK\0' + struct.pack('<HI', i, len(content)) + content
def chunk(content): return struct.pack('<I', len(content) + 4) + content
def psp(depth, compression, packed, size, palette=b''):
    attributes = struct.pack('<ii8sBHHHIBIIHI', 5, 2, bytes(8), 0, compression, depth, 1, 256, 0, 0, 0, 1, 1)
    info = bytes([1]) + bytes(114)
    content = chunk(struct.pack('<H', 5) + b'Layer' + info) + struct.pack('<HH', 1, 1)
    content += block(5, chunk(struct.pack('<IIHH', len(packed), size, 0, 0)) + packed)
    extra = block(2, chunk(struct.pack('<I', len(palette) // 4)) + palette) if palette else b''
    head = b'Paint Shop Pro Image File\n\x1a'.ljust(32, b'\0') + struct.pack('<HH', 5, 0)
    return head + block(0, chunk(attributes)) + extra + block(3, block(4, content))
open('tzpic_psp/jpeg.psp', 'wb').write(psp(8, 3, open('tzpic_psp/channel.jpg', 'rb').read(), 10))
palette = b''.join(bytes([16 * i, 255 - 16 * i, i, 0]) for i in range(16))
open('tzpic_psp/fourbit.psp', 'wb').write(psp(4, 2, zlib.compress(bytes([0x01, 0x23, 0x40, 0x56, 0x78, 0x90])), 6, palette))
"
rm tzpic_psp/channel.jpg
tzpic tzpic_tiff lzw.tif -compress LZW -define tiff:predictor=2
tzpic tzpic_tiff zip.tif -compress Zip
tzpic tzpic_tiff packbits.tif -compress RLE -endian MSB
tzpic tzpic_tiff mapped.tif -type Palette
tzpic tzpic_tiff gray.tif -colorspace gray
tzpic tzpic_tiff bilevel.tif -monochrome -depth 1 -compress None
tiffcp -c g3 tzpic_tiff/bilevel.tif tzpic_tiff/group3.fax
tzpic tzpic_tiff cmyk.tif -colorspace CMYK -compress LZW
tzpic tzpic_tiff ycbcr.tif -colorspace YCbCr -compress None
tzpic tzpic_tiff lab.tif -colorspace Lab -compress None -endian MSB
tzpic tzpic_tiff rgbjpeg.tif -compress jpeg
tzpic tzpic_tiff grayalpha.tif -colorspace gray -alpha on -compress None
tiffcp -c jpeg tzpic_tiff/zip.tif tzpic_tiff/ycbcrjpeg.tif
# Hand-made: subsampled YCbCr blocks (2 x 2, with part blocks at the edges) and ThunderScan codes.
python3 -c "
import struct
def tiff(entries, data):
    entries = sorted(entries + [(273, 4, [8 + 2 + 12 * (len(entries) + 2) + 4]), (279, 4, [len(data)])])
    out = b'II*\0' + struct.pack('<IH', 8, len(entries))
    for tag, kind, values in entries:
        packed = b''.join(struct.pack('<H' if kind == 3 else '<I', v) for v in values)
        out += struct.pack('<HHI', tag, kind, len(values)) + packed.ljust(4, b'\0')
    return out + b'\0' * 4 + data
def page(width, bits, compression, photometric, samples):
    return [(256, 3, [width]), (257, 3, [3]), (258, 3, [bits]), (259, 3, [compression]), (262, 3, [photometric]),
            (277, 3, [samples]), (278, 3, [3])]
blocks = bytes((40 + 30 * b + 7 * i) % 256 for b in range(6) for i in range(6))
open('tzpic_tiff/subsampled.tif', 'wb').write(tiff(page(5, 8, 1, 6, 3) + [(530, 3, [2, 2])], blocks))
open('tzpic_tiff/thunder.tif', 'wb').write(tiff(page(5, 4, 32809, 1, 1), bytes([0xC5, 0x03, 0x5A, 0xCF, 0xAF, 0x02, 0xC1, 0x04])))
"
tzpic tzpic_gif plain.gif -colors 8
tzpic tzpic_gif interlaced.gif -colors 8 -interlace GIF
tzpic tzpic_gif comment.gif -colors 4 -set comment hello
tzpic tzpic_png rgb.png
tzpic tzpic_png interlaced.png -depth 16 -interlace PNG
tzpic tzpic_png alpha.png -alpha on
tzpic tzpic_png gray2.png -colorspace gray -depth 2
tzpic tzpic_png mapped.png -colors 3 -type Palette
tzpic tzpic_png transparent.png -fill blue -draw 'point 1,1' -transparent blue -define png:color-type=2
tzpic tzpic_png graytransparent.png -colorspace gray -fill black -draw 'point 0,0' -transparent black -define png:color-type=0 -define png:bit-depth=4
# An EPS file with a small TIFF preview behind its binary header.
mkdir -p tzpic_eps
python3 -c "
import struct, sys
tiff = open('tzpic_tiff/lzw.tif', 'rb').read()
ps = b'%!PS-Adobe-3.0 EPSF-3.0\n'
sys.stdout.buffer.write(struct.pack('<IIIIIIIH', 0xC6D3D0C5, 30, len(ps), 0, 0, 30 + len(ps), len(tiff), 0xFFFF) + ps + tiff)
" > tzpic_eps/preview.eps

# Capability containers and a memory strip: the first byte picks the kind.
mkdir -p twain
python3 - <<'PY'
import struct
d = 'twain/'
open(d + 'enumeration', 'wb').write(bytes([1]) + struct.pack('<HIII', 7, 3, 1, 0) + struct.pack('<hH', 50, 0) * 3)
open(d + 'range', 'wb').write(bytes([3]) + struct.pack('<HIIIII', 4, 1, 1200, 1, 300, 300))
open(d + 'onevalue', 'wb').write(bytes([2]) + struct.pack('<HI', 6, 1))
open(d + 'array', 'wb').write(bytes([0]) + struct.pack('<HI', 4, 2) + struct.pack('<HH', 1, 2))
open(d + 'strip24', 'wb').write(bytes([4]) + struct.pack('<IIIIII', 9, 3, 2, 1, 0, 18) + bytes([3, 5, 7, 0]) + bytes(range(18)))
PY
# Banded transfers: a header naming the data's format, bands of a BMP file or a headerless
# bitmap, and the end; one page whose header band is sent again at its end with another height.
mkdir -p wiadata
python3 - <<'PY'
import struct
def guid(last): return struct.pack('<IHH', 0xB96B3CA0 + last, 0x0728, 0x11D3) + bytes([0x9D, 0x7B, 0, 0, 0xF8, 0x1E, 0xF3, 0x2E])
def header(last): return bytes([0]) + struct.pack('<I', 28) + guid(last) + struct.pack('<ii', 0, 1)
def band(offset, data): return bytes([1]) + struct.pack('<HH', offset, len(data)) + data
bmp = open('bmp/rgb24.bmp', 'rb').read()
dib = open('bmp/p4.bmp', 'rb').read()[14:]
open('wiadata/bmp', 'wb').write(header(0xB) + band(0, bmp[:40]) + band(40, bmp[40:]) + bytes([2]))
open('wiadata/memorybmp', 'wb').write(header(0xA) + band(0, dib) + bytes([3]) + header(0xA) + band(0, dib) + bytes([2]))
top = bytearray(bmp); top[22:26] = struct.pack('<i', -2)
open('wiadata/reheaded', 'wb').write(header(0xB) + band(0, bytes(top[:54])) + band(54, bmp[54:]) + band(0, bmp[:54]) + bytes([4, 2]))
PY
# Saved selections: none at all, a rectangle in a 1-bit mask, two polygons in an 8-bit mask.
mkdir -p selection
python3 - <<'PY2'
import struct
def selection(width, height, polygons, present, bits, box, rows):
    points = []
    for i, polygon in enumerate(polygons):
        if i: points.append((0xFFFFF, 0xFFFFF))
        points += polygon
    real = [p for p in points if p != (0xFFFFF, 0xFFFFF)]
    pbox = (min(x for x, _ in real), min(y for _, y in real), max(x for x, _ in real), max(y for _, y in real)) if real else (0, 0, 0, 0)
    data = struct.pack('<iii', width, height, len(points)) + b''.join(struct.pack('<ii', *p) for p in points)
    data += struct.pack('<iiii', *pbox) + bytes([present]) + struct.pack('<i', bits) + struct.pack('<iiii', *box)
    return data + bytes([0]) + rows
empty = (0x7FFFFFFF, 0x7FFFFFFF, 0, 0)
open('selection/none', 'wb').write(selection(0, 0, [], 0, 0, empty, b''))
# 12 x 6 at one bit: rows of 4 bytes, bottom row first; columns 2..7 of rows 1..3 set.
rows = b''.join(bytes([0x3F, 0, 0, 0]) if 1 <= 5 - i <= 3 else bytes(4) for i in range(6))
open('selection/rectangle', 'wb').write(selection(12, 6, [[(2, 1), (8, 1), (8, 4), (2, 4)]], 1, 1, (2, 1, 7, 3), rows))
# 5 x 4 at eight bits: rows of 8 bytes with degrees of selection.
rows = b''.join(bytes([0, 64, 128, 255, 32, 0, 0, 0]) for _ in range(4))
open('selection/degrees', 'wb').write(selection(5, 4, [[(1, 0), (4, 0), (4, 4)], [(0, 1), (2, 3), (0, 3)]], 1, 8, (1, 0, 4, 3), rows))
PY2
# Camera raw: small files of each container and coding from the test writers, and loader inputs.
mkdir -p raw_identify raw_decode raw_loaders
"${MORDALE_BUILD:-../../../build/test}/tests/imaging/raw/raw_seeds" .
