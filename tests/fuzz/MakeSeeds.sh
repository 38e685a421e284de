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
