#include "imaging/io/KVGifFilter.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVMask.h"
#include "imaging/core/KVQuantizer.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/core/KVProgress.h"
#include "imaging/proc/KVColorModels.h"
#include "platform/ByteWriter.h"
#include "platform/Files.h"
#include "platform/PictureLimits.h"

namespace {

void SetAbort(const TKVProgressRec& progress) {
    if (progress.AbortFlag) progress.AbortFlag->store(true);
}

std::string ImageName(int index) { return "image " + std::to_string(index + 1); }

void ReportPercent(const TKVProgressRec& progress, int percent) {
    if (progress.OnProgress) progress.OnProgress(progress.Sender, percent);
}

// --- Reading

int ReadByte(TStream& stream) {
    uint8_t byte;
    return stream.Read(&byte, 1) == 1 ? byte : -1;
}

bool ReadBytes(TStream& stream, void* buffer, int64_t count) { return stream.Read(buffer, count) == count; }

// Passes over data sub-blocks up to and including the terminator; false when the stream ends.
bool SkipSubBlocks(TStream& stream) {
    for (;;) {
        const int length = ReadByte(stream);
        if (length < 0) return false;
        if (length == 0) return true;
        stream.Seek(length, TSeekOrigin::soCurrent);
    }
}

uint16_t LittleEndian16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// A colour table of 2^bits entries, stored blue, green, red.
bool ReadColorTable(TStream& stream, int bits, std::vector<TKVRGB>& table) {
    std::vector<uint8_t> bytes(size_t(3) << bits);
    if (!ReadBytes(stream, bytes.data(), int64_t(bytes.size()))) return false;
    table.resize(size_t(1) << bits);
    for (size_t i = 0; i < table.size(); ++i) table[i] = KVCreateRGB(bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]);
    return true;
}

// An index past the table reads as black.
TKVRGB Entry(const std::vector<TKVRGB>& table, int index) {
    return size_t(index) < table.size() ? table[size_t(index)] : TKVRGB{};
}

struct TGraphicControl {
    uint8_t packed = 0;
    uint16_t delay = 0;
    uint8_t transparentIndex = 0;
    bool Transparent() const { return packed & 1; }
    uint8_t Disposal() const { return (packed >> 2) & 7; }
};

bool ReadGraphicControl(TStream& stream, TGraphicControl& control) {
    const int size = ReadByte(stream);
    if (size < 0) return false;
    if (size >= 4) {
        uint8_t block[4];
        if (!ReadBytes(stream, block, 4)) return false;
        control = {block[0], LittleEndian16(block + 1), block[3]};
        stream.Seek(size - 4, TSeekOrigin::soCurrent);
    } else {
        stream.Seek(size, TSeekOrigin::soCurrent);
    }
    return SkipSubBlocks(stream);
}

// One comment extension is one text, however many sub-blocks carry it.
bool ReadComments(TStream& stream, TStringList& comments) {
    std::string comment;
    for (;;) {
        const int length = ReadByte(stream);
        if (length < 0) return false;
        if (length == 0) break;
        char text[256];
        if (!ReadBytes(stream, text, length)) return false;
        comment.append(text, size_t(length));
    }
    comment.resize(strnlen(comment.c_str(), comment.size()));
    if (!comment.empty()) comments.Add(comment);
    return true;
}

struct TImageDescriptor {
    int left = 0, top = 0, width = 0, height = 0;
    bool localTable = false, interlaced = false;
    int tableBits = 1;
};

bool ReadDescriptor(TStream& stream, TImageDescriptor& image) {
    uint8_t bytes[9];
    if (!ReadBytes(stream, bytes, 9)) return false;
    image.left = LittleEndian16(bytes), image.top = LittleEndian16(bytes + 2);
    image.width = LittleEndian16(bytes + 4), image.height = LittleEndian16(bytes + 6);
    image.localTable = bytes[8] & 0x80;
    image.interlaced = bytes[8] & 0x40;
    image.tableBits = (bytes[8] & 7) + 1;
    return true;
}

// Two entries, black then white: the picture fits kv1Bit as it is.
bool BlackThenWhite(const std::vector<TKVRGB>& map) {
    return map.size() == 2 && map[0] == TKVRGB{0, 0, 0} && map[1] == TKVRGB{255, 255, 255};
}

void FillBitmap(TKVBitmap& bitmap, const std::vector<uint8_t>& indexes, int width, int height,
                const std::vector<TKVRGB>& map, bool native) {
    if (BlackThenWhite(map)) {
        bitmap.Allocate(width, height, kv1Bit);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = bitmap.GetScanline(y);
            std::memset(row, 0, size_t(bitmap.GetRowLen()));
            for (int x = 0; x < width; ++x)
                if (indexes[size_t(y) * width + x] == 1) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
        }
    } else if (native) {
        bitmap.Allocate(width, height, kv8Paletted);
        for (int i = 0; i < 256; ++i) bitmap.Palette()[i] = Entry(map, i);
        for (int y = 0; y < height; ++y) std::memcpy(bitmap.GetScanline(y), &indexes[size_t(y) * width], size_t(width));
    } else {
        bitmap.Allocate(width, height, kv24RGB);
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y));
            const uint8_t* source = &indexes[size_t(y) * width];
            for (int x = 0; x < width; ++x) row[x] = Entry(map, source[x]);
        }
    }
}

// The mask of the transparent index; reset when no pixel is transparent.
void MakeMask(std::unique_ptr<TKVMask>& mask, const std::vector<uint8_t>& indexes, int width, int height,
              const TGraphicControl& control) {
    if (!mask) mask = std::make_unique<TKVMask>();
    mask->AllocateBits(width, height, 8);
    mask->Fill(255);
    if (control.Transparent())
        for (int y = 0; y < height; ++y) {
            uint8_t* row = mask->GetScanline(y);
            const uint8_t* source = &indexes[size_t(y) * width];
            for (int x = 0; x < width; ++x)
                if (source[x] == control.transparentIndex) row[x] = 0;
        }
    mask->SyncBoundingBox();
    mask->SyncFull();
    if (mask->Full()) mask.reset();
}

struct TReadState {
    TStream& stream;
    TKVBitmap& bitmap;
    std::unique_ptr<TKVMask>& mask;
    bool noMask, paramsOnly;
    TKVProgressRec& progress;
    TIOParamsVals& params;
    std::vector<TKVRGB> globalTable;
    TGraphicControl control;  // of the wanted image
    bool found = false;
    bool cutShort = false;  // the blocks ended without the trailer
};

// The wanted image: its fields into the record, its pixels into the bitmap. False ends the read.
bool ReadWantedImage(TReadState& s, const TImageDescriptor& image, const std::vector<TKVRGB>& localTable) {
    ReportPercent(s.progress, 30);
    if (s.progress.Aborted()) return false;
    TIOParamsVals& params = s.params;
    const std::vector<TKVRGB>& map = image.localTable ? localTable : s.globalTable;
    params.GifTranspColor = Entry(map, s.control.transparentIndex);
    params.GifXPos = image.left, params.GifYPos = image.top;
    params.Width = image.width, params.Height = image.height;
    params.GifDelayTime = s.control.delay;
    params.GifTransparent = s.control.Transparent();
    params.GifInterlaced = image.interlaced;
    params.GifAction = s.control.Disposal();
    // An image without any colour table gets black entries, never undefined ones.
    params.ColorMap = map.empty() ? std::vector<TKVRGB>(size_t(1) << image.tableBits) : map;
    int bits = 0;
    while ((size_t(1) << bits) < params.ColorMap.size()) ++bits;
    params.BitsPerSample = std::max(bits, 1);
    s.found = true;
    if (s.paramsOnly) {
        const int codeSize = ReadByte(s.stream);
        return codeSize >= 0 && SkipSubBlocks(s.stream);
    }

    std::vector<uint8_t> indexes;
    try {
        CheckPictureSize(image.width, image.height, 8, s.stream.Size());
        indexes.assign(size_t(image.width) * size_t(image.height), 0);
    } catch (const std::exception& e) {
        s.progress.Fail(e.what());
        return false;
    }
    TKVGIFLZWDecompressor decode = params.GifLZWDecompressor ? params.GifLZWDecompressor : DefGIFLZWDecompressor;
    const int64_t before = s.stream.Position();
    if (decode) decode(s.stream, image.height, image.width, indexes.data(), image.interlaced);
    if (!decode || s.stream.Position() == before) {
        s.progress.Fail("the compressed data of " + ImageName(params.GifImageIndex) +
                        " are damaged or end before its last row");
        return false;
    }
    ReportPercent(s.progress, 70);
    if (s.progress.Aborted()) return false;
    try {
        FillBitmap(s.bitmap, indexes, image.width, image.height, params.ColorMap, params.IsNativePixelFormat);
        if (!s.noMask) MakeMask(s.mask, indexes, image.width, image.height, s.control);
    } catch (const std::exception& e) {
        s.progress.Fail(e.what());
        return false;
    }
    return true;
}

// Walks the blocks after the header; returns the number of images.
int ReadBlocks(TReadState& s) {
    const int wanted = s.params.GifImageIndex;
    int count = 0;
    while (!s.progress.Aborted()) {
        const int introducer = ReadByte(s.stream);
        if (introducer == ';') break;
        s.cutShort = true;  // until the block is read whole
        if (introducer < 0) break;
        if (introducer == '!') {
            const int label = ReadByte(s.stream);
            bool ok;
            if (label == 0xF9 && count == wanted) ok = ReadGraphicControl(s.stream, s.control);
            else if (label == 0xFE) ok = ReadComments(s.stream, s.params.GifComments);
            else ok = label >= 0 && SkipSubBlocks(s.stream);
            if (!ok) break;
        } else if (introducer == ',') {
            TImageDescriptor image;
            std::vector<TKVRGB> localTable;
            if (!ReadDescriptor(s.stream, image)) break;
            if (image.localTable && !ReadColorTable(s.stream, image.tableBits, localTable)) break;
            if (count == wanted) {
                if (!ReadWantedImage(s, image, localTable)) break;
                ++count;
            } else {
                // An image cut short still counts, so that reading it fails rather than vanishes.
                ++count;
                if (ReadByte(s.stream) < 0 || !SkipSubBlocks(s.stream)) break;
            }
        }
        s.cutShort = false;
    }
    return count;
}

}  // namespace

void ReadGIFStream(TStream& stream, TKVBitmap& bitmap, int& imageCount, bool noMask, std::unique_ptr<TKVMask>& mask,
                   bool paramsOnly, TKVProgressRec& progress, TIOParamsVals& params) {
    imageCount = 0;
    ReportPercent(progress, 0);
    uint8_t header[13];
    if (!ReadBytes(stream, header, 13) || std::memcmp(header, "GIF", 3) != 0) return progress.Fail("no GIF header");
    params.GifVersion.assign(reinterpret_cast<const char*>(header), 6);
    params.GifWinWidth = LittleEndian16(header + 6);
    params.GifWinHeight = LittleEndian16(header + 8);
    params.GifRatio = header[12];
    params.SetDpiX(DefaultDpiX);
    params.SetDpiY(DefaultDpiY);
    params.SamplesPerPixel = 1;
    params.GifComments.Clear();
    TReadState state{stream, bitmap, mask, noMask, paramsOnly, progress, params, {}, {}, false};
    if (header[10] & 0x80) {
        if (!ReadColorTable(stream, (header[10] & 7) + 1, state.globalTable))
            return progress.Fail("the data end within the colour table");
        params.GifBackground = Entry(state.globalTable, header[11]);
    }
    if (stream.Position() >= stream.Size()) return progress.Fail("the data end after the header");
    imageCount = ReadBlocks(state);
    params.SetImageCount(imageCount);
    // Asking for an image the file does not hold is a failure, not an empty success.
    if (!paramsOnly && !state.found)
        progress.Fail(state.cutShort ? "the data end before " + ImageName(params.GifImageIndex)
                                     : "there is no " + ImageName(params.GifImageIndex) + ": the file holds " +
                                           std::to_string(imageCount));
    if (!progress.Aborted()) ReportPercent(progress, 100);
}

// --- Writing

namespace {

// Writes through to another stream; a short write sets the abort flag.
class TCheckedWriteStream : public TStream {
public:
    TCheckedWriteStream(TStream& target, const TKVProgressRec& progress) : target_(target), progress_(progress) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override {
        const int64_t written = target_.Write(buffer, count);
        if (written != count) SetAbort(progress_);
        return written;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return target_.Seek(offset, origin); }
    void SetSize(int64_t size) override { target_.SetSize(size); }

private:
    TStream& target_;
    const TKVProgressRec& progress_;
};

// The picture as indexes into a palette of at most 2^bits colours.
struct TIndexedPicture {
    std::vector<TKVRGB> palette;  // 2^bits entries, unused ones black
    std::vector<uint8_t> indexes;
    std::unique_ptr<TKVQuantizer> quantizer;
};

TIndexedPicture IndexOneBit(TKVBitmap& bitmap) {
    TIndexedPicture picture;
    uint32_t dark = 0, light = 0xFFFFFF;
    std::unique_ptr<TKVBitmap> converted;
    TKVBitmap* bits = &bitmap;
    if (bitmap.GetPixelFormat() != kv1Bit) {
        converted = KVConvertTo1BitIfTwoColors(bitmap, dark, light);
        if (!converted) {
            dark = 0, light = 0xFFFFFF;
            converted = std::make_unique<TKVBitmap>();
            converted->Assign(&bitmap);
            converted->ConvertPixelFormat(kv1Bit);
        }
        bits = converted.get();
    }
    // The picture's own two colours, black and white for a picture of more.
    picture.palette = {KVCreateRGB(uint8_t(dark >> 16), uint8_t(dark >> 8), uint8_t(dark)),
                       KVCreateRGB(uint8_t(light >> 16), uint8_t(light >> 8), uint8_t(light))};
    const int width = bits->GetWidth(), height = bits->GetHeight();
    picture.indexes.resize(size_t(width) * height);
    TKVAccessScope reading(*bits, kvaRead);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = bits->GetScanline(y);
        for (int x = 0; x < width; ++x) picture.indexes[size_t(y) * width + x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
    return picture;
}

// With an alpha channel, every pixel not wholly opaque gets the index after the colours.
TIndexedPicture IndexColours(TKVBitmap& bitmap, TKVBitmap* alpha, int bits, int colours) {
    TIndexedPicture picture;
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    picture.indexes.resize(size_t(width) * height);
    picture.palette.assign(size_t(1) << bits, TKVRGB{});
    TKVAccessScope reading(bitmap, kvaRead);
    if (bitmap.GetPixelFormat() == kv8Paletted && bits == 8 && !alpha) {
        std::copy(bitmap.Palette(), bitmap.Palette() + 256, picture.palette.begin());
        for (int y = 0; y < height; ++y) std::memcpy(&picture.indexes[size_t(y) * width], bitmap.GetScanline(y), size_t(width));
        return picture;
    }
    picture.quantizer = std::make_unique<TKVQuantizer>(bitmap, picture.palette.data(), colours);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.indexes[size_t(y) * width + x] = uint8_t(picture.quantizer->RGBToIndex(bitmap.GetPixelRGB(x, y)));
    if (alpha) {
        TKVBitmap& channel = *alpha;
        TKVAccessScope readingAlpha(channel, kvaRead);
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = channel.GetScanline(y);
            for (int x = 0; x < width; ++x)
                if (row[x] != 255) picture.indexes[size_t(y) * width + x] = uint8_t(colours);
        }
    }
    return picture;
}

// The palette entry nearest to a colour among the first count.
int NearestEntry(const std::vector<TKVRGB>& palette, int count, const TKVRGB& c) {
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < std::min(count, int(palette.size())); ++i) {
        const long dr = palette[size_t(i)].r - c.r, dg = palette[size_t(i)].g - c.g, db = palette[size_t(i)].b - c.b;
        const long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) best = i, bestDistance = distance;
    }
    return best;
}

int IndexOf(const TIndexedPicture& picture, int count, const TKVRGB& colour) {
    return picture.quantizer ? picture.quantizer->RGBToIndex(colour) : NearestEntry(picture.palette, count, colour);
}

// One comment extension per text, so each comes back as itself; a text longer than a sub-block
// goes on in further sub-blocks.
void AppendComments(std::vector<uint8_t>& out, const TStringList& comments) {
    for (int i = 0; i < comments.Count(); ++i) {
        out.insert(out.end(), {0x21, 0xFE});
        const std::string& text = comments.Strings(i);
        for (size_t at = 0; at < text.size(); at += 255) {
            const size_t length = std::min<size_t>(255, text.size() - at);
            out.push_back(uint8_t(length));
            out.insert(out.end(), text.begin() + int64_t(at), text.begin() + int64_t(at + length));
        }
        out.push_back(0);
    }
}

}  // namespace

void WriteGIFStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    ReportPercent(progress, 0);
    if (progress.Aborted()) return;
    // The file keeps each side in 16 bits; a larger picture would come out cut.
    if (bitmap.GetWidth() > 0xFFFF || bitmap.GetHeight() > 0xFFFF) return SetAbort(progress);
    const int bits = std::clamp(params.BitsPerSample, 1, 8);
    const bool alpha = bitmap.GetHasAlphaChannel() && bits > 1;
    const int colours = (1 << bits) - (alpha ? 1 : 0);
    if (alpha) params.GifTransparent = true;
    std::unique_ptr<TKVBitmap> rgb;
    TKVBitmap* source = &bitmap;
    if (bits > 1 && bitmap.GetPixelFormat() != kv24RGB && bitmap.GetPixelFormat() != kv8Paletted) {
        rgb = std::make_unique<TKVBitmap>();
        rgb->Assign(&bitmap);
        rgb->ConvertPixelFormat(kv24RGB);
        source = rgb.get();
    }
    const TIndexedPicture picture =
        bits == 1 ? IndexOneBit(bitmap) : IndexColours(*source, alpha ? bitmap.GetAlphaChannel() : nullptr, bits, colours);
    ReportPercent(progress, 30);
    if (progress.Aborted()) return;

    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    std::vector<uint8_t> head;
    const std::string version = params.GifVersion.size() >= 6 ? params.GifVersion.substr(0, 6) : "GIF89a";
    head.insert(head.end(), version.begin(), version.end());
    PutU16LE(head, width), PutU16LE(head, height);
    head.push_back(uint8_t(0x80 + (bits - 1) * 16 + (bits - 1)));
    head.push_back(uint8_t(IndexOf(picture, colours, params.GifBackground)));
    head.push_back(0);
    for (size_t i = 0; i < (size_t(1) << bits); ++i) {
        const TKVRGB c = i < picture.palette.size() ? picture.palette[i] : TKVRGB{};
        head.insert(head.end(), {c.r, c.g, c.b});
    }
    const int transparentIndex = alpha ? colours : IndexOf(picture, colours, params.GifTranspColor);
    head.insert(head.end(), {0x21, 0xF9, 0x04, uint8_t((params.GifTransparent ? 1 : 0) + 0x08)});
    PutU16LE(head, params.GifDelayTime);
    head.insert(head.end(), {uint8_t(transparentIndex), 0x00, 0x2C});
    PutU16LE(head, params.GifXPos), PutU16LE(head, params.GifYPos), PutU16LE(head, width), PutU16LE(head, height);
    head.push_back(params.GifInterlaced ? 0x40 : 0);

    TCheckedWriteStream out(stream, progress);
    out.Write(head.data(), int64_t(head.size()));
    ReportPercent(progress, 70);
    if (progress.Aborted()) return;
    TKVGIFLZWCompressor encode = params.GifLZWCompressor ? params.GifLZWCompressor : DefGIFLZWCompressor;
    if (!encode) return SetAbort(progress);
    encode(out, height, width, bits, picture.indexes.data(), params.GifInterlaced);
    std::vector<uint8_t> tail;
    AppendComments(tail, params.GifComments);
    tail.push_back(';');
    out.Write(tail.data(), int64_t(tail.size()));
    if (!progress.Aborted()) ReportPercent(progress, 100);
}

void WriteGIFFile(const std::string& fileName, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    TAtomicFile file(fileName);
    WriteGIFStream(file.Stream(), bitmap, params, progress);
    if (!progress.Aborted()) file.Commit();
}

// --- Removing an image

namespace {

// Copies sub-blocks up to the terminator; false when the data end first (what there is is copied).
bool CopySubBlocks(const std::vector<uint8_t>& in, size_t& at, std::vector<uint8_t>* out) {
    while (at < in.size()) {
        const size_t length = in[at];
        const size_t end = std::min(in.size(), at + 1 + length);
        if (out) out->insert(out->end(), in.begin() + int64_t(at), in.begin() + int64_t(end));
        at = end;
        if (length == 0) return true;
    }
    return false;
}

}  // namespace

int DeleteGIFImage(const std::string& fileName, int imageIndex, bool save) {
    TMemoryStream file;
    file.LoadFromFile(fileName);
    const std::vector<uint8_t>& in = file.Bytes();
    if (in.size() < 13 || std::memcmp(in.data(), "GIF", 3) != 0) return 0;
    std::vector<uint8_t> out(in.begin(), in.begin() + 13);
    std::memcpy(out.data() + 3, "89a", 3);
    size_t at = 13;
    if (in[10] & 0x80) {
        const size_t table = size_t(3) << ((in[10] & 7) + 1);
        const size_t end = std::min(in.size(), at + table);
        out.insert(out.end(), in.begin() + int64_t(at), in.begin() + int64_t(end));
        at = end;
    }
    int images = 0, kept = 0;
    bool ended = false;
    while (at < in.size() && !ended) {
        const uint8_t introducer = in[at];
        if (introducer == ';') {
            out.push_back(';');
            break;
        }
        if (introducer == '!' && at + 1 < in.size()) {
            // The graphic control extension belongs to the image that follows it.
            const bool dropped = in[at + 1] == 0xF9 && images == imageIndex;
            std::vector<uint8_t>* target = dropped ? nullptr : &out;
            if (target) target->insert(target->end(), in.begin() + int64_t(at), in.begin() + int64_t(at + 2));
            at += 2;
            CopySubBlocks(in, at, target);
        } else if (introducer == ',' && at + 10 <= in.size()) {
            const bool dropped = images == imageIndex;
            size_t end = at + 10;
            if (in[at + 9] & 0x80) end += size_t(3) << ((in[at + 9] & 7) + 1);
            end = std::min(in.size(), end + 1);  // and the code-size byte
            std::vector<uint8_t>* target = dropped ? nullptr : &out;
            if (target) target->insert(target->end(), in.begin() + int64_t(at), in.begin() + int64_t(end));
            at = end;
            ended = !CopySubBlocks(in, at, target);
            if (!dropped) ++kept;
            ++images;
        } else {
            ++at;
        }
    }
    if (save) {
        TAtomicFile target(fileName);
        target.Stream().WriteBuffer(out.data(), int64_t(out.size()));
        target.Commit();
    }
    return kept;
}
