// Identification: signatures of the head, container headers, the table of exact file sizes and
// the per-camera table that chooses geometry, filter pattern, levels, multipliers and loader.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "imaging/raw/RawStages.h"

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }
bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }
bool EqualsIgnoringCase(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
    return true;
}
bool HeadIs(std::span<const uint8_t> head, size_t at, std::string_view text);
bool HeadIs(const TKVRawContext& raw, size_t at, std::string_view text) { return HeadIs(raw.head, at, text); }

struct TSizeRow {
    int64_t size;
    const char* make;
    const char* model;
};

constexpr TSizeRow fileSizes[] = {
    {62464, "Kodak", "DC20"},       {124928, "Kodak", "DC20"},          {2465792, "NIKON", "E950"},
    {2940928, "NIKON", "E2100"},    {4771840, "NIKON", "E990"},         {5865472, "NIKON", "E4500"},
    {5869568, "NIKON", "E4300"},    {787456, "Creative", "PC-CAM 600"}, {1976352, "Casio", "QV-2000UX"},
    {3217760, "Casio", "QV-3*00EX"}, {6218368, "Casio", "QV-5700"},     {7684000, "Casio", "QV-4000"},
    {9313536, "Casio", "EX-P600"},  {4841984, "Pentax", "Optio S"},     {6114240, "Pentax", "Optio S4"},
    {12582980, "Sinar", ""},
};

void NucoreHeader(TKVRawContext& raw) {
    raw.make = "Nucore";
    raw.in.order = rawLittleEndian;
    raw.dataOffset += raw.in.Get32At(10);
    raw.in.Skip(4);
    raw.rawWidth = RawSize(raw.in.Get32());
    raw.rawHeight = RawSize(raw.in.Get32());
    if (StartsWith(raw.model, "B") && raw.rawWidth == 2597) {
        raw.rawWidth = 2598;
        raw.dataOffset -= 4096;
    }
}

// The signatures of the first 32 bytes, in the order they are tried.
enum class TSignature { phaseOne, ciff, tiff, minolta, jpegExif, nucoreRaw, contax, fuji, rollei, foveon, bitmap, none };

bool HeadIs(std::span<const uint8_t> head, size_t at, std::string_view text) {
    return head.size() >= at + text.size() && std::memcmp(head.data() + at, text.data(), text.size()) == 0;
}

// Where "MMMMRawT" lies in the head, or -1.
int64_t PhaseOneAt(std::span<const uint8_t> head) {
    static constexpr std::string_view tag = "MMMMRawT";
    const auto at = std::search(head.begin(), head.end(), tag.begin(), tag.end());
    return at == head.end() ? -1 : at - head.begin();
}

TSignature FindSignature(std::span<const uint8_t> head) {
    if (PhaseOneAt(head) >= 0) return TSignature::phaseOne;
    if (HeadIs(head, 0, "II") || HeadIs(head, 0, "MM")) return HeadIs(head, 6, "HEAPCCDR") ? TSignature::ciff : TSignature::tiff;
    if (HeadIs(head, 0, std::string_view("\0MRM", 4))) return TSignature::minolta;
    if (HeadIs(head, 0, "\xFF\xD8\xFF\xE1") && HeadIs(head, 6, "Exif")) return TSignature::jpegExif;
    if (HeadIs(head, 0, "BR")) return TSignature::nucoreRaw;
    if (HeadIs(head, 25, "ARECOYK")) return TSignature::contax;
    if (HeadIs(head, 0, "FUJIFILM")) return TSignature::fuji;
    if (HeadIs(head, 0, "DSC-Image")) return TSignature::rollei;
    if (HeadIs(head, 0, "FOVb")) return TSignature::foveon;
    if (HeadIs(head, 0, "BM")) return TSignature::bitmap;
    return TSignature::none;
}

// The byte order, the head and its signatures, or the file size.
void ReadSignatures(TKVRawContext& raw) {
    TRawInput& in = raw.in;
    const int64_t fsize = in.Size();
    const auto headBytes = in.BytesAt(0, std::min<int64_t>(32, fsize));
    std::copy(headBytes.begin(), headBytes.end(), raw.head.begin());
    const std::span<const uint8_t> head(raw.head.data(), headBytes.size());
    in.order = uint16_t(raw.head[0] | raw.head[1] << 8);

    switch (FindSignature(head)) {
    case TSignature::phaseOne: {
        raw.make = "Phase One";
        raw.dataOffset = PhaseOneAt(head);
        const int64_t v = in.Get32At(raw.dataOffset + 8);
        in.Skip(v + 136);
        raw.rawWidth = RawSize(in.Get32());
        in.Skip(12);
        raw.rawHeight = RawSize(in.Get32());
        break;
    }
    case TSignature::ciff: {
        const int64_t hlen = in.Get32At(2);
        raw.dataOffset = hlen;
        RawWalkCiffHeap(raw, hlen, fsize - hlen);
        break;
    }
    case TSignature::tiff:
        RawWalkTiffIfds(raw, 0);
        if (StartsWith(raw.make, "NIKON") && raw.rawWidth == 0) raw.make.clear();
        break;
    case TSignature::minolta: {
        RawWalkTiffIfds(raw, 48);
        in.order = rawBigEndian;
        raw.dataOffset = int64_t(in.Get32At(4)) + 8;
        raw.rawHeight = in.Get16At(24);
        raw.rawWidth = in.Get16();
        in.Skip(int64_t(in.Get32At(12)) + 4);
        in.Skip(int64_t(in.Get32()) + 12);
        const uint16_t a = in.Get16(), b = in.Get16(), c = in.Get16(), d = in.Get16();
        raw.cameraRed = b ? float(a) / b : 0;
        raw.cameraBlue = c ? float(d) / c : 0;
        break;
    }
    case TSignature::jpegExif:
        in.order = rawBigEndian;
        in.Seek(in.Get16At(4) + 4);
        if (in.Byte() != 0xFF) RawWalkTiffIfds(raw, 12);
        break;
    case TSignature::nucoreRaw:
        raw.model = "RAW";
        NucoreHeader(raw);
        break;
    case TSignature::contax:
        raw.make = "CONTAX";
        raw.model = "N DIGITAL";
        break;
    case TSignature::fuji:
        in.order = rawBigEndian;
        RawWalkTiffIfds(raw, int64_t(in.Get32At(84)) + 12);
        in.order = rawBigEndian;
        raw.dataOffset = in.Get32At(100);
        break;
    case TSignature::rollei: RawReadRolleiHeader(raw); break;
    case TSignature::foveon: RawParseFoveon(raw); break;
    case TSignature::bitmap:
        raw.dataOffset = 4096;
        in.order = rawLittleEndian;
        if (in.Get32At(38) == 2834 && in.Get32() == 2834) {
            raw.model = "BMQ";
            NucoreHeader(raw);
        }
        break;
    case TSignature::none:
        for (const TSizeRow& row : fileSizes)
            if (row.size == fsize) {
                raw.make = row.make;
                raw.model = row.model;
            }
        break;
    }
}

// One spelling per maker, no blanks at the end, no maker in front of the model.
void NormaliseNames(TKVRawContext& raw) {
    for (const char* maker : {"Canon", "NIKON", "Kodak", "PENTAX", "MINOLTA", "Minolta", "Konica"})
        if (Contains(raw.make, maker)) raw.make = maker;
    if (StartsWith(raw.make, "KODAK")) {
        if (raw.make.size() > 16) raw.make.resize(16);
        if (raw.model.size() > 16) raw.model.resize(16);
    }
    for (std::string* text : {&raw.make, &raw.model})
        while (!text->empty() && text->back() == ' ') text->pop_back();
    if (!raw.make.empty() && StartsWith(raw.model, raw.make) && raw.model.size() > raw.make.size())
        raw.model.erase(0, raw.make.size() + 1);
}

void CmygSettings(TKVRawContext& raw) {
    raw.colors = 4;
    raw.multipliers = {1.3f, 1.3f, raw.multipliers[2], 1.148f};
}

void CameraRatiosAt(TKVRawContext& raw, int64_t offset) {
    raw.loader = RawLoadUnpackedBeShl4;
    raw.whiteLevel = 15856;
    raw.in.order = rawBigEndian;
    const uint16_t a = raw.in.Get16At(offset), b = raw.in.Get16(), c = raw.in.Get16(), d = raw.in.Get16();
    raw.cameraRed = c ? float(a) / c : 0;
    raw.cameraBlue = d ? float(b) / d : 0;
    raw.multipliers[0] = 1.42f;
    raw.multipliers[2] = 1.25f;
}

bool NikonIsCompressed(TKVRawContext& raw) {
    if (raw.compression != 34713) return false;
    if (raw.model != "D100") return true;
    const auto block = raw.in.BytesAt(raw.dataOffset, 256);
    for (size_t i = 15; i < 256; i += 16)
        if (block[i]) return true;
    return false;
}

bool NikonE990(TKVRawContext& raw) {
    const auto block = raw.in.BytesAt(2383920, 2000);
    int histogram[256] = {};
    for (const uint8_t b : block) ++histogram[b];
    return histogram[0] > 400 || histogram[0x55] > 400 || histogram[0xAA] > 400 || histogram[0xFF] > 400;
}

bool NikonE2100(TKVRawContext& raw) {
    const auto block = raw.in.BytesAt(0, 1024 * 12);
    for (size_t g = 0; g < 1024; ++g) {
        const uint8_t* t = block.data() + 12 * g;
        if ((((t[2] & t[4] & t[7] & t[9]) >> 4) & t[1] & t[6] & t[8] & t[11] & 3) != 3) return false;
    }
    return true;
}

bool NikonE4300IsZ2(TKVRawContext& raw) {
    const auto tail = raw.in.BytesAt(raw.in.Size() - 424, 424);
    return std::any_of(tail.begin(), tail.end(), [](uint8_t b) { return b != 0; });
}

void Set(TKVRawContext& raw, int h, int w) {
    raw.height = h;
    raw.width = w;
}

// The early four-colour cameras: fixed sizes (a raw width of 0 keeps the one read) and loader.
void FourColourCamera(TKVRawContext& raw, int h, int w, int rawWidth, uint32_t pattern, TRawLoader loader) {
    Set(raw, h, w);
    if (rawWidth) raw.rawWidth = rawWidth;
    raw.colors = 4;
    raw.filterPattern = pattern;
    raw.loader = loader;
}

// The FinePix cameras: picture size, pattern, loader and the red and blue multipliers.
void FujiCamera(TKVRawContext& raw, int h, int w, uint32_t pattern, TRawLoader loader, float m0, float m2) {
    Set(raw, h, w);
    raw.filterPattern = pattern;
    raw.loader = loader;
    raw.multipliers[0] = m0;
    raw.multipliers[2] = m2;
}

// Canon cameras known by their raw width, and the models among them that differ.
struct TCanonWidthRow {
    int rawWidth, height, width, top, left;
    float m0, m2;
};

constexpr TCanonWidthRow canonWidthRows[] = {
    {2144, 1550, 2088, 8, 4, 1.785f, 1.266f},  {2224, 1448, 2176, 6, 48, 1.592f, 1.261f},
    {2376, 1720, 2312, 6, 12, 1.855f, 1.339f}, {2672, 1960, 2616, 6, 12, 1.895f, 1.403f},
    {3152, 2056, 3088, 12, 64, 2.242f, 1.245f}, {3160, 2328, 3112, 12, 44, 1.85f, 1.53f},
    {3344, 2472, 3288, 6, 4, 1.621f, 1.528f},
};

const TCanonWidthRow* CanonRowByRawWidth(const TKVRawContext& raw) {
    if (!raw.isCanon) return nullptr;
    for (const TCanonWidthRow& row : canonWidthRows)
        if (row.rawWidth == raw.rawWidth) return &row;
    return nullptr;
}

void ApplyCanonWidthRow(TKVRawContext& raw, const TCanonWidthRow& row) {
    auto& m = raw.multipliers;
    Set(raw, row.height, row.width);
    raw.topMargin = row.top, raw.leftMargin = row.left;
    m[0] = row.m0, m[2] = row.m2;
    if (row.rawWidth == 2144 && raw.model == "PowerShot G1") {
        raw.colors = 4;
        raw.filterPattern = 0xb4b4b4b4;
        m[0] = 1.446f, m[1] = 1.405f, m[2] = 1.016f;
    }
    if (row.rawWidth == 2376 && (raw.model == "PowerShot G2" || raw.model == "PowerShot S40")) m[0] = 1.965f, m[2] = 1.208f;
    if (row.rawWidth == 3152) {
        if (raw.model == "EOS Kiss Digital") m[0] = 1.882f, m[2] = 1.094f;
        raw.whiteLevel = 16000;
    }
}

// The camera table for the makers other than Kodak; false when no row matched.
bool ApplyCameraRow(TKVRawContext& raw) {
    const std::string& model = raw.model;
    auto& m = raw.multipliers;
    if (model == "PowerShot 600") {
        FourColourCamera(raw, 613, 854, 0, 0xe1e4e1e4, RawLoadCanonPs600);
        m[0] = 1.137f, m[1] = 1.257f;
    } else if (model == "PowerShot A5" || model == "PowerShot A5 Zoom") {
        FourColourCamera(raw, 776, 960, 992, 0x1e4e1e4e, RawLoadCanonPsA5);
        m[0] = 1.5842f, m[1] = 1.2966f, m[2] = 1.0419f;
    } else if (model == "PowerShot A50") {
        FourColourCamera(raw, 968, 1290, 1320, 0x1b4e4b1e, RawLoadCanonPsA5);
        m[0] = 1.75f, m[1] = 1.381f, m[3] = 1.182f;
    } else if (model == "PowerShot Pro70") {
        FourColourCamera(raw, 1024, 1552, 0, 0x1e4b4e1b, RawLoadCanonPsA5);
        m[0] = 1.389f, m[1] = 1.343f, m[3] = 1.034f;
    } else if (model == "PowerShot Pro90 IS") {
        raw.width = 1896;
        raw.colors = 4;
        raw.filterPattern = 0xb4b4b4b4;
        m[0] = 1.496f, m[1] = 1.509f, m[3] = 1.009f;
    } else if (const TCanonWidthRow* row = CanonRowByRawWidth(raw)) {
        ApplyCanonWidthRow(raw, *row);
    } else if (model == "EOS-1D") {
        Set(raw, 1662, 2496);
        raw.dataOffset = 288912;
        m[0] = 1.976f, m[2] = 1.282f;
    } else if (model == "EOS-1DS") {
        Set(raw, 2718, 4082);
        raw.dataOffset = 289168;
        m[0] = 1.66f, m[2] = 1.13f;
        raw.whiteLevel = 14464;
    } else if (model == "EOS-1D Mark II" || model == "EOS 20D") {
        raw.rawHeight = 2360, raw.rawWidth = 3596, raw.topMargin = 12, raw.leftMargin = 74;
        Set(raw, raw.rawHeight - raw.topMargin, raw.rawWidth - raw.leftMargin);
        raw.filterPattern = 0x94949494;
        m[0] = 1.95f, m[2] = 1.36f;
    } else if (model == "EOS-1Ds Mark II") {
        raw.rawHeight = 3349, raw.rawWidth = 5108, raw.topMargin = 13, raw.leftMargin = 98;
        Set(raw, raw.rawHeight - raw.topMargin, raw.rawWidth - raw.leftMargin);
        raw.filterPattern = 0x94949494;
        m[0] = 1.609f, m[2] = 1.848f;
        raw.whiteLevel = 0x3a00;
    } else if (model == "EOS D2000C") {
        raw.blackLevel = 800;
        m[2] = 1.25f;
    } else if (model == "D1") {
        raw.filterPattern = 0x16161616;
        m[0] = 0.838f, m[2] = 1.095f;
    } else if (model == "D1H") {
        raw.filterPattern = 0x16161616;
        m[0] = 2.301f, m[2] = 1.129f;
    } else if (model == "D1X") {
        raw.width = 4024;
        raw.filterPattern = 0x16161616;
        raw.yRepeat = 2;
        m[0] = 1.91f, m[2] = 1.22f;
    } else if (model == "D100") {
        if (raw.compression == 34713 && raw.loader == RawLoadNikonPlain) {
            raw.rawWidth = raw.width + 6;
            raw.width += 3;
        }
        raw.filterPattern = 0x61616161;
        m[0] = 2.374f, m[2] = 1.677f;
        raw.whiteLevel = 15632;
    } else if (model == "D2H") {
        raw.width = 2482, raw.leftMargin = 6;
        raw.filterPattern = 0x49494949;
        m[0] = 2.8f, m[2] = 1.2f;
    } else if (model == "D70") {
        raw.filterPattern = 0x16161616;
        m[0] = 2.043f, m[2] = 1.625f;
    } else if (model == "E950") {
        Set(raw, 1203, 1616);
        raw.filterPattern = 0x4b4b4b4b;
        raw.colors = 4;
        raw.loader = RawLoadNikonE950;
        RawSetFixedMatrix(raw, rawNikonMatrix);
        m[0] = 1.18193f, m[2] = 1.16452f, m[3] = 1.1725f;
    } else if (model == "E990") {
        Set(raw, 1540, 2064);
        raw.colors = 4;
        if (NikonE990(raw)) {
            raw.filterPattern = 0xb4b4b4b4;
            RawSetFixedMatrix(raw, rawNikonMatrix);
            m[0] = 1.196f, m[1] = 1.246f, m[2] = 1.018f;
        } else {
            raw.model = "E995";
            raw.filterPattern = 0xe1e1e1e1;
            m[0] = 1.253f, m[1] = 1.178f, m[3] = 1.035f;
        }
    } else if (model == "E2100") {
        raw.width = 1616;
        if (NikonE2100(raw)) {
            raw.height = 1206;
            raw.loader = RawLoadNikonE2100;
            m[0] = 1.945f, m[2] = 1.04f;
        } else {
            raw.model = "E2500";
            raw.height = 1204;
            raw.filterPattern = 0x4b4b4b4b;
            CmygSettings(raw);
        }
    } else if (model == "E4300") {
        Set(raw, 1710, 2288);
        raw.filterPattern = 0x16161616;
        if (NikonE4300IsZ2(raw)) {
            raw.make = "Minolta";
            raw.model = "DiMAGE Z2";
            raw.loader = RawLoadNikonE2100;
        }
    } else if (model == "E4500") {
        Set(raw, 1708, 2288);
        raw.filterPattern = 0xb4b4b4b4;
        CmygSettings(raw);
    } else if (model == "E5000" || model == "E5700") {
        raw.filterPattern = 0xb4b4b4b4;
        CmygSettings(raw);
    } else if (model == "E5400") {
        raw.filterPattern = 0x16161616;
        m[0] = 1.7f, m[2] = 1.344f;
    } else if (model == "E8700" || model == "E8800") {
        raw.filterPattern = 0x16161616;
        m[0] = 2.131f, m[2] = 1.3f;
    } else if (model == "FinePixS2Pro") {
        FujiCamera(raw, 3584, 3583, 0x61616161, RawLoadFujiS2pro, 1.424f, 1.718f);
        raw.blackLevel = 512;
    } else if (model == "FinePix S5000") {
        FujiCamera(raw, 2499, 2500, 0x49494949, RawLoadFujiS5000, 1.639f, 1.438f);
        raw.whiteLevel = 0xf800;
    } else if (model == "FinePix S7000" || model == "FinePix E550") {
        const bool s7000 = model == "FinePix S7000";
        FujiCamera(raw, 3587, 3588, 0x49494949, RawLoadFujiS7000, s7000 ? 1.62f : 1.45f, s7000 ? 1.38f : 1.25f);
        raw.whiteLevel = 0xf800;
    } else if (model == "FinePix F700" || model == "FinePix S20Pro") {
        FujiCamera(raw, 2523, 2524, 0x49494949, RawLoadFujiF700, 1.639f, 1.438f);
        raw.whiteLevel = 0x3e00;
    } else if (model == "Digital Camera KD-400Z") {
        Set(raw, 1712, 2312);
        raw.rawWidth = 2336;
        raw.dataOffset = 4034;
        CameraRatiosAt(raw, 2032);
    } else if (model == "Digital Camera KD-510Z") {
        Set(raw, 1956, 2607);
        raw.rawWidth = 2624;
        raw.dataOffset = 4032;
        raw.filterPattern = 0x61616161;
        CameraRatiosAt(raw, 2032);
    } else if (EqualsIgnoringCase(raw.make, "MINOLTA")) {
        raw.loader = RawLoadUnpackedBeShl2;
        raw.whiteLevel = 15860;
        if (StartsWith(model, "DiMAGE A")) {
            raw.loader = RawLoadBitstream12;
            raw.whiteLevel = model.size() > 8 && model[8] == '1' ? 15916 : 16380;
            m[0] = 1.42f, m[2] = 1.25f;
        } else if (!StartsWith(model, "DiMAGE G")) {
            m[0] = 1.42f, m[2] = 1.25f;
        } else {
            const char version = model.size() > 8 ? model[8] : 0;
            int64_t ratios = 0;
            if (version == '4') raw.dataOffset = 5056, Set(raw, 1716, 2304), ratios = 2078;
            if (version == '5') raw.dataOffset = 4016, Set(raw, 1956, 2607), raw.rawWidth = 2624, ratios = 1936;
            if (version == '6') raw.dataOffset = 4032, Set(raw, 2136, 2848), ratios = 2030;
            raw.filterPattern = 0x61616161;
            if (ratios) CameraRatiosAt(raw, ratios);
        }
    } else if (model == "*ist D") {
        Set(raw, 2024, 3040);
        raw.dataOffset = 0x10000;
        raw.loader = RawLoadUnpackedBeShl2;
        m[0] = 1.76f, m[1] = 1.07f;
    } else if (model == "Optio S") {
        Set(raw, 1544, 2068);
        raw.rawWidth = 3136;
        raw.loader = RawLoadBitstream12;
        m[0] = 1.506f, m[2] = 1.152f;
    } else if (model == "Optio S4") {
        Set(raw, 1737, 2324);
        raw.rawWidth = 3520;
        raw.loader = RawLoadBitstream12;
        m[0] = 1.308f, m[2] = 1.275f;
    } else if (raw.make == "Phase One") {
        switch (raw.rawHeight) {
        case 2060:
            raw.model = "LightPhase", Set(raw, 2048, 3080), raw.topMargin = 5, raw.leftMargin = 22;
            m[0] = 1.331f, m[2] = 1.154f;
            break;
        case 2682: raw.model = "H10", Set(raw, 2672, 4012), raw.topMargin = 5, raw.leftMargin = 26; break;
        case 4128:
            raw.model = "H20", Set(raw, 4098, 4098), raw.topMargin = 20, raw.leftMargin = 26;
            m[0] = 1.963f, m[2] = 1.43f;
            break;
        case 5488:
            raw.model = "H25", Set(raw, 5458, 4098), raw.topMargin = 20, raw.leftMargin = 26;
            m[0] = 2.8f, m[2] = 1.2f;
            break;
        default: break;
        }
        raw.filterPattern = (raw.topMargin & 1) ? 0x94949494 : 0x49494949;
        raw.loader = RawLoadPhaseOne;
        raw.whiteLevel = 0xffff;
    } else if (model == "Ixpress") {
        Set(raw, 4084, 4080);
        raw.filterPattern = 0x49494949;
        raw.loader = RawLoadIxpress;
        m[0] = 1.963f, m[2] = 1.43f;
        raw.whiteLevel = 0xffff;
    } else if (raw.make == "Sinar" && HeadIs(raw, 0, "8BPS")) {
        raw.in.order = rawBigEndian;
        raw.height = RawSize(raw.in.Get32At(14));
        raw.width = RawSize(raw.in.Get32());
        raw.filterPattern = 0x61616161;
        raw.dataOffset = 68;
        raw.loader = RawLoadUnpackedBe;
        raw.whiteLevel = 0xffff;
    } else if (raw.make == "Leaf") {
        if (raw.width < raw.height) raw.filterPattern = 0x16161616;
        raw.loader = RawLoadUnpackedBe;
        m[0] = 1.1629f, m[2] = 1.3556f;
        raw.whiteLevel = 0xffff;
    } else if (model == "DIGILUX 2" || model == "DMC-LC1") {
        Set(raw, 1928, 2568);
        raw.dataOffset = 1024;
        raw.loader = RawLoadUnpackedLeShr2;
        m[0] = 1.883f, m[2] = 1.367f;
    } else if (model == "E-1") {
        raw.filterPattern = 0x61616161;
        raw.loader = RawLoadUnpackedLeShr2;
        m[0] = 1.57f, m[2] = 1.48f;
    } else if (model == "E-10") {
        raw.loader = RawLoadUnpackedBeShr2;
        m[0] = 1.43f, m[2] = 1.77f;
    } else if (StartsWith(model, "E-20")) {
        raw.loader = RawLoadUnpackedBeShr2;
        raw.blackLevel = 640;
        m[0] = 1.43f, m[2] = 1.77f;
    } else if (model == "C5050Z" || model == "C5060WZ" || model == "C8080WZ") {
        if (model != "C5060WZ") raw.filterPattern = 0x16161616;
        raw.loader = RawLoadOlympusC5050;
        if (model == "C5050Z") m[0] = 1.533f, m[2] = 1.88f;
        if (model == "C5060WZ") m[0] = 2.285f, m[2] = 1.023f;
        if (model == "C8080WZ") m[0] = 2.335f, m[2] = 1.323f;
    } else if (model == "N DIGITAL") {
        Set(raw, 2047, 3072);
        raw.filterPattern = 0x61616161;
        raw.dataOffset = 6656;
        raw.loader = RawLoadBitstream12;
        m[0] = 1.366f, m[2] = 1.251f;
    } else if (model == "DSC-F828") {
        Set(raw, 2460, 3288);
        raw.rawWidth = 3360;
        raw.leftMargin = 5;
        raw.loader = RawLoadSonyF828;
        RawSetFixedMatrix(raw, rawF828Matrix);
        raw.filterPattern = 0xb4b4b4b4;
        raw.colors = 4;
        m[0] = 1.512f, m[1] = 1.02f, m[2] = 1.405f;
    } else {
        return false;
    }
    return true;
}

// The camera table for the makers that no row above named.
void ApplyOtherMakerRow(TKVRawContext& raw) {
    const std::string& model = raw.model;
    auto& m = raw.multipliers;
    if (raw.make == "Rollei") {
        if (raw.rawWidth == 1316) Set(raw, 1030, 1300), raw.topMargin = 1, raw.leftMargin = 6;
        if (raw.rawWidth == 2568) Set(raw, 1960, 2560), raw.topMargin = 2, raw.leftMargin = 8;
        raw.filterPattern = 0x16161616;
        raw.loader = RawLoadRolleiD530flex;
        m[0] = 1.8f, m[2] = 1.3f;
    } else if (raw.make == "SIGMA") {
        if (raw.rawHeight == 763) raw.height = 756, raw.topMargin = 2;
        if (raw.rawHeight == 1531) raw.height = 1514, raw.topMargin = 7;
        if (raw.rawWidth == 1152) raw.width = 1136, raw.leftMargin = 8;
        if (raw.rawWidth == 2304) raw.width = 2271, raw.leftMargin = 17;
        if (raw.height * 2 < raw.width) raw.yRepeat = 2;
        raw.filterPattern = 0;
        raw.loader = RawLoadFoveon;
        raw.isFoveon = true;
        m[0] = 1.179f, m[2] = 0.713f;
        if (model == "SD10") m[0] *= 2.07f, m[2] *= 2.3f;
        RawSetFoveonMatrix(raw);
        raw.whiteLevel = 5600;
    } else if (model == "PC-CAM 600") {
        Set(raw, 768, 1024);
        raw.dataOffset = 1024;
        raw.filterPattern = 0x49494949;
        raw.loader = RawLoadEightBit;
        m[0] = 1.14f, m[2] = 2.73f;
    } else if (model == "QV-2000UX") {
        Set(raw, 1208, 1632);
        raw.dataOffset = 3264;
        raw.loader = RawLoadEightBit;
    } else if (model == "QV-3*00EX") {
        Set(raw, 1546, 2070);
        raw.rawWidth = 2080;
        raw.loader = RawLoadEightBit;
    } else if (model == "QV-4000") {
        Set(raw, 1700, 2260);
        raw.loader = RawLoadUnpackedBeShr2;
    } else if (model == "QV-5700") {
        Set(raw, 1924, 2576);
        raw.loader = RawLoadCasioQv5700;
    } else if (model == "EX-P600") {
        Set(raw, 2142, 2844);
        raw.rawWidth = 4288;
        raw.loader = RawLoadBitstream12;
        m[0] = 2.356f, m[1] = 1.069f;
    } else if (raw.make == "Nucore") {
        raw.filterPattern = 0x61616161;
        raw.loader = RawLoadNucore;
    }
}

struct TKodakRow {
    const char* model;
    bool narrow;  // width less 4, left margin 2
    int black;
    float m0, m1, m2;
    bool mono, cmy;
};

constexpr TKodakRow kodakRows[] = {
    {"EOSDCS3B", true, 0, 1.629f, 1, 2.767f, false, false}, {"EOSDCS1", true, 0, 1.386f, 1, 2.405f, false, false},
    {"DCS315C", false, 32, 1, 1.068f, 1.036f, false, false}, {"DCS330C", false, 32, 1, 1.012f, 1.804f, false, false},
    {"DCS420", true, 0, 1.327f, 1, 2.074f, false, false},    {"DCS460", true, 0, 1.724f, 1, 2.411f, false, false},
    {"DCS460A", true, 0, 1, 1, 1, true, false},              {"DCS520C", false, 720, 1.006f, 1, 1.858f, false, false},
    {"DCS560C", false, 750, 1, 1.053f, 1.703f, false, false}, {"DCS620C", false, 720, 1, 1.002f, 1.818f, false, false},
    {"DCS62$", false, 740, 1.486f, 1, 1.28f, false, true},  {"DCS660C", false, 855, 1.156f, 1, 1.626f, false, false},
    {"DCS660M", false, 855, 1, 1, 1, true, false},            {"DCS72$", false, 0, 1.35f, 1, 1.18f, false, true},
    {"DCS760C", false, 0, 1.06f, 1, 1.72f, false, false},    {"DCS760M", false, 0, 1, 1, 1, true, false},
    {"ProBack", false, 0, 1.06f, 1, 1.385f, false, false},
};

// "$" in a table model stands for any one character.
bool KodakModelIs(const std::string& model, const char* pattern) {
    const size_t n = std::strlen(pattern);
    if (model.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (pattern[i] != '$' && pattern[i] != model[i]) return false;
    return true;
}

// Kodak: the model rows, the loader by compression and the small cameras; false when the
// compression is not one the decoder reads.
bool ApplyKodakRows(TKVRawContext& raw) {
    auto& m = raw.multipliers;
    const std::string& model = raw.model;
    raw.filterPattern = 0x61616161;
    if (model == "NC2000F") {
        raw.width -= 4, raw.leftMargin = 1;
        raw.curveLength = 176;
        m[0] = 1.509f, m[2] = 2.686f;
    } else {
        const TKodakRow* row = nullptr;
        for (const TKodakRow& r : kodakRows)
            if (!row && KodakModelIs(model, r.model)) row = &r;
        if (row) {
            if (row->narrow) raw.width -= 4, raw.leftMargin = 2;
            if (row->black) raw.blackLevel = row->black;
            if (row->mono) {
                raw.colors = 1, raw.filterPattern = 0;
            } else {
                if (row->m0 != 1) m[0] = row->m0;
                if (row->m1 != 1) m[1] = row->m1;
                if (row->m2 != 1) m[2] = row->m2;
            }
            raw.cmySensor = row->cmy;
        } else if (StartsWith(raw.modelExtra, "PB645C")) {
            m[0] = 1.0497f, m[2] = 1.3306f;
        } else if (StartsWith(raw.modelExtra, "PB645H")) {
            m[0] = 1.201f, m[2] = 1.5061f;
        } else if (StartsWith(raw.modelExtra, "PB645M")) {
            m[0] = 1.01755f, m[2] = 1.5424f;
        } else if (EqualsIgnoringCase(model, "DCS Pro 14n")) {
            m[1] = 1.0323f, m[2] = 1.258f;
        } else if (EqualsIgnoringCase(model, "DCS Pro 14nx")) {
            m[0] = 1.336f, m[2] = 1.3155f;
        } else if (EqualsIgnoringCase(model, "DCS Pro SLR/c")) {
            m[0] = 1.425f, m[2] = 1.293f;
        } else if (EqualsIgnoringCase(model, "DCS Pro SLR/n")) {
            m[0] = 1.324f, m[2] = 1.483f;
        }
    }
    switch (raw.compression) {
    case 0:
    case 1: raw.loader = RawLoadKodakEasy; break;
    case 7: raw.loader = RawLoadJpegLossless; break;
    case 32867: break;
    case 65000:
        if (raw.photometric == 32803) {
            raw.loader = RawLoadKodakCompressedCfa;
        } else {
            raw.loader = RawLoadKodakCompressedColor;
            raw.height += raw.height & 1;
            raw.width += raw.width & 1;
            raw.filterPattern = 0;
        }
        break;
    default: return false;
    }
    const int64_t fsize = raw.in.Size();
    if (model != "DC20" && Contains(model, "DC25")) {
        raw.model = "DC25";
        raw.height = 242;
        if (fsize > 99999) raw.width = 501, raw.rawWidth = 512, raw.dataOffset = 15937;
        else raw.width = 249, raw.rawWidth = 256, raw.dataOffset = 15681;
        raw.colors = 4;
        raw.filterPattern = 0xb4b4b4b4;
        raw.loader = RawLoadKodakEasy;
    } else if (model != "DC20" && model == "Digital Camera 40") {
        raw.model = "DC40";
        Set(raw, 512, 768);
        raw.dataOffset = 1152;
        raw.loader = RawLoadKodakDc40;
    } else if (model != "DC20" && Contains(model, "DC50")) {
        raw.model = "DC50";
        Set(raw, 512, 768);
        raw.dataOffset = 0x4d00;
        raw.loader = RawLoadKodakDc40;
    } else if (model != "DC20" && Contains(model, "DC120")) {
        raw.model = "DC120";
        Set(raw, 976, 848);
        raw.loader = raw.compression == 7 ? RawLoadKodakDc120Jpeg : RawLoadKodakDc120;
    } else if (model == "DC20") {
        raw.height = 242;
        if (fsize > 99999) raw.width = 501, raw.rawWidth = 512;
        else raw.width = 249, raw.rawWidth = 256;
        raw.dataOffset = raw.rawWidth + 1;
        raw.colors = 4;
        raw.filterPattern = 0x8d8d8d8d;
        RawSetFixedMatrix(raw, rawDc20Matrix);
        m[1] = 1.179f, m[2] = 1.209f, m[3] = 1.036f;
        raw.loader = RawLoadKodakEasy;
    }
    return true;
}

int Identify(TKVRawContext& raw) {
    raw.rawHeight = raw.rawWidth = 0;
    raw.make.clear(), raw.model.clear(), raw.modelExtra.clear();
    raw.grayPatch = {};
    raw.cameraRed = raw.cameraBlue = 0;
    raw.dataOffset = raw.curveOffset = 0;
    raw.compression = 0;
    raw.ffStuffing = false;

    ReadSignatures(raw);
    NormaliseNames(raw);
    if (raw.make.empty()) return 1;

    raw.loader = nullptr;
    raw.height = raw.rawHeight;
    raw.width = raw.rawWidth;
    raw.topMargin = raw.leftMargin = 0;
    raw.colors = 3;
    raw.filterPattern = 0x94949494;
    raw.blackLevel = 0;
    raw.cmySensor = raw.isFoveon = raw.useMatrix = false;
    raw.multipliers = {1, 1, 1, 1};
    raw.yRepeat = 1;
    raw.whiteLevel = 0x4000;
    raw.isCanon = raw.make == "Canon";
    if (raw.isCanon) {
        if (!HeadIs(raw, 6, "HEAPCCDR")) {
            raw.filterPattern = 0x61616161;
            raw.loader = RawLoadJpegLossless;
        } else if (raw.rawWidth != 0) {
            raw.loader = RawLoadCanonCompressed;
        }
    }
    if (raw.make == "NIKON") raw.loader = NikonIsCompressed(raw) ? RawLoadNikonCompressed : RawLoadNikonPlain;

    if (!ApplyCameraRow(raw)) {
        if (!EqualsIgnoringCase(raw.make, "KODAK")) ApplyOtherMakerRow(raw);
        else if (!ApplyKodakRows(raw)) return 1;
    }

    if (!raw.loader || raw.height == 0) return 1;
    if (raw.rawHeight == 0) raw.rawHeight = raw.height;
    if (raw.rawWidth == 0) raw.rawWidth = raw.width;
    if (raw.colors == 4 && !raw.useMatrix) RawSetCmygMatrix(raw);
    if (raw.useMatrix)
        for (int c = 0; c < raw.colors; ++c) {
            raw.colorMatrix[0][size_t(c)] *= raw.redScale;
            raw.colorMatrix[2][size_t(c)] *= raw.blueScale;
        }
    if (raw.fourColorRgb && raw.filterPattern && raw.colors == 3) {
        for (int shift = 0; shift < 32; shift += 4) {
            const uint32_t group = (raw.filterPattern >> shift) & 15;
            if (group == 9) raw.filterPattern += 2u << shift;
            if (group == 6) raw.filterPattern += 8u << shift;
        }
        raw.colors = 4;
        raw.multipliers[3] = raw.multipliers[1];
        if (raw.useMatrix)
            for (auto& row : raw.colorMatrix) row[3] = row[1] /= 2;
    }
    raw.in.Seek(raw.dataOffset);
    return 0;
}

}  // namespace

TRawHead RawHeadKind(std::span<const uint8_t> head, int64_t fileSize) {
    switch (FindSignature(head)) {
    case TSignature::tiff: return TRawHead::tiff;
    // 2834 pixels per metre is 72 dpi: the head of the Nucore bitmap is that of many a bitmap.
    case TSignature::bitmap: return TRawHead::shared;
    case TSignature::none:
        for (const TSizeRow& row : fileSizes)
            if (row.size == fileSize) return TRawHead::shared;
        return TRawHead::unknown;
    default: return TRawHead::container;
    }
}

int RawIdentifyFile(TKVRawContext& raw) {
    try {
        return Identify(raw);
    } catch (const EShortData&) {
        return 1;  // a file too short for what its head promises
    }
}
