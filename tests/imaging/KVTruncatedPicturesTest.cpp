// A picture whose file ends early fails to load instead of coming out with its missing rows
// filled, so no half-empty page is made of it; the whole file still loads.
#include <gtest/gtest.h>

#include "PictureFixtures.h"

namespace {

// An uncompressed 64 x 48 grey TIFF with its directory before the pixels (the tools write it
// behind them), so that a cut loses pixels and not the directory; tiffinfo and ImageMagick read it.
const char* const DirectoryFirstTiff = R"(python3 -c "
import struct, sys
w, h = 64, 48
tags = [(256, 3, w), (257, 3, h), (258, 3, 8), (259, 3, 1), (262, 3, 1), (273, 4, 134), (277, 3, 1), (278, 3, h), (279, 4, w * h)]
ifd = struct.pack('<H', len(tags)) + b''.join(struct.pack('<HHII', t, k, 1, v) if k == 4 else struct.pack('<HHIHH', t, k, 1, v, 0) for t, k, v in tags) + bytes(4)
sys.stdout.buffer.write(b'II*\0' + struct.pack('<I', 8) + ifd + bytes(126 - len(ifd)) + bytes((x * 5 + y * 3) & 255 for y in range(h) for x in range(w)))
")";

}  // namespace

TEST(KVTruncatedPictures, FailInEveryDriver) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(64, 48));
    const std::string in = Quoted(folder.Path("p.ppm"));
    const struct {
        const char* name;
        std::string command;  // writes to standard output
    } cases[] = {
        {"24.bmp", "ppmtobmp -bpp 24 " + in},
        {"8.bmp", "pnmquant 200 " + in + " | ppmtobmp -bpp 8"},
        {"1.bmp", "ppmtopgm " + in + " | pgmtopbm | ppmtobmp -bpp 1"},
        {"rle8.bmp", "convert " + in + " -colors 200 -compress RLE BMP3:-"},
        {"rle4.bmp", "convert " + in + " -colors 12 -type Palette -compress RLE BMP3:-"},
        {"24.pcx", "ppmtopcx -24bit " + in},
        {"8.pcx", "pnmquant 200 " + in + " | ppmtopcx -8bit"},
        {"4.pcx", "pnmquant 16 " + in + " | ppmtopcx -planes 4"},
        {"1.pcx", "ppmtopgm " + in + " | pgmtopbm | ppmtopcx"},
        {"raw.tga", "ppmtotga -rgb -norle " + in},
        {"rle.tga", "ppmtotga -rgb " + in},
        {"mapped.tga", "pnmquant 200 " + in + " | ppmtotga -cmap"},
        {"p6.ppm", "cat " + in},
        {"p5.pgm", "ppmtopgm " + in},
        {"p4.pbm", "ppmtopgm " + in + " | pgmtopbm"},
        {"p3.ppm", "pnmtoplainpnm " + in},
        {"p.wbmp", "ppmtopgm " + in + " | pgmtopbm | pbmtowbmp"},
        {"p.ico", "convert " + in + " ico:-"},
        {"p.gif", "convert " + in + " -colors 200 gif:-"},
        {"p.png", "pnmtopng " + in},
        {"p.jpg", "cjpeg -quality 90 " + in},
        {"p.jp2", "convert " + in + " jp2:-"},
        {"raw.tif", "convert " + in + " -compress None -define tiff:rows-per-strip=48 tif:-"},
        {"lzw.tif", "convert " + in + " -compress LZW -define tiff:rows-per-strip=48 tif:-"},
        {"g4.tif", "ppmtopgm " + in + " | pgmtopbm | pnmtotiff -g4"},
        {"first.tif", DirectoryFirstTiff},
    };
    for (const auto& c : cases) {
        const std::string path = folder.Path(c.name);
        MakeFixture(path, c.command + " > " + Quoted(path));
        TKestovaIO whole;
        EXPECT_TRUE(LoadsInto(whole, path)) << c.name;
        const std::string bytes = ReadFile(path);
        for (const size_t kept : {bytes.size() / 2, bytes.size() * 9 / 10}) {
            WriteFile(path, bytes.substr(0, kept));
            TKestovaIO cut;
            EXPECT_FALSE(LoadsInto(cut, path)) << c.name << " cut to " << kept << " of " << bytes.size() << " bytes";
        }
    }
}
