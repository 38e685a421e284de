#include "JpegLayout.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ByteReader.h"
#include "Classes.h"

using namespace JpegMarker;

namespace {

bool IsArithmeticFrame(uint8_t marker) { return marker >= 0xC9 && marker != 0xCC; }

// What the frame header says the scans must hold.
struct TFrameClaim {
    int64_t units = 0;  // minimum coded units
    bool arithmetic = false;
};

[[noreturn]] void Refuse(const std::string& why) { throw EInvalidGraphic("Damaged JPEG data: " + why); }

// The next marker code at the reader's position, after any fill bytes.
uint8_t NextMarker(TByteReader& reader) {
    if (reader.U8() != 0xFF) Refuse("a segment does not start with a marker");
    uint8_t marker = reader.U8();
    while (marker == 0xFF) marker = reader.U8();
    return marker;
}

TFrameClaim ReadFrameHeader(uint8_t marker, std::span<const uint8_t> body, TJpegLayout& layout) {
    TByteReader frame(body);
    if (frame.U8() != 8) Refuse("only 8-bit samples can be passed through");
    layout.Height = frame.U16BE();
    layout.Width = frame.U16BE();
    layout.Components = frame.U8();
    if (layout.Width == 0 || layout.Height == 0) Refuse("the frame has no size");
    if (layout.Components != 1 && layout.Components != 3 && layout.Components != 4)
        Refuse("unsupported number of colour components");
    int horizontal = 1, vertical = 1;
    for (int i = 0; i < layout.Components; ++i) {
        frame.Skip(1);
        const uint8_t sampling = frame.U8();
        horizontal = std::max(horizontal, sampling >> 4);
        vertical = std::max(vertical, sampling & 15);
        frame.Skip(1);
    }
    const auto units = [](int64_t size, int factor) { return (size + 8 * factor - 1) / (8 * factor); };
    return {units(layout.Width, horizontal) * units(layout.Height, vertical), IsArithmeticFrame(marker)};
}

// Every minimum coded unit of a Huffman-coded image takes at least one bit in its first scan, so
// fewer bytes than that cannot hold the size the frame claims: a forged header, not a picture.
void CheckScanHoldsFrame(const TFrameClaim& claim, int64_t scanBytes) {
    if (!claim.arithmetic && scanBytes < (claim.units + 7) / 8)
        Refuse("its scan data are too short for the size its header claims");
}

// Walks the segments up to the first scan; returns the offset of the scan's data. EShortData when
// the data end first.
int64_t ReadHeader(std::span<const uint8_t> data, TJpegLayout& layout, TFrameClaim& claim) {
    TByteReader reader(data);
    if (reader.U8() != 0xFF || reader.U8() != SOI) Refuse("no start of image");
    layout = TJpegLayout();
    for (;;) {
        const uint8_t marker = NextMarker(reader);
        if (marker == TEM || IsJpegRestart(marker)) continue;
        if (marker == SOI || marker == EOI) Refuse("the image ends before its scan");
        const uint16_t length = reader.U16BE();
        if (length < 2) Refuse("a segment length below 2");
        const std::span<const uint8_t> body = reader.Bytes(length - 2);
        if (IsJpegFrameHeader(marker)) {
            if (layout.Components) Refuse("two frame headers");
            claim = ReadFrameHeader(marker, body, layout);
        } else if (marker == APP14 && body.size() >= 5 && std::memcmp(body.data(), "Adobe", 5) == 0) {
            layout.AdobeMarker = true;
        } else if (marker == SOS) {
            if (!layout.Components) Refuse("a scan before the frame header");
            return reader.Position();
        }
    }
}

// True when an end-of-image marker follows the scan data from `from`: entropy-coded bytes, restart
// markers and the segments between the scans of a progressive image are stepped over.
bool EndsAfterScan(std::span<const uint8_t> data, int64_t from) {
    TByteReader reader(data);
    int64_t position = from;
    while (position < reader.Size()) {
        const auto* found = static_cast<const uint8_t*>(
            std::memchr(data.data() + position, 0xFF, size_t(reader.Size() - position)));
        if (!found) return false;
        position = found - data.data();
        if (position + 1 >= reader.Size()) return false;
        const uint8_t next = reader.U8At(position + 1);
        if (next == 0x00 || next == 0xFF || IsJpegRestart(next)) {
            position += next == 0xFF ? 1 : 2;
        } else if (next == EOI) {
            return true;
        } else {
            if (position + 4 > reader.Size()) return false;
            const uint16_t length = reader.U16BEAt(position + 2);
            if (length < 2) return false;
            position += 2 + length;
        }
    }
    return false;
}

}  // namespace

bool IsJpegFrameHeader(uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}
bool IsJpegRestart(uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; }
bool JpegMarkerHasSegment(uint8_t marker) { return (marker >= 0xC0 && marker <= 0xCF) || (marker >= SOS && marker <= 0xFE); }
bool StartsJpeg(std::span<const uint8_t> bytes) {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == SOI && bytes[2] == 0xFF;
}

TJpegLayout ParseJpegLayout(std::span<const uint8_t> data) {
    TJpegLayout layout;
    TFrameClaim claim;
    int64_t scan = 0;
    try {
        scan = ReadHeader(data, layout, claim);
    } catch (const EShortData&) {
        Refuse("truncated before its scan");
    }
    CheckScanHoldsFrame(claim, static_cast<int64_t>(data.size()) - scan);
    if (!EndsAfterScan(data, scan)) Refuse("truncated, no end of image after the scan");
    return layout;
}

TJpegLayout ReadJpegLayout(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead);
    const int64_t size = file.Size();
    // Most headers fit in the first 64 KiB; large metadata makes the head grow until the scan.
    std::vector<uint8_t> head;
    TJpegLayout layout;
    TFrameClaim claim;
    int64_t scan = 0;
    for (int64_t wanted = std::min<int64_t>(size, 1 << 16);; wanted = std::min(size, wanted * 2)) {
        head.resize(size_t(wanted));
        file.SetPosition(0);
        ReadExact(file, head.data(), wanted, "JPEG header");
        try {
            scan = ReadHeader(head, layout, claim);
            break;
        } catch (const EShortData&) {
            if (wanted == size) Refuse("truncated before its scan");
        }
    }
    CheckScanHoldsFrame(claim, size - scan);
    uint8_t end[2] = {};
    if (size >= scan + 2) {
        file.SetPosition(size - 2);
        ReadExact(file, end, 2, "JPEG end");
        if (end[0] == 0xFF && end[1] == EOI) return layout;
    }
    // Something follows the image, or it was cut: only a walk through the scans can tell.
    std::vector<uint8_t> whole(static_cast<size_t>(size));
    file.SetPosition(0);
    ReadExact(file, whole.data(), size, "JPEG data");
    return ParseJpegLayout(whole);
}
