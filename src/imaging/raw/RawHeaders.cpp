// Container parsers: TIFF directories with maker notes, the CIFF heap, the Foveon directory and
// the Rollei text header. Each fills the context for identification. A walk that reaches the end
// of the file keeps what it read; directories already walked are not walked again, so chains
// that loop end.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/raw/RawStages.h"
#include "platform/Classes.h"

namespace {

constexpr int maxCiffDepth = 8;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// True the first time a walk reaches this position and while the budget lasts.
bool FirstVisit(TKVRawContext& raw, int64_t position) {
    if (raw.walkBudget <= 0 || !raw.walked.insert(position).second) return false;
    --raw.walkBudget;
    return true;
}

bool Spend(TKVRawContext& raw) { return raw.walkBudget-- > 0; }

struct TTiffEntry {
    int tag = 0, type = 0;
    uint32_t count = 0, value = 0;
};

TTiffEntry ReadEntry(TRawInput& in) {
    TTiffEntry e;
    e.tag = in.Get16();
    e.type = in.Get16();
    e.count = in.Get32();
    if (e.type == 3 && e.count < 3) {
        e.value = in.Get16();
        in.Skip(2);
    } else {
        e.value = in.Get32();
    }
    return e;
}

// Runs handle(entry) for each entry of the directory at the input position, with the input put
// back behind the entry afterwards. An entry whose data lie outside the file is passed over.
template <typename Handle> void ForEachEntry(TKVRawContext& raw, Handle handle) {
    const int entries = raw.in.Get16();
    for (int i = 0; i < entries && Spend(raw); ++i) {
        const TTiffEntry e = ReadEntry(raw.in);
        const int64_t next = raw.in.Tell();
        try {
            handle(e);
        } catch (const EShortData&) {
        }
        raw.in.Seek(next);
    }
}

void SeekTo(TRawInput& in, int64_t position) { in.Seek(position); }

void ParseSubIfd(TKVRawContext& raw, int64_t base) {
    ForEachEntry(raw, [&](const TTiffEntry& e) {
        switch (e.tag) {
        case 256: raw.rawWidth = RawSize(e.value); break;
        case 257: raw.rawHeight = RawSize(e.value); break;
        case 259: raw.compression = int(e.value); break;
        case 262: raw.photometric = int(e.value); break;
        case 273:
            if (e.count == 1) {
                raw.dataOffset = e.value;
            } else {
                SeekTo(raw.in, e.value + base);
                raw.dataOffset = raw.in.Get32();
            }
            break;
        case 291:
            raw.curveOffset = e.value;
            raw.curveLength = int(e.count);
            break;
        default: break;
        }
    });
}

void ParseMakerNote(TKVRawContext& raw) {
    const uint16_t savedOrder = raw.in.order;
    const int64_t start = raw.in.Tell();
    const auto tag = raw.in.Bytes(10);
    int64_t mbase = 0;
    if (std::memcmp(tag.data(), "Nikon", 6) == 0) {
        mbase = raw.in.Tell();
        raw.in.order = raw.in.Get16();
        raw.in.Skip(2);
        const int64_t skip = int64_t(raw.in.Get32()) - 8;
        raw.in.Seek(raw.in.Tell() + skip);
    } else if (std::memcmp(tag.data(), "OLYMP", 5) == 0) {
        raw.in.Seek(start + 8);
    } else {
        raw.in.Seek(start);
    }
    if (!FirstVisit(raw, raw.in.Tell())) {
        raw.in.order = savedOrder;
        return;
    }
    ForEachEntry(raw, [&](const TTiffEntry& e) {
        auto ratio = [](uint32_t a, uint32_t b) { return b ? float(a) / float(b) : 0.0f; };
        switch (e.tag) {
        case 12: {
            raw.in.Seek(e.value + mbase);
            const uint32_t a = raw.in.Get32(), b = raw.in.Get32(), c = raw.in.Get32(), d = raw.in.Get32();
            raw.cameraRed = ratio(a, b);
            raw.cameraBlue = ratio(c, d);
            break;
        }
        case 140: raw.curveOffset = e.value + mbase + 2112; break;
        case 150: raw.curveOffset = e.value + mbase + 2; break;
        case 151:
            if (raw.model == "NIKON D100 ") {
                raw.in.Seek(e.value + mbase + 72);
                raw.cameraRed = raw.in.Get16() / 256.0f;
                raw.cameraBlue = raw.in.Get16() / 256.0f;
            } else if (raw.model == "NIKON D2H" || raw.model == "NIKON D70") {
                const bool d2h = raw.model == "NIKON D2H";
                raw.in.Seek(e.value + mbase + (d2h ? 10 : 20));
                const uint16_t a = raw.in.Get16(), b = raw.in.Get16(), c = raw.in.Get16(), d = raw.in.Get16();
                raw.cameraRed = ratio(a, b);
                raw.cameraBlue = d2h ? ratio(d, c) : ratio(c, d);
            }
            break;
        case 4119: raw.cameraRed = e.value / 256.0f; break;
        case 4120: raw.cameraBlue = e.value / 256.0f; break;
        default: break;
        }
    });
    raw.in.order = savedOrder;
}

void WalkExifIfd(TKVRawContext& raw, int64_t base) {
    const int entries = raw.in.Get16();
    for (int i = 0; i < entries && Spend(raw); ++i) {
        const int tag = raw.in.Get16();
        raw.in.Skip(6);
        const uint32_t value = raw.in.Get32();
        const int64_t next = raw.in.Tell();
        if (tag == 37500 && (StartsWith(raw.make, "NIKON") || StartsWith(raw.make, "OLYMPUS"))) {
            try {
                raw.in.Seek(base + value);
                ParseMakerNote(raw);
            } catch (const EShortData&) {
            }
        }
        raw.in.Seek(next);
    }
}

}  // namespace

TRawInput::TRawInput(TStream& stream) : size_(stream.Size()), stream_(&stream) {}

std::string TRawInput::Text(int64_t count) {
    const auto bytes = Bytes(std::min(count, Remaining()));
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t(0));
    return std::string(bytes.begin(), end);
}

const uint8_t* TRawInput::Load(int64_t offset, int64_t count) {
    if (offset < 0 || count < 0 || offset > size_ || count > size_ - offset || !stream_) Short(offset, count);
    // Pages of 4 KB serve the small reads of a directory walk with few reads of the stream.
    const int64_t length = std::min(std::max<int64_t>(count, 4096), size_ - offset);
    page_.resize(size_t(length));
    stream_->SetPosition(offset);
    ReadExact(*stream_, page_.data(), length, "raw file");
    window_ = page_;
    windowStart_ = offset;
    return page_.data();
}

void TRawInput::Short(int64_t offset, int64_t count) const {
    throw EShortData("raw data end after " + std::to_string(size_) + " bytes; " + std::to_string(count) +
                     " were needed at offset " + std::to_string(offset));
}

void RawWalkTiffIfds(TKVRawContext& raw, int64_t base) {
    int64_t tileWidth = 0, tileHeight = 0, strip1 = 0, strip2 = 0;
    try {
        raw.in.Seek(base);
        raw.in.order = raw.in.Get16();
        raw.in.Skip(2);
        for (;;) {
            const int64_t next = raw.in.Get32();
            if (next == 0 || !raw.in.Contains(next + base) || !FirstVisit(raw, next + base)) break;
            raw.in.Seek(next + base);
            ForEachEntry(raw, [&](const TTiffEntry& e) {
                raw.in.Seek(e.value + base);
                switch (e.tag) {
                case 17: raw.cameraRed = e.value / 256.0f; break;
                case 18: raw.cameraBlue = e.value / 256.0f; break;
                case 256: tileWidth = e.value; break;
                case 257: tileHeight = e.value; break;
                case 271: raw.make = raw.in.Text(64); break;
                case 272: raw.model = raw.in.Text(64); break;
                case 273:
                    strip1 = e.value;
                    strip2 = raw.in.Get32();
                    break;
                case 291:
                    raw.curveOffset = e.value;
                    raw.curveLength = int(e.count);
                    break;
                case 305:
                    if (StartsWith(raw.in.Text(64), "Adobe")) raw.make.clear();
                    break;
                case 324:
                    raw.make = "Leaf";
                    raw.rawWidth = RawSize(tileWidth);
                    raw.rawHeight = RawSize(tileHeight);
                    raw.dataOffset = e.count < 2 ? int64_t(e.value) : int64_t(raw.in.Get32());
                    break;
                case 330: {
                    uint32_t count = e.count;
                    if (count > 2 && raw.make == "Kodak") count = 2;
                    if (count < 2) {
                        if (FirstVisit(raw, e.value + base)) ParseSubIfd(raw, base);
                    } else {
                        for (uint32_t i = 0; i < count && Spend(raw); ++i) {
                            raw.in.Seek(e.value + 4 * int64_t(i) + base);
                            const int64_t o = raw.in.Get32() + base;
                            raw.in.Seek(o);
                            if (FirstVisit(raw, o)) ParseSubIfd(raw, base);
                        }
                    }
                    break;
                }
                case 33405: raw.modelExtra = raw.in.Text(64); break;
                case 34665:
                    if (FirstVisit(raw, e.value + base)) WalkExifIfd(raw, base);
                    break;
                default: break;
                }
            });
        }
    } catch (const EShortData&) {
    }
    if (StartsWith(raw.make, "OLYMPUS")) {
        raw.make.resize(7);
        raw.rawWidth = RawSize(tileWidth);
        raw.rawHeight = RawSize((tileHeight + 1) & ~int64_t(1));
        raw.dataOffset = strip2;
    }
    if (raw.make == "Canon" && raw.model != "EOS D2000C") raw.dataOffset = strip1;
    if (raw.make.empty() && tileWidth == 680 && tileHeight == 680) {
        raw.make = "Imacon";
        raw.model = "Ixpress";
    }
}

namespace {

// Two ratios of the white balance as CIFF records store them.
void ReadCiffRatios(TKVRawContext& raw) {
    const uint16_t a = raw.in.Get16();
    if (a != 0) {
        raw.cameraRed = float(raw.in.Get16()) / a;
    } else {
        raw.cameraRed = 0;
    }
    const uint16_t c = raw.in.Get16(), d = raw.in.Get16();
    raw.cameraBlue = d != 0 ? float(c) / d : float(c);
}

void CanonWhitePatch(TKVRawContext& raw) {
    raw.in.Skip(2);
    if (raw.in.Get32() != 0x80008 || raw.in.Get32() == 0) return;
    const int bits = raw.in.Get16();
    if (bits != 10 && bits != 12) return;
    static constexpr uint16_t masks[2] = {0x2C57, 0x6A1B};
    uint64_t held = 0;
    int count = 0, word = 0;
    for (auto& row : raw.grayPatch)
        for (auto& cell : row) {
            while (count < bits) {
                held = (held << 16) | (raw.in.Get16() ^ masks[word++ & 1]);
                count += 16;
            }
            count -= bits;
            cell = int16_t(((held >> count) & ((1u << bits) - 1)) << (14 - bits));
        }
}

void HandleCiffRecord(TKVRawContext& raw, int type, int64_t length, int64_t data, int& wbi, int depth) {
    const std::string& model = raw.model;
    raw.in.Seek(data);
    switch (type) {
    case 0x080a:
        raw.make = raw.in.Text(64);
        raw.in.Seek(data + int64_t(raw.make.size()) + 1);
        raw.model = raw.in.Text(64);
        return;
    case 0x102a:
        raw.in.Seek(data + 14);
        wbi = raw.in.Get16();
        if ((model == "Canon EOS DIGITAL REBEL" || model == "Canon EOS 300D DIGITAL") && wbi == 6) wbi = 7;
        return;
    case 0x102c:
        if (model == "Canon PowerShot G1" || model == "Canon PowerShot Pro90 IS") {
            raw.in.Seek(data + 120);
            static constexpr int cells[4][2] = {{0, 1}, {0, 0}, {1, 0}, {1, 1}};
            for (const auto& cell : cells)
                raw.grayPatch[size_t(cell[0])][size_t(cell[1])] = int16_t(raw.in.Get16() << 4);
        } else {
            raw.in.Seek(data + 100);
            if (wbi != 6 || raw.in.Get32() != 0) {
                raw.in.Seek(data + 100);
                ReadCiffRatios(raw);
            } else {
                wbi = 15;
            }
        }
        return;
    case 0x0032:
        if (model == "Canon EOS D30") {
            raw.in.Seek(data + 72);
            ReadCiffRatios(raw);
        } else {
            static constexpr int steps[6] = {1, 2, 3, 4, 5, 1};
            const int k = wbi >= 0 && wbi < 6 ? steps[wbi] : 0;
            raw.in.Seek(data + 80 + 8 * k);
            if (raw.cameraRed == 0) ReadCiffRatios(raw);
        }
        return;
    case 0x10a9:
        if (model == "Canon EOS 10D") {
            static constexpr int remap[10] = {0, 1, 3, 4, 5, 6, 0, 0, 2, 8};
            if (wbi >= 0 && wbi < 10) wbi = remap[wbi];
        }
        if (wbi < 0) return;
        {
            raw.in.Seek(data + 8 * int64_t(wbi) + 2);
            const uint16_t a = raw.in.Get16(), b = raw.in.Get16(), c = raw.in.Get16(), d = raw.in.Get16();
            raw.cameraRed = a ? float(b) / a : 0;
            raw.cameraBlue = c ? float(d) / c : 0;
        }
        return;
    case 0x1030:
        if (wbi > 14) CanonWhitePatch(raw);
        return;
    case 0x1031:
        raw.in.Seek(data + 2);
        raw.rawWidth = raw.in.Get16();
        raw.rawHeight = raw.in.Get16();
        return;
    case 0x1835:
        RawCanonTables(raw, raw.in.Get32());
        return;
    default:
        if ((type >> 8) == 0x28 || (type >> 8) == 0x30) RawWalkCiffHeap(raw, data, length, depth + 1);
        return;
    }
}

}  // namespace

void RawWalkCiffHeap(TKVRawContext& raw, int64_t offset, int64_t length, int depth) {
    if (depth > maxCiffDepth || length < 4 || !FirstVisit(raw, offset)) return;
    try {
        raw.in.Seek(offset + length - 4);
        const int64_t table = offset + raw.in.Get32();
        if (table < offset || table >= offset + length) return;
        raw.in.Seek(table);
        const int records = raw.in.Get16();
        int wbi = -1;
        for (int i = 0; i < records && Spend(raw); ++i) {
            const int type = raw.in.Get16();
            const int64_t recordLength = raw.in.Get32();
            const int64_t data = offset + raw.in.Get32();
            const int64_t next = raw.in.Tell();
            // A record whose data do not lie inside its heap is not read.
            if (data >= offset && data + recordLength <= offset + length) {
                try {
                    HandleCiffRecord(raw, type, recordLength, data, wbi, depth);
                } catch (const EShortData&) {
                }
            }
            raw.in.Seek(next);
        }
        if (wbi == 0 && raw.model != "Canon EOS D30") raw.cameraRed = -1;
    } catch (const EShortData&) {
    }
}

void RawReadRolleiHeader(TKVRawContext& raw) {
    int64_t tx = 0, ty = 0;
    // A value no integer of the header holds counts as no number.
    auto number = [](const std::string& text) -> int64_t {
        try {
            const int64_t v = std::stoll(text);
            return v >= INT32_MIN && v <= INT32_MAX ? v : 0;
        } catch (const std::exception&) {
            return 0;
        }
    };
    raw.in.Seek(0);
    while (raw.in.Remaining() >= 128) {
        const auto record = raw.in.Bytes(128);
        std::string line(record.begin(), std::find(record.begin(), record.end(), uint8_t(0)));
        const size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        if (key == "HDR") raw.dataOffset = number(value);
        else if (key == "X  ") raw.rawWidth = RawSize(number(value));
        else if (key == "Y  ") raw.rawHeight = RawSize(number(value));
        else if (key == "TX ") tx = number(value);
        else if (key == "TY ") ty = number(value);
        if (line.rfind("EOHD", 0) == 0) break;
    }
    // The thumbnail of 16-bit pixels before the data; a negative size stands for none.
    if (tx > 0 && ty > 0) raw.dataOffset += tx * ty * 2;
    raw.make = "Rollei";
    raw.model = "d530flex";
}

void RawParseFoveon(TKVRawContext& raw) {
    raw.in.order = rawLittleEndian;
    const int64_t size = raw.in.Size();
    if (size < 256) return;
    raw.in.Seek(size - 4);
    const int64_t dir = raw.in.Get32();
    if (!raw.in.Contains(dir)) return;
    raw.in.Seek(dir);
    bool found = false;
    while (raw.in.Remaining() >= 4)
        if (raw.in.Get32() == 0x464D4143) {
            found = true;
            break;
        }
    if (found) {
        try {
            const int64_t p = raw.in.Get32();
            raw.in.Seek(p + 8);
            const int64_t q = raw.in.Get32();
            const int64_t start = p + q * 8 + 24;
            const int64_t chars = (dir - start) / 2;
            if (start >= 0 && chars > 0) {
                const auto block = raw.in.BytesAt(start, chars * 2);
                std::string text;
                text.reserve(size_t(chars));
                for (int64_t i = 0; i < chars; ++i) text += char(block[size_t(2 * i)]);
                // NUL-separated names, each followed by its value.
                std::vector<std::string> strings;
                for (size_t at = 0; at < text.size();) {
                    const size_t end = std::min(text.find('\0', at), text.size());
                    strings.push_back(text.substr(at, end - at));
                    at = end + 1;
                }
                for (size_t i = 0; i + 1 < strings.size(); ++i) {
                    if (strings[i] == "CAMMANUF") raw.make = strings[i + 1];
                    if (strings[i] == "CAMMODEL") raw.model = strings[i + 1];
                }
            }
        } catch (const EShortData&) {
        }
    }
    raw.in.Seek(248);
    raw.rawWidth = RawSize(raw.in.Get32());
    raw.rawHeight = RawSize(raw.in.Get32());
}
