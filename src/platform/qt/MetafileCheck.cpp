#include "MetafileCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "platform/Graphics.h"
#include "platform/PictureLimits.h"

namespace {

constexpr uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr int64_t PlaceableHeaderSize = 22, WmfHeaderSize = 18;
constexpr int64_t EmfHeaderSize = 88;
constexpr uint32_t EmfSignature = 0x464D4520;  // " EMF"
constexpr uint32_t EMR_HEADER = 1, EMR_EOF = 14;
constexpr double HundredthsOfMmPerInch = 2540;

[[noreturn]] void Invalid(const std::string& detail) { throw EInvalidGraphic("Metafile is not valid: " + detail); }

bool IsEnhanced(const TByteReader& in) {
    return in.Size() >= EmfHeaderSize && in.U32LEAt(0) == EMR_HEADER && in.U32LEAt(40) == EmfSignature;
}

// A side of the frame in screen pixels, refused when empty or too large.
int ScreenPixels(double inches) {
    const double pixels = std::nearbyint(inches * ScreenPixelsPerInch);
    if (!(pixels >= 1 && pixels <= MaxMetafileSide)) Invalid("a frame with an empty or too long side");
    return int(pixels);
}

// Where a record that carries a device-independent bitmap keeps it: bytes from the record's start.
int64_t PictureOffset(uint16_t function) {
    switch (function) {
        case 0x0142: return 10;  // DIB pattern brush
        case 0x0940: return 22;  // DIB block transfer
        case 0x0B41: return 26;  // stretched DIB block transfer
        case 0x0D33: return 24;  // DIB to device
        case 0x0F43: return 28;  // stretched DIB
        default: return 0;
    }
}

// The player allocates what a bitmap's header claims, in full colour: the claim must pass the
// picture limits for the record's bytes and, for uncompressed rows, be covered by them.
void CheckPicture(const TByteReader& record) {
    if (record.Size() < 12) Invalid("truncated picture header");
    const int64_t headerSize = record.U32LEAt(0);
    const bool core = headerSize == 12;
    if (!core && (headerSize < 40 || headerSize > record.Size())) Invalid("picture header size");
    const int64_t width = core ? record.U16LEAt(4) : int32_t(record.U32LEAt(4));
    const int64_t height = core ? record.U16LEAt(6) : std::abs(int64_t(int32_t(record.U32LEAt(8))));
    const int bits = record.U16LEAt(core ? 10 : 14);
    const uint32_t compression = core ? 0 : record.U32LEAt(16);
    const std::string problem = PictureSizeProblem(width, height, 32, record.Size());
    if (!problem.empty()) Invalid(problem);
    if (compression != 0 && compression != 3) return;  // compressed: the limits hold
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) Invalid("picture depth");
    int64_t colours = bits <= 8 ? int64_t(1) << bits : 0;
    if (!core && record.U32LEAt(32) != 0) colours = std::min<int64_t>(record.U32LEAt(32), colours);
    const int64_t rows = (width * bits + 31) / 32 * 4 * height;
    if (headerSize + colours * (core ? 3 : 4) + rows > record.Size()) Invalid("picture larger than its record");
}

// The header and the chain of records up to the end record. The header's size fields are set to
// what the walk found, so the player allocates no more than that.
TCheckedMetafile CheckedWmf(const std::vector<uint8_t>& data, const TByteReader& in) {
    if (in.Size() < PlaceableHeaderSize + WmfHeaderSize || in.U32LEAt(0) != PlaceableKey)
        Invalid("not a placeable Windows metafile");
    uint16_t checksum = 0;
    for (int i = 0; i < 10; ++i) checksum ^= in.U16LEAt(2 * i);
    if (checksum != in.U16LEAt(20)) Invalid("header checksum");
    const int inch = in.U16LEAt(14);
    if (inch == 0) Invalid("no units per inch");
    const auto left = int16_t(in.U16LEAt(6)), top = int16_t(in.U16LEAt(8));
    const auto right = int16_t(in.U16LEAt(10)), bottom = int16_t(in.U16LEAt(12));
    TCheckedMetafile checked;
    checked.width = ScreenPixels(double(right - left) / inch);
    checked.height = ScreenPixels(double(bottom - top) / inch);

    const uint16_t type = in.U16LEAt(PlaceableHeaderSize);
    if ((type != 1 && type != 2) || in.U16LEAt(PlaceableHeaderSize + 2) != 9) Invalid("metafile header");
    int64_t position = PlaceableHeaderSize + WmfHeaderSize;
    int64_t largest = 0;
    for (;;) {
        if (in.Size() - position < 6) Invalid("truncated records");
        const int64_t words = in.U32LEAt(position);
        if (words < 3 || words > (in.Size() - position) / 2) Invalid("record size");
        largest = std::max(largest, words);
        const uint16_t function = in.U16LEAt(position + 4);
        const int64_t pictureOffset = PictureOffset(function);
        if (pictureOffset && words != (function >> 8) + 3) {  // that size means "no bitmap"
            if (2 * words < pictureOffset) Invalid("truncated picture header");
            CheckPicture(TByteReader(in.BytesAt(position + pictureOffset, 2 * words - pictureOffset)));
        }
        position += 2 * words;
        if (function == 0) break;
    }
    checked.records.assign(data.begin(), data.begin() + position);
    StoreU32LE(checked.records.data() + PlaceableHeaderSize + 6, uint32_t((position - PlaceableHeaderSize) / 2));
    StoreU32LE(checked.records.data() + PlaceableHeaderSize + 12, uint32_t(largest));
    return checked;
}

// As for Windows metafiles; the header also loses its description and pixel format, which are
// not needed and would be read from wherever their offsets point.
TCheckedMetafile CheckedEmf(const std::vector<uint8_t>& data, const TByteReader& in) {
    const int64_t headerSize = in.U32LEAt(4);
    if (headerSize < EmfHeaderSize || headerSize % 4 != 0 || headerSize > in.Size()) Invalid("header size");
    constexpr int64_t Frame = 24;  // left, top, right, bottom in 0.01 mm
    const auto frameSide = [&](int64_t low, int64_t high) {
        return ScreenPixels((double(int32_t(in.U32LEAt(Frame + high))) - int32_t(in.U32LEAt(Frame + low))) /
                            HundredthsOfMmPerInch);
    };
    TCheckedMetafile checked;
    checked.enhanced = true;
    checked.width = frameSide(0, 8);
    checked.height = frameSide(4, 12);

    int64_t position = 0, records = 0;
    for (;;) {
        if (in.Size() - position < 8) Invalid("truncated records");
        const uint32_t type = in.U32LEAt(position);
        const int64_t size = in.U32LEAt(position + 4);
        if (size < 8 || size % 4 != 0 || size > in.Size() - position) Invalid("record size");
        if ((position == 0) != (type == EMR_HEADER)) Invalid("header record");
        position += size;
        ++records;
        if (type == EMR_EOF) break;
    }
    checked.records.assign(data.begin(), data.begin() + position);
    uint8_t* header = checked.records.data();
    StoreU32LE(header + 48, uint32_t(position));
    StoreU32LE(header + 52, uint32_t(records));
    StoreU32LE(header + 60, 0);
    StoreU32LE(header + 64, 0);
    if (headerSize >= 100) {
        StoreU32LE(header + 88, 0);
        StoreU32LE(header + 92, 0);
    }
    return checked;
}

}  // namespace

TCheckedMetafile CheckMetafile(const std::vector<uint8_t>& data) {
    const TByteReader in(data);
    try {
        return IsEnhanced(in) ? CheckedEmf(data, in) : CheckedWmf(data, in);
    } catch (const EShortData& e) {
        Invalid(e.Message());
    }
}
