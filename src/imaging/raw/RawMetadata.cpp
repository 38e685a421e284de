// The CIFF heap's metadata into the parameter record: camera names, software, picture size, the
// maker's shot records as a maker note, and the smallest embedded JPEG as the preview.
#include <algorithm>
#include <atomic>
#include <set>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/raw/KVRaw.h"
#include "imaging/raw/RawContext.h"
#include "platform/Classes.h"

namespace {

constexpr int maxHeapDepth = 8;

struct TStoredRecord {
    uint16_t tag;
    std::vector<uint16_t> values;
};

struct TMetadataWalk {
    TMetadataWalk(TRawInput& input, TIOParamsVals& record) : in(input), params(record) {}
    TRawInput& in;
    TIOParamsVals& params;
    std::vector<TStoredRecord> stored;
    int64_t bestWidth = 2147483646, bestHeight = 2147483646;
    int64_t bestAt = -1, bestLength = 0;
    // Heaps already walked and records still to read: nested and overlapping heaps end.
    std::set<int64_t> walked;
    int budget = 1 << 16;
};

// A string of the record: its bytes up to a NUL or the record's end.
std::string RecordText(TRawInput& in, int64_t at, int64_t length) {
    in.Seek(at);
    return in.Text(length);
}

// The size of a JPEG picture inside the file, read by the JPEG driver alone.
bool JpegSize(TRawInput& in, int64_t at, int64_t length, int64_t& width, int64_t& height) {
    const auto bytes = in.BytesAt(at, length);
    TKVMemStream stream(bytes.data(), length);
    TIOParamsVals params(nullptr);
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    TKVBitmap unused;
    ReadJPEGStream(stream, nullptr, unused, false, false, false, false, true, progress, params);
    width = params.Width;
    height = params.Height;
    return !aborted && width > 0 && height > 0;
}

void WalkHeap(TMetadataWalk& walk, int64_t offset, int64_t length, int depth) {
    TRawInput& in = walk.in;
    if (depth > maxHeapDepth || length < 4 || !walk.walked.insert(offset).second) return;
    const int64_t table = offset + in.Get32At(offset + length - 4);
    if (table < offset || table + 2 > offset + length) return;
    const int records = in.Get16At(table);
    for (int i = 0; i < records && walk.budget-- > 0; ++i) {
        const int64_t entry = table + 2 + 10 * int64_t(i);
        if (entry + 10 > offset + length) return;
        const int type = in.Get16At(entry);
        const int64_t recordLength = in.Get32(), recordOffset = in.Get32();
        // Small values live in the record itself, in place of its length and offset.
        const bool inline_ = type >= 0x4000;
        const int64_t data = inline_ ? entry + 2 : offset + recordOffset;
        const int64_t size = inline_ ? 8 : recordLength;
        if (data < offset || size < 0 || data + size > offset + length) continue;
        try {
            switch (type & 0x3FFF) {
            case 0x0805: walk.params.ExifImageDescription = RecordText(in, data, size); break;
            case 0x080a: {
                walk.params.ExifMake = RecordText(in, data, size);
                const int64_t model = data + int64_t(walk.params.ExifMake.size()) + 1;
                if (model < data + size) walk.params.ExifModel = RecordText(in, model, data + size - model);
                break;
            }
            case 0x080b: walk.params.ExifSoftware = RecordText(in, data, size); break;
            case 0x102a:
            case 0x102d: {
                TStoredRecord record{uint16_t((type & 0x3FFF) == 0x102a ? 4 : 1), {}};
                in.Seek(data);
                for (int64_t k = 0; k + 2 <= size; k += 2) record.values.push_back(in.Get16());
                walk.stored.push_back(std::move(record));
                break;
            }
            case 0x1810:
                if (size >= 8) {
                    walk.params.ExifPixelXDimension = int(in.Get32At(data));
                    walk.params.ExifPixelYDimension = int(in.Get32());
                }
                break;
            case 0x2007:
            case 0x2008: {
                int64_t width = 0, height = 0;
                if (JpegSize(in, data, size, width, height) && width < walk.bestWidth && height < walk.bestHeight) {
                    walk.bestWidth = width, walk.bestHeight = height;
                    walk.bestAt = data, walk.bestLength = size;
                }
                break;
            }
            case 0x2800:
            case 0x2807:
            case 0x3000:
            case 0x3002:
            case 0x3003:
            case 0x3004:
            case 0x300a:
            case 0x300b: WalkHeap(walk, data, size, depth + 1); break;
            default: break;
            }
        } catch (const EShortData&) {
        }
    }
}

// The stored records as a little-endian TIFF directory of 16-bit values: the entries, then
// each record's values at the offset its entry gives.
void WriteMakerNote(TKVTagsHandler& note, const std::vector<TStoredRecord>& stored) {
    std::vector<uint8_t> bytes;
    auto put16 = [&](uint32_t v) { bytes.push_back(uint8_t(v)), bytes.push_back(uint8_t(v >> 8)); };
    auto put32 = [&](uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
    put16(uint32_t(stored.size()));
    uint32_t at = uint32_t(2 + 12 * stored.size());
    for (const TStoredRecord& record : stored) {
        put16(record.tag), put16(3), put32(uint32_t(record.values.size())), put32(at);
        at += uint32_t(2 * record.values.size());
    }
    for (const TStoredRecord& record : stored)
        for (const uint16_t v : record.values) put16(v);
    TMemoryStream& stream = note.Stream();
    stream.Clear();
    if (!bytes.empty()) stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    note.ReadDirectory();
}

// The walk itself; it may leave the stream anywhere.
void ReadMetadata(TStream& stream, TIOParamsVals& params) {
    TRawInput in(stream);
    if (in.Size() < 14) return;
    const auto head = in.BytesAt(0, 14);
    const bool little = head[0] == 'I' && head[1] == 'I', big = head[0] == 'M' && head[1] == 'M';
    const bool heap = std::equal(head.begin() + 6, head.end(), "HEAPCCDR");
    if (!little && !big && !heap) return;
    in.order = big ? rawBigEndian : rawLittleEndian;
    const int64_t start = in.Get32At(2);
    TMetadataWalk walk(in, params);
    try {
        WalkHeap(walk, start, in.Size() - start, 0);
    } catch (const EShortData&) {
    }
    if (!params.ExifThumbnail) params.ExifThumbnail = std::make_unique<TKVBitmap>();
    params.ExifThumbnail->FreeImage();
    if (walk.bestAt > 0) {
        const auto bytes = in.BytesAt(walk.bestAt, walk.bestLength);
        TKVMemStream jpeg(bytes.data(), walk.bestLength);
        TIOParamsVals previewParams(nullptr);
        std::atomic<bool> aborted{false};
        TKVProgressRec progress;
        progress.AbortFlag = &aborted;
        ReadJPEGStream(jpeg, nullptr, *params.ExifThumbnail, true, false, false, false, false, progress, previewParams);
        if (aborted) params.ExifThumbnail->FreeImage();
    }
    WriteMakerNote(params.ExifMakerNote, walk.stored);
}

}  // namespace

void KVReadRawMetadata(TStream& stream, TIOParamsVals& params) {
    const int64_t position = stream.Position();
    try {
        ReadMetadata(stream, params);
    } catch (const Exception&) {
    }
    stream.SetPosition(position);
}
