// The stages, texts and row progress every extended reader reports while it loads, also when the
// load fails.
#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PSPBuilder.h"
#include "TestSupport.h"
#include "platform/Classes.h"
#include "platform/Exception.h"
#include "platform/Graphics.h"
#include "tzpicformats/AutodeskGraphic.h"
#include "tzpicformats/CUTGraphic.h"
#include "tzpicformats/EPSGraphic.h"
#include "tzpicformats/GIFGraphic.h"
#include "tzpicformats/PCDGraphic.h"
#include "tzpicformats/PCXGraphic.h"
#include "tzpicformats/PNGGraphic.h"
#include "tzpicformats/PPMGraphic.h"
#include "tzpicformats/PSDGraphic.h"
#include "tzpicformats/PSPGraphic.h"
#include "tzpicformats/RLAGraphic.h"
#include "tzpicformats/SGIGraphic.h"
#include "tzpicformats/TIFFGraphic.h"
#include "tzpicformats/TargaGraphic.h"

using namespace std::string_literals;

namespace {

struct TEvent {
    TProgressStage stage;
    int percent;
    TRect rect;
    std::string message;
    bool operator==(const TEvent&) const = default;
};

void PrintTo(const TEvent& e, std::ostream* os) {
    *os << int(e.stage) << ' ' << e.percent << " (" << e.rect.Left << ',' << e.rect.Top << ',' << e.rect.Right
        << ',' << e.rect.Bottom << ") \"" << e.message << '"';
}

constexpr auto Starting = TProgressStage::psStarting, Running = TProgressStage::psRunning, Ending = TProgressStage::psEnding;

using TMake = std::function<std::unique_ptr<TGraphic>()>;

template <class T>
TMake Make() {
    return [] { return std::make_unique<T>(); };
}

struct TRecordedLoad {
    std::vector<TEvent> events;
    std::string error;  // "(no exception)" when the load succeeded
};

// Loads bytes, recording every progress call; the handler raises at the first running call of
// "Transfering..." when abortInRows is set, as a user's abort would.
TRecordedLoad LoadRecorded(TGraphic& graphic, const std::string& bytes, bool abortInRows = false) {
    TRecordedLoad load;
    std::string stage;
    graphic.OnProgress = [&](TObject* sender, TProgressStage kind, uint8_t percent, const TRect& rect,
                             const std::string& message) {
        EXPECT_EQ(sender, &graphic);
        load.events.push_back({kind, percent, rect, message});
        if (kind == Starting) stage = message;
        if (abortInRows && kind == Running && stage == "Transfering...") throw Exception("Aborted by the user");
    };
    TMemoryStream stream;
    stream.Write(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    load.error = MessageOf([&] { graphic.LoadFromStream(stream); });
    return load;
}

// Empty when the events are well formed: every stage starts with a text, runs with percentages
// that never fall or pass 100, and ends before the next one starts; none is left open.
std::string StageProblem(const std::vector<TEvent>& events) {
    bool open = false;
    int percent = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const TEvent& e = events[i];
        const std::string at = " at event " + std::to_string(i);
        if (e.stage == Starting) {
            if (open) return "a stage starts inside another" + at;
            if (e.message.empty()) return "a stage starts without a text" + at;
            open = true;
            percent = 0;
        } else if (!open) {
            return "a running or ending call outside a stage" + at;
        } else if (e.stage == Running) {
            if (e.percent < percent || e.percent > 100) return "the percentage falls or passes 100" + at;
            percent = e.percent;
        } else {
            open = false;
        }
    }
    return open ? "a stage is left open" : "";
}

std::vector<std::string> StageTexts(const std::vector<TEvent>& events) {
    std::vector<std::string> texts;
    for (const TEvent& e : events)
        if (e.stage == Starting) texts.push_back(e.message);
    return texts;
}

// Empty when the rows of "Transfering..." move the band down one row per running call from the
// top, the band as wide as the stage's start (and as width, when given), and the stage ends just
// below the rows it reported.
std::string RowBandProblem(const std::vector<TEvent>& events, int width = -1) {
    int row = -1, right = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const TEvent& e = events[i];
        const std::string at = " at event " + std::to_string(i);
        if (e.stage == Starting) {
            row = e.message == "Transfering..." ? 0 : -1;
            right = e.rect.Right;
            if (row == 0 && width >= 0 && right != width) return "the band is not as wide as the picture" + at;
        }
        if (row < 0) continue;
        if (!(e.rect == Rect(0, row, right, row + 1))) return "the band is not at row " + std::to_string(row) + at;
        if (e.stage == Running) ++row;
        if (e.stage == Ending) row = -1;
    }
    return "";
}

// The running calls of the last stage started.
std::vector<TEvent> LastStageRows(const std::vector<TEvent>& events) {
    std::vector<TEvent> rows;
    for (const TEvent& e : events) {
        if (e.stage == Starting) rows.clear();
        if (e.stage == Running) rows.push_back(e);
    }
    return rows;
}

// --- Small files of each format

// An uncompressed 24-bit Targa of 3 x 2 pixels stored top-down.
std::string Targa3x2() {
    return "\0\0\x02\0\0\0\0\0\0\0\0\0\x03\0\x02\0\x18\x20"s + std::string(18, '\x40');
}

// A verbatim one-channel SGI picture of 2 x 2.
std::string Sgi2x2() {
    std::string file(512, '\0');
    file[0] = '\x01';
    file[1] = '\xDA';
    file[3] = 1;   // bytes per channel
    file[5] = 2;   // dimension
    file[7] = 2;   // width
    file[9] = 2;   // height
    file[11] = 1;  // channels
    return file + "\x10\x20\x30\x40"s;
}

// A run-length gray Targa of 3 x 2 stored top-down: one run packet per row.
std::string TargaRle3x2() {
    return "\0\0\x0B\0\0\0\0\x18\0\0\0\0\x03\0\x02\0\x08\x20"s + "\x82\x40\x82\x50"s;
}

// An Autodesk cel of 2 x rows with an all-zero palette.
std::string AutodeskCel(int rows) {
    std::string file(32, '\0');
    file[0] = '\x19';
    file[1] = '\x91';
    file[2] = 2;
    file[4] = char(rows);
    file[10] = 8;
    return file + std::string(768, '\0') + std::string(size_t(2 * rows), '\x01');
}

// A Dr. Halo cut of 2 x rows: each row one run of two pixels.
std::string HaloCut(int rows) {
    std::string file = "\x02\0"s + char(rows) + "\0\0\0"s;
    for (int y = 0; y < rows; ++y) file += "\x03\0\x82\x07\0"s;
    return file;
}

// An RLA file of 2 x rows without matte: each channel of each row one run of two pixels.
std::string Rla(int rows) {
    std::string file(740, '\0');
    file[11] = 1;  // active right
    file[15] = char(rows - 1);  // active top
    file[21] = 3;  // colour channels
    file[26] = '\xFF';
    file[27] = '\xFE';
    file.replace(28, 3, "1.0");
    file.replace(580, 3, "rgb");
    file[659] = 8;
    const int firstRow = 740 + 4 * rows;
    for (int y = 0; y < rows; ++y) file += "\0\0"s + char((firstRow + 12 * y) >> 8) + char(firstRow + 12 * y);
    for (int y = 0; y < rows; ++y)
        for (const char value : {'\x10', '\x20', '\x30'}) file += "\0\x02\x01"s + value;
    return file;
}

// A little-endian gray TIFF of 2 x 2 in two strips of one row each.
std::string TiffTwoStrips() {
    std::string file = "II\x2A\0\x08\0\0\0"s + "\x08\0"s;
    const auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        for (const uint32_t v : {uint32_t(tag), uint32_t(type)}) file += {char(v), char(v >> 8)};
        for (const uint32_t v : {count, value}) file += {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    entry(256, 3, 1, 2);    // width
    entry(257, 3, 1, 2);    // height
    entry(258, 3, 1, 8);    // bits per sample
    entry(259, 3, 1, 1);    // no compression
    entry(262, 3, 1, 1);    // black is zero
    entry(273, 4, 2, 110);  // strip offsets
    entry(278, 3, 1, 1);    // rows per strip
    entry(279, 4, 2, 118);  // strip byte counts
    file += std::string(4, '\0');
    return file + "\x7E\0\0\0\x80\0\0\0"s + "\x02\0\0\0\x02\0\0\0"s + "\x10\x20\x30\x40"s;
}

// A gray PNG of 2 x 2 whose image data is split after the first row over two IDAT chunks; the
// deflate stream stores its bytes, so the first chunk alone gives that row.
std::string PngInTwoChunks() {
    const auto be32 = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    const auto chunk = [&](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        return be32(uint32_t(data.size())) + body + be32(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    };
    const std::string rows = "\0\x10\x20\0\x30\x40"s;
    const std::string deflate = "\x78\x01\x01\x06\0\xF9\xFF"s + rows +
                                be32(uint32_t(adler32(1, reinterpret_cast<const Bytef*>(rows.data()), uInt(rows.size()))));
    return "\x89PNG\r\n\x1A\n"s + chunk("IHDR", be32(2) + be32(2) + "\x08\0\0\0\0"s) + chunk("IDAT", deflate.substr(0, 10)) +
           chunk("IDAT", deflate.substr(10)) + chunk("IEND", "");
}

// An uncompressed gray Photoshop file of 3 x 2.
std::string PhotoshopGray3x2() {
    std::string file = "8BPS\0\x01"s + std::string(6, '\0') + "\0\x01\0\0\0\x02\0\0\0\x03\0\x08\0\x01"s;
    return file + std::string(12, '\0') + "\0\0"s + "\x10\x20\x30\x40\x50\x60"s;
}

// A Photo-CD overview pack: thumbnails of 192 x 128 after sector 5.
std::string PhotoCDOverview() {
    std::string pack(5 * 2048, '\0');
    pack.replace(0, 7, "PCD_OPA");
    for (int pair = 0; pair < 64; ++pair) pack += std::string(384, char(200)) + std::string(192, char(156));
    return pack;
}

std::string PaintShopPro3x2() {
    const TPSPChannel red{1, "\x83\x10\x83\x20"s, 6}, green{2, "\x06\x01\x02\x03\x04\x05\x06"s, 6}, blue{3, "\x86\x80"s, 6};
    return PSPFile(3, 2, 24, 1, {{1, {red, green, blue}}});
}

// An Encapsulated PostScript file whose preview is the given TIFF.
std::string EpsAround(const std::string& tiff) {
    std::string header(30, '\0');
    const auto put = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) header[at + size_t(i)] = char(value >> (8 * i));
    };
    put(0, 0xC6D3D0C5u);
    put(20, 30);
    put(24, uint32_t(tiff.size()));
    return header + tiff;
}

// A picture of 3 x 2 (or size) written by ImageMagick with these options.
std::string MadeByImageMagick(const std::string& options, const std::string& target, const std::string& size = "3x2") {
    TScratchFolder folder;
    const std::string path = folder.Path("picture");
    const TCommandResult made = RunTool("convert -size " + size + " gradient:red-blue -depth 8 " + options + " " + target + ":" + Quoted(path), false);
    EXPECT_EQ(made.status, 0) << made.output;
    return ReadFile(path);
}

// --- Exact sequences

struct TSequenceCase {
    std::string name;
    TMake make;
    std::function<std::string()> bytes;
    std::vector<TEvent> expected;
};

const TSequenceCase Sequences[] = {
    // Portable maps go straight to their rows.
    {"PortableGrayMap", Make<TPPMGraphic>(), [] { return "P5 2 3 255\n\x01\x02\x03\x04\x05\x06"s; },
     {{Starting, 0, {0, 0, 2, 1}, "Transfering..."},
      {Running, 33, {0, 0, 2, 1}, ""},
      {Running, 66, {0, 1, 2, 2}, ""},
      {Running, 100, {0, 2, 2, 3}, ""},
      {Ending, 0, {0, 3, 2, 4}, ""}}},
    {"Targa", Make<TTargaGraphic>(), Targa3x2,
     {{Starting, 0, {0, 0, 0, 1}, "Preparing..."},
      {Ending, 0, {0, 0, 0, 1}, ""},
      {Starting, 0, {0, 0, 3, 1}, "Transfering..."},
      {Running, 50, {0, 0, 3, 1}, ""},
      {Running, 100, {0, 1, 3, 2}, ""},
      {Ending, 0, {0, 2, 3, 3}, ""}}},
    // SGI ends its preparing stage at 100 %.
    {"SGI", Make<TSGIGraphic>(), Sgi2x2,
     {{Starting, 0, {0, 0, 0, 1}, "Preparing..."},
      {Ending, 100, {0, 0, 0, 1}, ""},
      {Starting, 0, {0, 0, 2, 1}, "Transfering..."},
      {Running, 50, {0, 0, 2, 1}, ""},
      {Running, 100, {0, 1, 2, 2}, ""},
      {Ending, 0, {0, 2, 2, 3}, ""}}},
    {"GIF", Make<TGIFGraphic>(), [] { return MadeByImageMagick("-colors 4", "gif"); },
     {{Starting, 0, {0, 0, 0, 1}, "Preparing..."},
      {Ending, 0, {0, 0, 0, 1}, ""},
      {Starting, 0, {0, 0, 0, 1}, "Loading data..."},
      {Ending, 0, {0, 0, 0, 1}, ""},
      {Starting, 0, {0, 0, 3, 1}, "Transfering..."},
      {Running, 50, {0, 0, 3, 1}, ""},
      {Running, 100, {0, 1, 3, 2}, ""},
      {Ending, 0, {0, 2, 3, 3}, ""}}},
    // An interlaced picture reports its rows only in the last pass, counting those stored before.
    {"InterlacedGIF", Make<TGIFGraphic>(), [] { return MadeByImageMagick("-colors 4 -interlace Line", "gif", "3x5"); },
     {{Starting, 0, {0, 0, 0, 1}, "Preparing..."},
      {Ending, 0, {0, 0, 0, 1}, ""},
      {Starting, 0, {0, 0, 0, 1}, "Loading data..."},
      {Ending, 0, {0, 0, 0, 1}, ""},
      {Starting, 0, {0, 0, 3, 1}, "Transfering..."},
      {Running, 80, {0, 3, 3, 4}, ""},
      {Running, 100, {0, 4, 3, 5}, ""},
      {Ending, 0, {0, 5, 3, 6}, ""}}},
    {"InterlacedPNG", Make<TPNGGraphic>(), [] { return MadeByImageMagick("-interlace PNG", "png", "3x5"); },
     {{Starting, 0, {0, 0, 3, 1}, "Preparing..."},
      {Ending, 0, {0, 0, 3, 1}, ""},
      {Starting, 0, {0, 0, 3, 1}, "Transfering..."},
      {Running, 80, {0, 3, 3, 4}, ""},
      {Running, 100, {0, 4, 3, 5}, ""},
      {Ending, 0, {0, 5, 3, 6}, ""}}},
    // PNG and TIFF widen the band while they prepare.
    {"PNG", Make<TPNGGraphic>(), [] { return MadeByImageMagick("", "png"); },
     {{Starting, 0, {0, 0, 3, 1}, "Preparing..."},
      {Ending, 0, {0, 0, 3, 1}, ""},
      {Starting, 0, {0, 0, 3, 1}, "Transfering..."},
      {Running, 50, {0, 0, 3, 1}, ""},
      {Running, 100, {0, 1, 3, 2}, ""},
      {Ending, 0, {0, 2, 3, 3}, ""}}},
    {"TIFF", Make<TTIFFGraphic>(), [] { return MadeByImageMagick("-compress None", "tif"); },
     {{Starting, 0, {0, 0, 0, 1}, "Preparing..."},
      {Ending, 0, {0, 0, 3, 1}, ""},
      {Starting, 0, {0, 0, 3, 1}, "Transfering..."},
      {Running, 50, {0, 0, 3, 1}, ""},
      {Running, 100, {0, 1, 3, 2}, ""},
      {Ending, 0, {0, 2, 3, 3}, ""}}},
};

TEST(ReaderProgress, StagesAndTextsInOrder) {
    for (const TSequenceCase& c : Sequences) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<TGraphic> graphic = c.make();
        const TRecordedLoad load = LoadRecorded(*graphic, c.bytes());
        EXPECT_EQ(load.error, "(no exception)");
        EXPECT_EQ(load.events, c.expected);
    }
}

// --- Failures: the open stage still ends, and a header that is refused opens none.

struct TFailureCase {
    std::string name;
    TMake make;
    std::string bytes;
    bool abortInRows;
    std::string error;
    std::vector<TEvent> expected;
};

// "Transfering..." over rows of this width, of which done were reported before the stage ended.
std::vector<TEvent> Transfer(int width, int height, int done) {
    std::vector<TEvent> events = {{Starting, 0, {0, 0, width, 1}, "Transfering..."}};
    for (int row = 0; row < done; ++row) events.push_back({Running, (row + 1) * 100 / height, {0, row, width, row + 1}, ""});
    events.push_back({Ending, 0, {0, done, width, done + 1}, ""});
    return events;
}

std::vector<TEvent> AfterPreparing(int endPercent, int right, const std::vector<TEvent>& then) {
    std::vector<TEvent> events = {{Starting, 0, {0, 0, 0, 1}, "Preparing..."}, {Ending, endPercent, {0, 0, right, 1}, ""}};
    events.insert(events.end(), then.begin(), then.end());
    return events;
}

std::string Cut(const std::string& bytes, size_t less) { return bytes.substr(0, bytes.size() - less); }

const TFailureCase Failures[] = {
    // Files cut inside their rows report the rows before the cut, then the end.
    {"TargaCutInItsSecondRow", Make<TTargaGraphic>(), Cut(Targa3x2(), 6), false, "", AfterPreparing(0, 0, Transfer(3, 2, 1))},
    {"RunLengthTargaCutInItsSecondRow", Make<TTargaGraphic>(), Cut(TargaRle3x2(), 1), false, "", AfterPreparing(0, 0, Transfer(3, 2, 1))},
    {"SGICutInItsSecondRow", Make<TSGIGraphic>(), Cut(Sgi2x2(), 1), false, "", AfterPreparing(100, 0, Transfer(2, 2, 1))},
    {"PortableMapCutInItsLastRow", Make<TPPMGraphic>(), "P5 2 3 255\n\x01\x02\x03\x04\x05"s, false,
     "Stream read error in PPM file.", Transfer(2, 3, 2)},
    {"AutodeskCutInItsSecondRow", Make<TAutodeskGraphic>(), Cut(AutodeskCel(2), 1), false, "", Transfer(2, 2, 1)},
    {"DrHaloCutInItsSecondRow", Make<TCUTGraphic>(), Cut(HaloCut(2), 2), false, "", Transfer(2, 2, 1)},
    {"RLACutInItsSecondRow", Make<TRLAGraphic>(), Cut(Rla(2), 2), false, "", Transfer(2, 2, 1)},
    {"TIFFCutInItsSecondStrip", Make<TTIFFGraphic>(), Cut(TiffTwoStrips(), 1), false, "", AfterPreparing(0, 2, Transfer(2, 2, 1))},
    {"GrayPhotoshopCutInItsSecondRow", Make<TPSDGraphic>(), Cut(PhotoshopGray3x2(), 1), false, "", AfterPreparing(0, 0, Transfer(3, 2, 1))},
    {"PNGCutInItsSecondImageChunk", Make<TPNGGraphic>(), Cut(PngInTwoChunks(), 16), false, "",
     {{Starting, 0, {0, 0, 2, 1}, "Preparing..."}, {Ending, 0, {0, 0, 2, 1}, ""}, {Starting, 0, {0, 0, 2, 1}, "Transfering..."},
      {Running, 50, {0, 0, 2, 1}, ""}, {Ending, 0, {0, 1, 2, 2}, ""}}},
    // A run-length Targa packet may run into the next row, but not past the picture.
    {"TargaPacketPastThePicture", Make<TTargaGraphic>(), Cut(TargaRle3x2(), 4) + "\x86\x40"s, false,
     "Compressed image data is damaged.", AfterPreparing(0, 0, Transfer(3, 2, 2))},
    {"GIFWithoutItsSignature", Make<TGIFGraphic>(), "GIX89a"s + std::string(20, '\0'), false,
     "Cannot load image. Invalid or unexpected GIF image format.", {}},
    {"TargaAbortedInItsRows", Make<TTargaGraphic>(), Targa3x2(), true, "Aborted by the user",
     {{Starting, 0, {0, 0, 0, 1}, "Preparing..."},
      {Ending, 0, {0, 0, 0, 1}, ""},
      {Starting, 0, {0, 0, 3, 1}, "Transfering..."},
      {Running, 50, {0, 0, 3, 1}, ""},
      {Ending, 0, {0, 0, 3, 1}, ""}}},
};

TEST(ReaderProgress, FailedLoadsEndTheStageTheyOpened) {
    for (const TFailureCase& c : Failures) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<TGraphic> graphic = c.make();
        const TRecordedLoad load = LoadRecorded(*graphic, c.bytes, c.abortInRows);
        EXPECT_NE(load.error, "(no exception)");
        if (!c.error.empty()) {
            EXPECT_EQ(load.error, c.error);
        }
        EXPECT_EQ(load.events, c.expected);
    }
}

// A graphic that failed once reports a later load from its start again.
TEST(ReaderProgress, ALoadAfterAFailureStartsAfresh) {
    TTargaGraphic graphic;
    LoadRecorded(graphic, Targa3x2(), true);
    EXPECT_EQ(LoadRecorded(graphic, Targa3x2()).events, Sequences[1].expected);
}

// --- Every reader: the stages it names, rows reported, and no stage left open when cut short

struct TReaderCase {
    std::string name;
    TMake make;
    std::function<std::string()> bytes;
    std::vector<std::string> stages;
};

const std::vector<std::string> Plain = {"Transfering..."}, Prepared = {"Preparing...", "Transfering..."},
                               Loaded = {"Preparing...", "Loading data...", "Transfering..."};

const TReaderCase Readers[] = {
    {"PPM", Make<TPPMGraphic>(), [] { return MadeByImageMagick("", "ppm"); }, Plain},
    {"Autodesk", Make<TAutodeskGraphic>(), [] { return AutodeskCel(2); }, Plain},
    {"DrHalo", Make<TCUTGraphic>(), [] { return HaloCut(2); }, Plain},
    {"RLA", Make<TRLAGraphic>(), [] { return Rla(2); }, Plain},
    {"Targa", Make<TTargaGraphic>(), [] { return MadeByImageMagick("-compress RLE", "tga"); }, Prepared},
    {"PCX", Make<TPCXGraphic>(), [] { return MadeByImageMagick("", "pcx"); }, Prepared},
    {"PNG", Make<TPNGGraphic>(), [] { return MadeByImageMagick("", "png"); }, Prepared},
    {"TIFF", Make<TTIFFGraphic>(), [] { return MadeByImageMagick("-compress LZW", "tif"); }, Prepared},
    {"TIFFInStrips", Make<TTIFFGraphic>(), TiffTwoStrips, Prepared},
    {"PNGInChunks", Make<TPNGGraphic>(), PngInTwoChunks, Prepared},
    {"RunLengthTarga", Make<TTargaGraphic>(), TargaRle3x2, Prepared},
    {"Photoshop", Make<TPSDGraphic>(), PhotoshopGray3x2, Prepared},
    {"EPS", Make<TEPSGraphic>(), [] { return EpsAround(MadeByImageMagick("-compress None", "tif")); }, Prepared},
    {"SGI", Make<TSGIGraphic>(), [] { return MadeByImageMagick("-compress RLE", "sgi"); }, Prepared},
    {"GrayPhotoshop", Make<TPSDGraphic>(), [] { return MadeByImageMagick("-colorspace gray", "psd"); }, Prepared},
    {"RGBPhotoshop", Make<TPSDGraphic>(), [] { return MadeByImageMagick("-compress RLE", "psd"); }, Loaded},
    {"PaintShopPro", Make<TPSPGraphic>(), PaintShopPro3x2, Loaded},
    {"GIF", Make<TGIFGraphic>(), [] { return MadeByImageMagick("-colors 4", "gif"); }, Loaded},
    {"PhotoCD", Make<TPCDGraphic>(), PhotoCDOverview, {"Preparing...", "Loading data...", "Upsampling...", "Transfering..."}},
};

TEST(ReaderProgress, EveryReaderNamesItsStagesAndReportsEachRow) {
    for (const TReaderCase& c : Readers) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<TGraphic> graphic = c.make();
        const TRecordedLoad load = LoadRecorded(*graphic, c.bytes());
        ASSERT_EQ(load.error, "(no exception)");
        EXPECT_EQ(StageProblem(load.events), "");
        EXPECT_EQ(StageTexts(load.events), c.stages);
        const int height = graphic->Height();
        const std::vector<TEvent> rows = LastStageRows(load.events);
        ASSERT_EQ(int(rows.size()), height);
        EXPECT_EQ(rows.back(), (TEvent{Running, 100, Rect(0, height - 1, graphic->Width(), height), ""}));
        EXPECT_EQ(RowBandProblem(load.events, graphic->Width()), "");
    }
}

TEST(ReaderProgress, CutShortFilesLeaveNoStageOpen) {
    for (const TReaderCase& c : Readers) {
        const std::string bytes = c.bytes();
        for (size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 1024) {
            SCOPED_TRACE(c.name + " cut at " + std::to_string(cut));
            const std::unique_ptr<TGraphic> graphic = c.make();
            const TRecordedLoad load = LoadRecorded(*graphic, bytes.substr(0, cut));
            EXPECT_EQ(StageProblem(load.events), "");
            EXPECT_EQ(RowBandProblem(load.events), "");
            if (load.error == "(no exception)") {
                EXPECT_EQ(StageTexts(load.events), c.stages);
            }
        }
    }
}

}  // namespace
