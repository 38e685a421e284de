#include "imaging/io/KVPcx.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVQuantizer.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/proc/KVColorModels.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"

namespace {

constexpr int headerSize = 128;
constexpr uint32_t dcxMagic = 0x3ADE68B1;
constexpr int maxDcxPages = 1024;

struct TPcxHeader {
    int version = 0, encoding = 0, bitsPerPixel = 0, planes = 0, bytesPerLine = 0;
    int64_t width = 0, height = 0;
    int dpiX = 0, dpiY = 0;
    std::array<TKVRGB, 16> palette{};
};

TPcxHeader ReadHeader(const TByteReader& r) {
    TPcxHeader h;
    if (r.U8At(0) != 10) throw EInvalidGraphic("not a PCX picture");
    h.version = r.U8At(1);
    h.encoding = r.U8At(2);
    h.bitsPerPixel = r.U8At(3);
    if (h.bitsPerPixel == 0 || h.bitsPerPixel > 8 || h.encoding > 1) throw EInvalidGraphic("unsupported PCX coding");
    h.width = int64_t(r.U16LEAt(8)) - r.U16LEAt(4) + 1;
    h.height = int64_t(r.U16LEAt(10)) - r.U16LEAt(6) + 1;
    if (h.width < 1 || h.height < 1) throw EInvalidGraphic("PCX picture without pixels");
    h.dpiX = r.U16LEAt(12);
    h.dpiY = r.U16LEAt(14);
    for (int i = 0; i < 16; ++i) h.palette[size_t(i)] = {r.U8At(18 + 3 * i), r.U8At(17 + 3 * i), r.U8At(16 + 3 * i)};
    h.planes = r.U8At(65);
    h.bytesPerLine = r.U16LEAt(66);
    return h;
}

// Run-length state carried from one line to the next, as a run may cross the end of a line.
// Data that end early fail the picture rather than leave rows blank.
class TPcxLineDecoder {
public:
    TPcxLineDecoder(TByteReader& r, bool encoded) : r_(r), encoded_(encoded) {}

    void Decode(uint8_t* line, int64_t length) {
        if (!encoded_) {
            if (r_.Remaining() < length) throw Truncated();
            std::memcpy(line, r_.Bytes(length).data(), size_t(length));
            return;
        }
        for (int64_t at = 0; at < length;) {
            if (runLeft_ == 0) {
                if (r_.Remaining() == 0) throw Truncated();
                const uint8_t b = r_.U8();
                if (b < 0xC0) {
                    line[at++] = b;
                    continue;
                }
                runLeft_ = b & 0x3F;
                if (r_.Remaining() == 0) throw Truncated();
                runValue_ = r_.U8();
            }
            const int64_t n = std::min<int64_t>(runLeft_, length - at);
            std::fill(line + at, line + at + n, runValue_);
            at += n;
            runLeft_ -= int(n);
        }
    }

private:
    static EShortData Truncated() { return EShortData("PCX picture is truncated"); }

    TByteReader& r_;
    bool encoded_;
    int runLeft_ = 0;
    uint8_t runValue_ = 0;
};

// The layouts with pixels; any other would read as a blank picture.
bool DecodedLayout(const TPcxHeader& h) {
    if (h.bytesPerLine == 0) return false;
    if (h.planes == 1) return h.bitsPerPixel == 1 || h.bitsPerPixel == 4 || h.bitsPerPixel == 8;
    return (h.planes == 3 && h.bitsPerPixel == 8) || (h.planes == 4 && h.bitsPerPixel == 1);
}

void PutRow(const TPcxHeader& h, const std::vector<TKVRGB>& palette256, const uint8_t* line, uint8_t* row) {
    const int64_t bpl = h.bytesPerLine;
    if (h.planes == 1 && h.bitsPerPixel == 1) {
        std::memcpy(row, line, size_t(std::min((h.width + 7) / 8, bpl)));
    } else if (h.planes == 1 && h.bitsPerPixel == 8) {
        for (int64_t x = 0; x < std::min(h.width, bpl); ++x) std::memcpy(row + 3 * x, &palette256[line[x]], 3);
    } else if (h.planes == 1 && h.bitsPerPixel == 4) {
        for (int64_t x = 0; x < std::min(h.width, 2 * bpl); ++x) {
            const int index = x % 2 ? line[x / 2] & 15 : line[x / 2] >> 4;
            std::memcpy(row + 3 * x, &h.palette[size_t(index)], 3);
        }
    } else if (h.planes == 3 && h.bitsPerPixel == 8) {
        for (int64_t x = 0; x < std::min(h.width, bpl); ++x) {
            row[3 * x + 2] = line[x];
            row[3 * x + 1] = line[bpl + x];
            row[3 * x] = line[2 * bpl + x];
        }
    } else if (h.planes == 4 && h.bitsPerPixel == 1) {
        for (int64_t x = 0; x < std::min(h.width, 8 * bpl); ++x) {
            int index = 0;
            for (int plane = 0; plane < 4; ++plane)
                if (line[plane * bpl + x / 8] & (0x80 >> (x % 8))) index |= 1 << plane;
            std::memcpy(row + 3 * x, &h.palette[size_t(index)], 3);
        }
    }
}

void ReadPcx(const uint8_t* data, int64_t size, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
             TKVProgressRec& progress) {
    TByteReader r(data, size);
    const TPcxHeader h = ReadHeader(r);
    params.SetDpiX(h.dpiX);
    params.SetDpiY(h.dpiY);
    if (params.DpiX() == 0) {
        params.SetDpiX(DefaultDpiX);
        params.SetDpiY(DefaultDpiY);
    }
    // The 256-colour palette is the last 768 bytes; its 0x0C marker is not required.
    std::vector<TKVRGB> palette256(256);
    const bool paletteAtEnd = h.planes == 1 && h.bitsPerPixel > 4;
    if (paletteAtEnd) {
        if (size < headerSize + 768) throw EShortData("PCX palette missing");
        for (int i = 0; i < 256; ++i) {
            const int64_t at = size - 768 + 3 * i;
            palette256[size_t(i)] = {r.U8At(at + 2), r.U8At(at + 1), r.U8At(at)};
        }
    }
    params.BitsPerSample = h.bitsPerPixel;
    params.SamplesPerPixel = h.planes;
    params.Width = int(h.width);
    params.Height = int(h.height);
    params.PcxVersion = h.version;
    params.ColorMap.clear();
    if (h.bitsPerPixel == 8 && h.planes == 1) {
        params.ColorMap = palette256;
    } else if (h.bitsPerPixel == 1 && h.planes == 4) {
        params.ColorMap.assign(h.palette.begin(), h.palette.end());
        params.BitsPerSample = 4;
        params.SamplesPerPixel = 1;
    } else if (h.bitsPerPixel < 8) {
        params.ColorMap.assign(h.palette.begin(), h.palette.begin() + std::min(16, 1 << h.bitsPerPixel));
    }
    if (paramsOnly) return;
    if (!DecodedLayout(h)) throw EInvalidGraphic("unsupported PCX layout");
    const bool oneBit = h.bitsPerPixel == 1 && h.planes == 1;
    CheckPictureSize(h.width, h.height, oneBit ? 1 : 24, size);
    // The lines are decoded whole, however far bytes per line exceeds the width.
    CheckPictureSize(int64_t(h.planes) * h.bytesPerLine, h.height, 8, size);
    r.Seek(headerSize);
    // The palette at the end is no pixel data, so a file cut short cannot pass it off as some.
    TByteReader pixels(r.Bytes(size - headerSize - (paletteAtEnd ? 768 : 0)));
    std::vector<uint8_t> line(size_t(h.planes) * size_t(h.bytesPerLine));
    bitmap.Allocate(int(h.width), int(h.height), oneBit ? kv1Bit : kv24RGB);
    TKVAccessScope writing(bitmap, kvaWrite);
    TPcxLineDecoder decoder(pixels, h.encoding == 1);
    StartProgress(progress, int(h.height));
    for (int y = 0; y < h.height && !progress.Aborted(); ++y) {
        decoder.Decode(line.data(), int64_t(line.size()));
        PutRow(h, palette256, line.data(), bitmap.GetScanline(y));
        progress.Report(y);
    }
}

// --- Writing

void PutLine(std::vector<uint8_t>& out, const uint8_t* line, int64_t length, bool encoded) {
    if (!encoded) {
        out.insert(out.end(), line, line + length);
        return;
    }
    for (int64_t at = 0; at < length;) {
        int64_t run = 1;
        while (at + run < length && run < 63 && line[at + run] == line[at]) ++run;
        if (run > 1 || line[at] >= 0xC0) out.insert(out.end(), {uint8_t(0xC0 + run), line[at]});
        else out.push_back(line[at]);
        at += run;
    }
}

class TPcxWriter {
public:
    TPcxWriter(TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress)
        : params_(params), progress_(progress), width_(bitmap.GetWidth()), height_(bitmap.GetHeight()) {
        depth_ = params.BitsPerSample == 1 ? 1 : params.BitsPerSample * params.SamplesPerPixel;
        if (depth_ != 1 && depth_ != 4 && depth_ != 8 && depth_ != 24) throw EInvalidGraphic("PCX cannot hold this depth");
        Prepare(bitmap);
    }

    void Write(TStream& stream) {
        std::vector<uint8_t> out = Header();
        const int planes = depth_ == 24 ? 3 : 1;
        std::vector<uint8_t> line(size_t(bytesPerLine_) * planes);
        StartProgress(progress_, height_);
        for (int y = 0; y < height_ && !progress_.Aborted(); ++y) {
            FillLine(y, line.data());
            for (int p = 0; p < planes; ++p)
                PutLine(out, line.data() + int64_t(p) * bytesPerLine_, bytesPerLine_, params_.PcxCompressed);
            progress_.Report(y);
        }
        if (progress_.Aborted()) return;
        if (depth_ == 8) {
            out.push_back(12);
            for (const TKVRGB& c : palette_) out.insert(out.end(), {c.r, c.g, c.b});
        }
        stream.WriteBuffer(out.data(), int64_t(out.size()));
    }

private:
    void Prepare(TKVBitmap& bitmap) {
        if (depth_ == 1) {
            palette_ = {TKVRGB{}, TKVRGB{255, 255, 255}};
            if (bitmap.GetPixelFormat() == kv1Bit) {
                oneBitSource_ = &bitmap;
                return;
            }
            uint32_t color1 = 0, color2 = 0;
            oneBit_ = KVConvertTo1BitIfTwoColors(bitmap, color1, color2);
            if (oneBit_) {
                palette_ = {TKVRGB{uint8_t(color1), uint8_t(color1 >> 8), uint8_t(color1 >> 16)},
                            TKVRGB{uint8_t(color2), uint8_t(color2 >> 8), uint8_t(color2 >> 16)}};
            } else {
                oneBit_ = OneBitCopy(bitmap);
            }
            oneBitSource_ = oneBit_.get();
            return;
        }
        if (bitmap.GetPixelFormat() == kv24RGB) {
            source_ = &bitmap;
        } else {
            copy_ = std::make_unique<TKVBitmap>();
            copy_->Assign(&bitmap);
            copy_->ConvertPixelFormat(kv24RGB);
            source_ = copy_.get();
        }
        if (depth_ == 4 || depth_ == 8) {
            palette_.assign(size_t(1) << depth_, TKVRGB{});
            quantizer_ = std::make_unique<TKVQuantizer>(*source_, palette_.data(), 1 << depth_);
        }
    }

    std::vector<uint8_t> Header() {
        const int64_t rowBytes = depth_ == 1 ? (int64_t(width_) + 7) / 8 : depth_ == 4 ? (int64_t(width_) + 1) / 2 : width_;
        bytesPerLine_ = (rowBytes + 1) / 2 * 2;
        if (bytesPerLine_ > 0xFFFF || width_ > 0x10000 || height_ > 0x10000) throw EInvalidGraphic("too large for PCX");
        std::vector<uint8_t> h(headerSize, 0);
        h[0] = 10;
        h[1] = uint8_t(params_.PcxVersion);
        h[2] = params_.PcxCompressed ? 1 : 0;
        h[3] = depth_ == 1 ? 1 : depth_ == 4 ? 4 : 8;
        StoreU16LE(&h[8], width_ - 1);
        StoreU16LE(&h[10], height_ - 1);
        StoreU16LE(&h[12], params_.DpiX());
        StoreU16LE(&h[14], params_.DpiY());
        if (depth_ <= 4)
            for (size_t i = 0; i < palette_.size(); ++i) {
                h[16 + 3 * i] = palette_[i].r;
                h[17 + 3 * i] = palette_[i].g;
                h[18 + 3 * i] = palette_[i].b;
            }
        h[65] = depth_ == 24 ? 3 : 1;
        StoreU16LE(&h[66], int(bytesPerLine_));
        StoreU16LE(&h[68], depth_ == 24 ? 0 : 1);
        return h;
    }

    void FillLine(int y, uint8_t* line) {
        const int planes = depth_ == 24 ? 3 : 1;
        std::fill(line, line + bytesPerLine_ * planes, uint8_t(0));
        if (depth_ == 1) {
            TKVAccessScope reading(*oneBitSource_, kvaRead);
            std::memcpy(line, oneBitSource_->GetScanline(y), size_t((width_ + 7) / 8));
            return;
        }
        TKVAccessScope reading(*source_, kvaRead);
        const uint8_t* row = source_->GetScanline(y);
        for (int x = 0; x < width_; ++x) {
            const TKVRGB& c = reinterpret_cast<const TKVRGB*>(row)[x];
            if (depth_ == 24) {
                line[x] = c.r;
                line[bytesPerLine_ + x] = c.g;
                line[2 * bytesPerLine_ + x] = c.b;
            } else if (depth_ == 8) {
                line[x] = uint8_t(quantizer_->RGBToIndex(c));
            } else {
                line[x / 2] |= uint8_t(quantizer_->RGBToIndex(c) << (x % 2 ? 0 : 4));
            }
        }
    }

    TIOParamsVals& params_;
    TKVProgressRec& progress_;
    int width_, height_, depth_ = 0;
    int64_t bytesPerLine_ = 0;
    std::vector<TKVRGB> palette_;
    std::unique_ptr<TKVBitmap> oneBit_, copy_;
    TKVBitmap* oneBitSource_ = nullptr;
    TKVBitmap* source_ = nullptr;
    std::unique_ptr<TKVQuantizer> quantizer_;
};

// --- DCX

std::vector<uint32_t> DcxPageOffsets(const TByteReader& r) {
    std::vector<uint32_t> offsets;
    for (int64_t at = 4; at + 4 <= r.Size() && offsets.size() < maxDcxPages; at += 4) {
        const uint32_t offset = r.U32LEAt(at);
        if (offset == 0) break;
        offsets.push_back(offset);
    }
    return offsets;
}

bool IsDcx(const TByteReader& r) {
    if (r.Size() < 8 || r.U32LEAt(0) != dcxMagic) return false;
    for (uint32_t offset : DcxPageOffsets(r))
        if (offset >= uint64_t(r.Size())) return false;
    return true;
}

// Where each page ends: at the nearest page offset above its own, or at the end of the data.
int64_t DcxPageEnd(const std::vector<uint32_t>& offsets, uint32_t offset, int64_t size) {
    int64_t end = size;
    for (uint32_t other : offsets)
        if (other > offset) end = std::min<int64_t>(end, other);
    return end;
}


}  // namespace

void ReadPCXStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress,
                   int64_t dataLength) {
    RunDriver(progress, [&] {
        const std::vector<uint8_t> bytes = ReadStreamRest(stream, std::max<int64_t>(dataLength, 0));
        ReadPcx(bytes.data(), int64_t(bytes.size()), bitmap, params, paramsOnly, progress);
    });
}

void WritePCXStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    RunDriver(progress, [&] {
        if (bitmap.IsEmpty()) throw EInvalidGraphic("no picture to write");
        TPcxWriter(bitmap, params, progress).Write(stream);
    });
}

namespace {

// The page table: the magic and up to 1024 offsets with their zero end.
std::vector<uint8_t> DcxTable(TStream& stream) {
    const int64_t start = stream.Position();
    std::vector<uint8_t> table = ReadStreamRest(stream, 4 + 4 * (maxDcxPages + 1));
    stream.SetPosition(start);
    return table;
}

}  // namespace

bool IsDCXStream(TStream& stream) {
    try {
        const std::vector<uint8_t> table = DcxTable(stream);
        const TByteReader r(table.data(), int64_t(table.size()));
        if (r.Size() < 8 || r.U32LEAt(0) != dcxMagic) return false;
        const int64_t size = stream.Size() - stream.Position();
        for (uint32_t offset : DcxPageOffsets(r))
            if (offset >= uint64_t(size)) return false;
        return true;
    } catch (const Exception&) {
        return false;
    }
}

int GetDCXStreamPageCount(TStream& stream) {
    try {
        const std::vector<uint8_t> table = DcxTable(stream);
        const TByteReader r(table.data(), int64_t(table.size()));
        if (r.Size() < 4 || r.U32LEAt(0) != dcxMagic) return 0;
        return int(DcxPageOffsets(r).size());
    } catch (const Exception&) {
        return 0;
    }
}

void ReadDCXStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    RunDriver(progress, [&] {
        const std::vector<uint8_t> bytes = ReadStreamRest(stream);
        const TByteReader r(bytes.data(), int64_t(bytes.size()));
        if (!IsDcx(r)) throw EInvalidGraphic("not a DCX file");
        const std::vector<uint32_t> offsets = DcxPageOffsets(r);
        if (offsets.empty()) throw EInvalidGraphic("DCX file without pages");
        params.DcxImageIndex = std::clamp(params.DcxImageIndex, 0, int(offsets.size()) - 1);
        const uint32_t offset = offsets[size_t(params.DcxImageIndex)];
        const int64_t end = DcxPageEnd(offsets, offset, r.Size());
        ReadPcx(bytes.data() + offset, end - offset, bitmap, params, paramsOnly, progress);
    });
}

void WriteDCXStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    RunDriver(progress, [&] {
        stream.SetPosition(0);
        const std::vector<uint8_t> old = ReadStreamRest(stream);
        const TByteReader r(old.data(), int64_t(old.size()));
        if (!old.empty() && !IsDcx(r)) throw EInvalidGraphic("not a DCX file");
        const std::vector<uint32_t> offsets = old.empty() ? std::vector<uint32_t>{} : DcxPageOffsets(r);
        if (offsets.size() >= maxDcxPages) throw EInvalidGraphic("DCX file is full");
        TMemoryStream page;
        WritePCXStream(page, bitmap, params, progress);
        if (progress.Aborted()) return;
        // A page index past the last page appends.
        const size_t insertAt = size_t(std::clamp(params.DcxImageIndex, 0, int(offsets.size())));
        const size_t pages = offsets.size() + 1;
        std::vector<uint8_t> out(4 + 4 * (pages + 1), 0);
        StoreU32LE(&out[0], dcxMagic);
        for (size_t i = 0, from = 0; i < pages; ++i) {
            if (out.size() > UINT32_MAX) throw EInvalidGraphic("DCX file too large");
            StoreU32LE(&out[size_t(4 + 4 * i)], uint32_t(out.size()));
            if (i == insertAt) {
                out.insert(out.end(), page.Bytes().begin(), page.Bytes().end());
                continue;
            }
            const uint32_t offset = offsets[from++];
            const int64_t end = DcxPageEnd(offsets, offset, r.Size());
            out.insert(out.end(), old.begin() + offset, old.begin() + end);
        }
        stream.SetSize(0);
        stream.SetPosition(0);
        stream.WriteBuffer(out.data(), int64_t(out.size()));
    });
}
