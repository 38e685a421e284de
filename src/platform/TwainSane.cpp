// The source manager over SANE: every SANE device is a source, its options answer the
// capabilities, and its scan is handed over as a bitmap in memory, strips or a BMP file.
#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/Twain.h"

namespace {

constexpr double MmPerInch = 25.4;

TTwainSourceDialog sourceDialog = nullptr;
TTwainSelectDialog selectDialog = nullptr;

bool ContainsNoCase(std::string text, std::string part) {
    auto lower = [](std::string& s) { for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    lower(text);
    lower(part);
    return text.find(part) != std::string::npos;
}

TW_UINT16 ConditionOf(SANE_Status status) {
    switch (status) {
    case SANE_STATUS_GOOD: return TWCC_SUCCESS;
    case SANE_STATUS_NO_MEM: return TWCC_LOWMEMORY;
    case SANE_STATUS_JAMMED: return TWCC_PAPERJAM;
    case SANE_STATUS_DEVICE_BUSY: return TWCC_MAXCONNECTIONS;
    case SANE_STATUS_ACCESS_DENIED: return TWCC_DENIED;
    case SANE_STATUS_INVAL: return TWCC_BADVALUE;
    default: return TWCC_BUMMER;
    }
}

// --- SANE options

struct Option {
    SANE_Int index = -1;
    const SANE_Option_Descriptor* desc = nullptr;
    explicit operator bool() const { return desc != nullptr; }
};

Option FindOption(SANE_Handle handle, const char* name) {
    SANE_Int count = 0;
    if (sane_control_option(handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) return {};
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* desc = sane_get_option_descriptor(handle, i);
        if (desc && desc->name && std::strcmp(desc->name, name) == 0 && SANE_OPTION_IS_ACTIVE(desc->cap))
            return {i, desc};
    }
    return {};
}

bool IsNumber(const Option& option) {
    return option && option.desc->size == sizeof(SANE_Word) &&
           (option.desc->type == SANE_TYPE_INT || option.desc->type == SANE_TYPE_FIXED);
}

double WordValue(const Option& option, SANE_Word word) {
    return option.desc->type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : word;
}

bool GetNumber(SANE_Handle handle, const Option& option, double& value) {
    SANE_Word word = 0;
    if (!IsNumber(option) || sane_control_option(handle, option.index, SANE_ACTION_GET_VALUE, &word, nullptr) != SANE_STATUS_GOOD)
        return false;
    value = WordValue(option, word);
    return true;
}

bool SetNumber(SANE_Handle handle, const Option& option, double value) {
    if (!IsNumber(option) || !SANE_OPTION_IS_SETTABLE(option.desc->cap)) return false;
    SANE_Word word = option.desc->type == SANE_TYPE_FIXED ? SANE_FIX(value) : static_cast<SANE_Word>(std::lround(value));
    return sane_control_option(handle, option.index, SANE_ACTION_SET_VALUE, &word, nullptr) == SANE_STATUS_GOOD;
}

std::string GetString(SANE_Handle handle, const Option& option) {
    if (!option || option.desc->type != SANE_TYPE_STRING || option.desc->size <= 0) return {};
    std::string text(static_cast<size_t>(option.desc->size), '\0');
    if (sane_control_option(handle, option.index, SANE_ACTION_GET_VALUE, text.data(), nullptr) != SANE_STATUS_GOOD) return {};
    text.resize(std::strlen(text.c_str()));
    return text;
}

bool SetString(SANE_Handle handle, const Option& option, const std::string& value) {
    if (!option || option.desc->type != SANE_TYPE_STRING || !SANE_OPTION_IS_SETTABLE(option.desc->cap)) return false;
    std::string text = value;
    text.resize(std::max<size_t>(text.size() + 1, static_cast<size_t>(option.desc->size)), '\0');
    return sane_control_option(handle, option.index, SANE_ACTION_SET_VALUE, text.data(), nullptr) == SANE_STATUS_GOOD;
}

std::vector<std::string> StringList(const Option& option) {
    std::vector<std::string> list;
    if (option && option.desc->constraint_type == SANE_CONSTRAINT_STRING_LIST)
        for (const SANE_String_Const* s = option.desc->constraint.string_list; *s; ++s) list.emplace_back(*s);
    return list;
}

std::vector<double> WordList(const Option& option) {
    std::vector<double> list;
    if (option && option.desc->constraint_type == SANE_CONSTRAINT_WORD_LIST)
        for (SANE_Int i = 1; i <= option.desc->constraint.word_list[0]; ++i)
            list.push_back(WordValue(option, option.desc->constraint.word_list[i]));
    return list;
}

// --- The mapping of pixel types to scan modes and depths

TW_UINT16 PixelTypeOfMode(const std::string& mode) {
    if (ContainsNoCase(mode, "color") || ContainsNoCase(mode, "colour")) return TWPT_RGB;
    if (ContainsNoCase(mode, "gray") || ContainsNoCase(mode, "grey")) return TWPT_GRAY;
    if (ContainsNoCase(mode, "lineart") || ContainsNoCase(mode, "binary") || ContainsNoCase(mode, "halftone")) return TWPT_BW;
    return 0xFFFF;
}

// --- Sources

struct Device {
    std::string name, vendor, model;
};

struct Source {
    TW_IDENTITY identity{};
    SANE_Handle handle = nullptr;
    int state = 4;
    TW_UINT16 condition = TWCC_SUCCESS;
    TW_UINT16 pendingEvent = MSG_NULL;
    TW_UINT16 xferMech = TWSX_NATIVE;
    std::string fileName;
    // The image's caption: the device's maker and model until the application sets another.
    std::string caption;
    bool indicators = true, autoFeed = true, undefinedSize = false;
    // Pages the application still wants; -1 for all the feeder holds.
    int xferCount = -1;
    // The page being read.
    bool scanning = false, pageDone = false;
    SANE_Parameters params{};
    int rowsRead = 0;
    // Devices refuse option reads while scanning, so the page's resolution is taken before.
    double xDpi = 0, yDpi = 0;
    TW_UINT16 pendingCount = 0;
    // A colour page sent as three frames, one per colour, read whole before it is handed over;
    // params then describe the page in the layout of one frame.
    bool threePass = false;
    SANE_Parameters frame{};
};

struct Manager {
    bool open = false;
    TW_UINT16 condition = TWCC_SUCCESS;
    std::vector<Device> devices;
    size_t cursor = 0;
    std::map<TW_UINT32, Source> sources;
};

std::recursive_mutex lock;
Manager manager;

// --- Options that stand for capabilities

Option Resolution(SANE_Handle handle, TW_UINT16 cap) {
    Option own = FindOption(handle, cap == ICAP_XRESOLUTION ? SANE_NAME_SCAN_X_RESOLUTION : SANE_NAME_SCAN_Y_RESOLUTION);
    return own ? own : FindOption(handle, SANE_NAME_SCAN_RESOLUTION);
}

std::vector<std::string> FeederSources(SANE_Handle handle, bool duplex) {
    std::vector<std::string> list;
    for (const std::string& s : StringList(FindOption(handle, SANE_NAME_SCAN_SOURCE)))
        if ((ContainsNoCase(s, "feeder") || ContainsNoCase(s, "adf")) && ContainsNoCase(s, "duplex") == duplex)
            list.push_back(s);
    return list;
}

bool FeederSelected(SANE_Handle handle) {
    const std::string current = GetString(handle, FindOption(handle, SANE_NAME_SCAN_SOURCE));
    return ContainsNoCase(current, "feeder") || ContainsNoCase(current, "adf");
}

bool DepthOneIsLineArt(SANE_Handle handle) {
    const std::vector<double> depths = WordList(FindOption(handle, SANE_NAME_BIT_DEPTH));
    return std::find(depths.begin(), depths.end(), 1.0) != depths.end();
}

std::vector<double> PixelTypes(SANE_Handle handle) {
    std::vector<double> types;
    for (const std::string& mode : StringList(FindOption(handle, SANE_NAME_SCAN_MODE))) {
        const TW_UINT16 type = PixelTypeOfMode(mode);
        if (type != 0xFFFF && std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    }
    if (DepthOneIsLineArt(handle) && std::find(types.begin(), types.end(), TWPT_BW) == types.end() &&
        std::find(types.begin(), types.end(), TWPT_GRAY) != types.end())
        types.insert(types.begin(), TWPT_BW);
    std::sort(types.begin(), types.end());
    return types;
}

int CurrentDepth(SANE_Handle handle) {
    double depth = 8;
    GetNumber(handle, FindOption(handle, SANE_NAME_BIT_DEPTH), depth);
    return static_cast<int>(depth);
}

TW_UINT16 CurrentPixelType(SANE_Handle handle) {
    const TW_UINT16 type = PixelTypeOfMode(GetString(handle, FindOption(handle, SANE_NAME_SCAN_MODE)));
    if (type == TWPT_GRAY && CurrentDepth(handle) == 1) return TWPT_BW;
    return type == 0xFFFF ? TWPT_GRAY : type;
}

// Bits per pixel the device offers for the current pixel type.
std::vector<double> BitDepths(SANE_Handle handle) {
    const TW_UINT16 type = CurrentPixelType(handle);
    if (type == TWPT_BW) return {1};
    std::vector<double> depths;
    for (double d : WordList(FindOption(handle, SANE_NAME_BIT_DEPTH)))
        if (d > 1) depths.push_back(type == TWPT_RGB ? d * 3 : d);
    if (depths.empty()) depths.push_back(type == TWPT_RGB ? 24 : 8);
    return depths;
}

bool SetPixelType(SANE_Handle handle, int type) {
    const Option mode = FindOption(handle, SANE_NAME_SCAN_MODE);
    const std::vector<std::string> modes = StringList(mode);
    auto modeOf = [&](TW_UINT16 wanted) {
        for (const std::string& m : modes)
            if (PixelTypeOfMode(m) == wanted) return m;
        return std::string();
    };
    std::string chosen = modeOf(static_cast<TW_UINT16>(type));
    if (type == TWPT_BW && chosen.empty() && DepthOneIsLineArt(handle))
        return SetString(handle, mode, modeOf(TWPT_GRAY)) && SetNumber(handle, FindOption(handle, SANE_NAME_BIT_DEPTH), 1);
    if (chosen.empty() || !SetString(handle, mode, chosen)) return false;
    const Option depthNow = FindOption(handle, SANE_NAME_BIT_DEPTH);
    if (type != TWPT_BW && depthNow && CurrentDepth(handle) == 1) SetNumber(handle, depthNow, 8);
    return true;
}

bool SetBitDepth(SANE_Handle handle, double bits) {
    const TW_UINT16 type = CurrentPixelType(handle);
    if (type == TWPT_BW) return bits == 1;
    const double perSample = type == TWPT_RGB ? bits / 3 : bits;
    const std::vector<double> depths = WordList(FindOption(handle, SANE_NAME_BIT_DEPTH));
    if (perSample <= 1 || std::find(depths.begin(), depths.end(), perSample) == depths.end()) return false;
    return SetNumber(handle, FindOption(handle, SANE_NAME_BIT_DEPTH), perSample);
}

// A numeric option's values as a container: its range, its word list, or its current value.
TW_HANDLE NumberContainer(SANE_Handle handle, const Option& option, TW_UINT16 itemType, TW_UINT16& conType,
                          double scale = 1) {
    double current = 0;
    if (!GetNumber(handle, option, current)) return nullptr;
    current *= scale;
    if (option.desc->constraint_type == SANE_CONSTRAINT_RANGE) {
        const SANE_Range* r = option.desc->constraint.range;
        conType = TWON_RANGE;
        const double step = r->quant ? WordValue(option, r->quant) * scale : (itemType == TWTY_FIX32 ? 1.0 / 65536 : 1);
        return TwainRange(itemType, WordValue(option, r->min) * scale, WordValue(option, r->max) * scale, step,
                          current, current);
    }
    const std::vector<double> list = WordList(option);
    if (!list.empty()) {
        conType = TWON_ENUMERATION;
        std::vector<double> items;
        for (double v : list) items.push_back(v * scale);
        const auto at = std::find(items.begin(), items.end(), current);
        return TwainEnumeration(itemType, items, static_cast<TW_UINT32>(at - items.begin()), 0);
    }
    conType = TWON_ONEVALUE;
    return TwainOneValue(itemType, current);
}

TW_HANDLE ListContainer(TW_UINT16 itemType, const std::vector<double>& items, double current, TW_UINT16& conType) {
    conType = TWON_ENUMERATION;
    const auto at = std::find(items.begin(), items.end(), current);
    return TwainEnumeration(itemType, items, static_cast<TW_UINT32>(at - items.begin()), 0);
}

// The value a set container asks for: the one value, the enumeration's or the range's current.
bool WantedValue(const TW_CAPABILITY& cap, double& value) {
    TTwainValues values;
    if (!TwainReadContainer(cap.ConType, cap.hContainer, values) || !values.HasCurrent) return false;
    value = values.Current;
    return true;
}

double ScanAreaMax(SANE_Handle handle, const char* name) {
    const Option option = FindOption(handle, name);
    if (!IsNumber(option) || option.desc->unit != SANE_UNIT_MM || option.desc->constraint_type != SANE_CONSTRAINT_RANGE)
        return -1;
    return WordValue(option, option.desc->constraint.range->max) / MmPerInch;
}

bool ScanAreaInMm(SANE_Handle handle) {
    for (const char* name : {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y}) {
        const Option option = FindOption(handle, name);
        if (!IsNumber(option) || option.desc->unit != SANE_UNIT_MM) return false;
    }
    return true;
}

bool IsColourFrame(SANE_Frame format) {
    return format == SANE_FRAME_RED || format == SANE_FRAME_GREEN || format == SANE_FRAME_BLUE;
}

// A device set to send colour pages as three frames can give no strips of whole pixels.
bool ScansThreePass(SANE_Handle handle) {
    SANE_Parameters p{};
    return sane_get_parameters(handle, &p) == SANE_STATUS_GOOD && IsColourFrame(p.format);
}

// --- Capabilities

TW_UINT16 Fail(TW_UINT16& condition, TW_UINT16 code) {
    condition = code;
    return TWRC_FAILURE;
}

TW_UINT16 GetCapability(Source& source, TW_CAPABILITY& cap) {
    SANE_Handle h = source.handle;
    TW_UINT16 conType = TWON_ONEVALUE;
    TW_HANDLE container = nullptr;
    switch (cap.Cap) {
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: container = NumberContainer(h, Resolution(h, cap.Cap), TWTY_FIX32, conType); break;
    case ICAP_PIXELTYPE: {
        const std::vector<double> types = PixelTypes(h);
        if (!types.empty()) container = ListContainer(TWTY_UINT16, types, CurrentPixelType(h), conType);
        break;
    }
    case ICAP_BITDEPTH: {
        const TW_UINT16 type = CurrentPixelType(h);
        const int depth = type == TWPT_BW ? 1 : CurrentDepth(h) * (type == TWPT_RGB ? 3 : 1);
        container = ListContainer(TWTY_UINT16, BitDepths(h), depth, conType);
        break;
    }
    case ICAP_UNITS: container = TwainOneValue(TWTY_UINT16, TWUN_INCHES); break;
    case ICAP_PIXELFLAVOR: container = TwainOneValue(TWTY_UINT16, TWPF_CHOCOLATE); break;
    case ICAP_PLANARCHUNKY:
        container = TwainOneValue(TWTY_UINT16, ScansThreePass(h) ? TWPC_PLANAR : TWPC_CHUNKY);
        break;
    case ICAP_IMAGEFILEFORMAT: container = TwainOneValue(TWTY_UINT16, TWFF_BMP); break;
    case ICAP_XFERMECH: {
        std::vector<double> mechanisms{TWSX_NATIVE, TWSX_FILE};
        if (!ScansThreePass(h)) mechanisms.push_back(TWSX_MEMORY);
        container = ListContainer(TWTY_UINT16, mechanisms, source.xferMech, conType);
        break;
    }
    case CAP_CAPTION: container = TwainOneText(source.caption); break;
    case ICAP_UNDEFINEDIMAGESIZE: container = TwainOneValue(TWTY_BOOL, source.undefinedSize); break;
    case CAP_INDICATORS: container = TwainOneValue(TWTY_BOOL, source.indicators); break;
    case CAP_UICONTROLLABLE: container = TwainOneValue(TWTY_BOOL, 1); break;
    case CAP_XFERCOUNT: container = TwainOneValue(TWTY_INT16, source.xferCount); break;
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT: {
        const double size = ScanAreaMax(h, cap.Cap == ICAP_PHYSICALWIDTH ? SANE_NAME_SCAN_BR_X : SANE_NAME_SCAN_BR_Y);
        if (size >= 0) container = TwainOneValue(TWTY_FIX32, size);
        break;
    }
    case ICAP_BRIGHTNESS:
    case ICAP_CONTRAST:
    case ICAP_THRESHOLD: {
        const char* name = cap.Cap == ICAP_BRIGHTNESS ? SANE_NAME_BRIGHTNESS
                           : cap.Cap == ICAP_CONTRAST ? SANE_NAME_CONTRAST : SANE_NAME_THRESHOLD;
        container = NumberContainer(h, FindOption(h, name), TWTY_FIX32, conType);
        break;
    }
    case CAP_FEEDERENABLED:
        if (!FeederSources(h, false).empty()) container = TwainOneValue(TWTY_BOOL, FeederSelected(h));
        break;
    case CAP_FEEDERLOADED:
    case CAP_AUTOFEED:
        if (!FeederSources(h, false).empty())
            container = TwainOneValue(TWTY_BOOL, cap.Cap == CAP_FEEDERLOADED || source.autoFeed);
        break;
    case CAP_DUPLEX:
        if (FindOption(h, SANE_NAME_SCAN_SOURCE)) container = TwainOneValue(TWTY_UINT16, FeederSources(h, true).empty() ? 0 : 1);
        break;
    case CAP_DUPLEXENABLED:
        if (!FeederSources(h, true).empty())
            container = TwainOneValue(TWTY_BOOL, ContainsNoCase(GetString(h, FindOption(h, SANE_NAME_SCAN_SOURCE)), "duplex"));
        break;
    default: break;
    }
    if (!container) return Fail(source.condition, TWCC_CAPUNSUPPORTED);
    cap.ConType = conType;
    cap.hContainer = container;
    return TWRC_SUCCESS;
}

bool SetFeeder(SANE_Handle h, bool enable, bool duplex) {
    const Option option = FindOption(h, SANE_NAME_SCAN_SOURCE);
    if (enable) {
        const std::vector<std::string> list = FeederSources(h, duplex);
        return !list.empty() && SetString(h, option, list.front());
    }
    for (const std::string& s : StringList(option))
        if (!ContainsNoCase(s, "feeder") && !ContainsNoCase(s, "adf")) return SetString(h, option, s);
    return false;
}

TW_UINT16 SetCapability(Source& source, const TW_CAPABILITY& cap) {
    if (source.state != 4) return Fail(source.condition, TWCC_SEQERROR);
    SANE_Handle h = source.handle;
    if (cap.Cap == CAP_CAPTION) {
        TW_UINT16 itemType = 0;
        if (cap.ConType == TWON_ONEVALUE && cap.hContainer && cap.hContainer->Bytes.size() >= 2)
            std::memcpy(&itemType, cap.hContainer->Bytes.data(), 2);
        if (itemType != TWTY_STR255) return Fail(source.condition, TWCC_BADVALUE);
        source.caption = TwainReadText(cap.hContainer);
        return TWRC_SUCCESS;
    }
    double value = 0;
    if (!WantedValue(cap, value)) return Fail(source.condition, TWCC_BADVALUE);
    bool supported = true, done = false;
    switch (cap.Cap) {
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
        const Option option = Resolution(h, cap.Cap);
        supported = bool(option);
        done = value > 0 && SetNumber(h, option, value);
        break;
    }
    case ICAP_PIXELTYPE: done = SetPixelType(h, static_cast<int>(value)); supported = !PixelTypes(h).empty(); break;
    case ICAP_BITDEPTH: done = SetBitDepth(h, value); break;
    case ICAP_UNITS: done = value == TWUN_INCHES; break;
    case ICAP_PIXELFLAVOR: done = value == TWPF_CHOCOLATE; break;
    case ICAP_PLANARCHUNKY: done = value == (ScansThreePass(h) ? TWPC_PLANAR : TWPC_CHUNKY); break;
    case ICAP_IMAGEFILEFORMAT: done = value == TWFF_BMP; break;
    case ICAP_XFERMECH:
        done = value == TWSX_NATIVE || value == TWSX_FILE || (value == TWSX_MEMORY && !ScansThreePass(h));
        if (done) source.xferMech = static_cast<TW_UINT16>(value);
        break;
    case ICAP_UNDEFINEDIMAGESIZE: source.undefinedSize = value != 0; done = true; break;
    case CAP_INDICATORS: source.indicators = value != 0; done = true; break;
    case CAP_XFERCOUNT:
        done = value == -1 || value >= 1;
        if (done) source.xferCount = static_cast<int>(value);
        break;
    case ICAP_BRIGHTNESS:
    case ICAP_CONTRAST:
    case ICAP_THRESHOLD: {
        const Option option = FindOption(h, cap.Cap == ICAP_BRIGHTNESS ? SANE_NAME_BRIGHTNESS
                                            : cap.Cap == ICAP_CONTRAST ? SANE_NAME_CONTRAST : SANE_NAME_THRESHOLD);
        supported = bool(option);
        done = SetNumber(h, option, value);
        break;
    }
    case CAP_FEEDERENABLED:
        supported = !FeederSources(h, false).empty();
        done = supported && SetFeeder(h, value != 0, false);
        break;
    case CAP_AUTOFEED:
        supported = !FeederSources(h, false).empty();
        source.autoFeed = value != 0;
        done = supported;
        break;
    case CAP_DUPLEXENABLED:
        supported = !FeederSources(h, true).empty();
        done = supported && (value != 0 ? SetFeeder(h, true, true) : !ContainsNoCase(GetString(h, FindOption(h, SANE_NAME_SCAN_SOURCE)), "duplex") || SetFeeder(h, true, false));
        break;
    default: supported = false;
    }
    if (!supported) return Fail(source.condition, TWCC_CAPUNSUPPORTED);
    return done ? TWRC_SUCCESS : Fail(source.condition, TWCC_BADVALUE);
}

TW_UINT16 Layout(Source& source, TW_UINT16 msg, TW_IMAGELAYOUT& layout) {
    SANE_Handle h = source.handle;
    if (!ScanAreaInMm(h)) return Fail(source.condition, TWCC_CAPUNSUPPORTED);
    const char* names[] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
    TW_FIX32* edges[] = {&layout.Frame.Left, &layout.Frame.Top, &layout.Frame.Right, &layout.Frame.Bottom};
    if (msg == MSG_GET) {
        layout = {};
        for (int i = 0; i < 4; ++i) {
            double mm = 0;
            GetNumber(h, FindOption(h, names[i]), mm);
            *edges[i] = TwainToFix32(mm / MmPerInch);
        }
        layout.DocumentNumber = layout.PageNumber = layout.FrameNumber = 1;
        return TWRC_SUCCESS;
    }
    if (msg != MSG_SET) return Fail(source.condition, TWCC_BADPROTOCOL);
    if (source.state != 4) return Fail(source.condition, TWCC_SEQERROR);
    bool all = true;
    for (int i = 0; i < 4; ++i) all = SetNumber(h, FindOption(h, names[i]), TwainFromFix32(*edges[i]) * MmPerInch) && all;
    return all ? TWRC_SUCCESS : Fail(source.condition, TWCC_BADVALUE);
}

// --- Reading a page

// Starts the device's next page; false (with the condition) when it cannot.
bool StartPage(Source& source, TW_UINT16& condition) {
    source.xDpi = source.yDpi = 0;
    GetNumber(source.handle, Resolution(source.handle, ICAP_XRESOLUTION), source.xDpi);
    GetNumber(source.handle, Resolution(source.handle, ICAP_YRESOLUTION), source.yDpi);
    const SANE_Status status = sane_start(source.handle);
    if (status == SANE_STATUS_GOOD) {
        const SANE_Status paramsStatus = sane_get_parameters(source.handle, &source.params);
        const SANE_Parameters& p = source.params;
        const bool oneFrame = p.last_frame && (p.format == SANE_FRAME_GRAY || p.format == SANE_FRAME_RGB);
        source.threePass = !p.last_frame && IsColourFrame(p.format);
        // One bit per sample is line art, which has no colour.
        const bool depthKnown = p.depth == 8 || p.depth == 16 || (p.depth == 1 && p.format == SANE_FRAME_GRAY);
        const int sampleBytes = p.depth / 8;
        const bool framesKnown = oneFrame || (source.threePass && p.bytes_per_line == p.pixels_per_line * sampleBytes);
        const bool sized = p.pixels_per_line > 0 && p.bytes_per_line > 0;
        if (paramsStatus == SANE_STATUS_GOOD && framesKnown && depthKnown && sized) {
            if (source.threePass) {
                source.frame = p;
                source.params.format = SANE_FRAME_RGB;
                source.params.bytes_per_line = p.bytes_per_line * 3;
            }
            source.scanning = true;
            source.pageDone = false;
            source.rowsRead = 0;
            return true;
        }
        condition = TWCC_BUMMER;
    } else {
        condition = ConditionOf(status);
    }
    sane_cancel(source.handle);
    source.scanning = false;
    return false;
}

// A page read to its last row is also read to the device's end of frame, as devices expect
// before the next page or the cancel.
void EndPage(Source& source) {
    if (!source.scanning) return;
    uint8_t rest[4096];
    SANE_Int n = 0;
    for (int reads = 0; source.pageDone && reads < 256 && sane_read(source.handle, rest, sizeof rest, &n) == SANE_STATUS_GOOD; ++reads) {
    }
    sane_cancel(source.handle);
    source.scanning = false;
}

int BitsPerPixel(const SANE_Parameters& p) { return p.depth * (p.format == SANE_FRAME_RGB ? 3 : 1); }

// Reads one row in the protocol's layout (1-bit rows with 0 black); false at the end of the page
// or on an error, which leaves the condition.
bool ReadRow(Source& source, uint8_t* row, TW_UINT16& condition) {
    if (source.pageDone || (source.params.lines >= 0 && source.rowsRead >= source.params.lines)) {
        source.pageDone = true;
        return false;
    }
    const int length = source.params.bytes_per_line;
    int got = 0;
    while (got < length) {
        SANE_Int n = 0;
        const SANE_Status status = sane_read(source.handle, row + got, length - got, &n);
        if (status == SANE_STATUS_EOF) break;
        if (status != SANE_STATUS_GOOD) {
            condition = ConditionOf(status);
            source.pageDone = true;
            return false;
        }
        got += n;
    }
    if (got < length) {
        source.pageDone = true;
        return false;
    }
    if (source.params.depth == 1)
        for (int i = 0; i < length; ++i) row[i] = static_cast<uint8_t>(~row[i]);
    ++source.rowsRead;
    return true;
}

// A device-independent bitmap of the rows: 1, 8 or 24 bits, 16-bit samples cut to their high byte.
std::vector<uint8_t> PackedBitmap(const SANE_Parameters& p, const std::vector<uint8_t>& rows, int rowCount, double dpi) {
    const int width = p.pixels_per_line;
    const int bits = p.depth == 1 ? 1 : (p.format == SANE_FRAME_RGB ? 24 : 8);
    const int64_t stride = ((int64_t(width) * bits + 31) / 32) * 4;
    const int colours = bits == 1 ? 2 : bits == 8 ? 256 : 0;
    std::vector<uint8_t> dib(40 + colours * 4 + stride * rowCount, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&dib[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&dib[at], &v, 2); };
    put32(0, 40);
    put32(4, static_cast<uint32_t>(width));
    put32(8, static_cast<uint32_t>(rowCount));
    put16(12, 1);
    put16(14, static_cast<uint16_t>(bits));
    put32(20, static_cast<uint32_t>(stride * rowCount));
    const auto ppm = static_cast<uint32_t>(std::lround(dpi / 0.0254));
    put32(24, ppm);
    put32(28, ppm);
    put32(32, static_cast<uint32_t>(colours));
    for (int i = 0; i < colours; ++i) {
        const auto level = static_cast<uint8_t>(colours == 2 ? i * 255 : i);
        dib[40 + i * 4] = dib[41 + i * 4] = dib[42 + i * 4] = level;
    }
    const size_t pixels = 40 + colours * 4;
    const int samples = p.format == SANE_FRAME_RGB ? 3 : 1;
    const int sampleBytes = p.depth == 16 ? 2 : 1;
    for (int y = 0; y < rowCount; ++y) {
        const uint8_t* src = &rows[size_t(y) * p.bytes_per_line];
        uint8_t* dst = &dib[pixels + size_t(rowCount - 1 - y) * stride];
        if (bits == 1) {
            std::memcpy(dst, src, size_t(width + 7) / 8);
            continue;
        }
        for (int x = 0; x < width; ++x)
            for (int s = 0; s < samples; ++s) {
                // 16-bit samples are in the machine's order; their high byte is the second one.
                const uint8_t v = src[(size_t(x) * samples + s) * sampleBytes + (sampleBytes - 1)];
                dst[size_t(x) * samples + (samples == 3 ? 2 - s : 0)] = v;
            }
    }
    return dib;
}

// Reads the frame the device has started to its end, whole rows only.
bool ReadFrame(SANE_Handle handle, const SANE_Parameters& frame, std::vector<uint8_t>& plane, TW_UINT16& condition) {
    uint8_t buffer[65536];
    for (;;) {
        SANE_Int n = 0;
        const SANE_Status status = sane_read(handle, buffer, sizeof buffer, &n);
        if (status == SANE_STATUS_EOF) break;
        if (status != SANE_STATUS_GOOD) {
            condition = ConditionOf(status);
            return false;
        }
        plane.insert(plane.end(), buffer, buffer + n);
        if (frame.lines >= 0 && plane.size() >= size_t(frame.lines) * frame.bytes_per_line) break;
    }
    plane.resize(plane.size() - plane.size() % size_t(frame.bytes_per_line));
    return true;
}

// Reads the three frames of a colour page, in the device's order, into interleaved rows.
bool ReadThreePassRows(Source& source, std::vector<uint8_t>& rows, TW_UINT16& condition) {
    std::vector<uint8_t> planes[3];
    SANE_Parameters frame = source.frame;
    for (int pass = 0; pass < 3; ++pass) {
        if (pass > 0) {
            const SANE_Status status = sane_start(source.handle);
            if (status != SANE_STATUS_GOOD || sane_get_parameters(source.handle, &frame) != SANE_STATUS_GOOD) {
                condition = status != SANE_STATUS_GOOD ? ConditionOf(status) : TWCC_BUMMER;
                return false;
            }
        }
        const int channel = frame.format - SANE_FRAME_RED;
        const bool sameLayout = frame.bytes_per_line == source.frame.bytes_per_line && frame.depth == source.frame.depth;
        const bool expected = IsColourFrame(frame.format) && sameLayout && frame.last_frame == (pass == 2);
        if (!expected || !planes[channel].empty()) {
            condition = TWCC_BUMMER;
            return false;
        }
        if (!ReadFrame(source.handle, frame, planes[channel], condition)) return false;
    }
    const size_t frameRow = size_t(source.frame.bytes_per_line);
    const size_t rowCount = std::min({planes[0].size(), planes[1].size(), planes[2].size()}) / frameRow;
    const size_t sampleBytes = size_t(source.frame.depth / 8);
    rows.assign(rowCount * frameRow * 3, 0);
    for (size_t y = 0; y < rowCount; ++y)
        for (size_t x = 0; x < size_t(source.frame.pixels_per_line); ++x)
            for (size_t c = 0; c < 3; ++c)
                std::memcpy(&rows[(y * frameRow + x * sampleBytes) * 3 + c * sampleBytes],
                            &planes[c][y * frameRow + x * sampleBytes], sampleBytes);
    source.rowsRead = static_cast<int>(rowCount);
    source.pageDone = true;
    return true;
}

// Reads the rest of the page as a device-independent bitmap; false when it fails or is empty.
bool ReadWholePage(Source& source, std::vector<uint8_t>& dib) {
    std::vector<uint8_t> rows;
    std::vector<uint8_t> row(static_cast<size_t>(source.params.bytes_per_line));
    TW_UINT16 condition = TWCC_SUCCESS;
    if (source.threePass) ReadThreePassRows(source, rows, condition);
    else
        while (ReadRow(source, row.data(), condition)) rows.insert(rows.end(), row.begin(), row.end());
    if (condition != TWCC_SUCCESS || source.rowsRead == 0) {
        source.condition = condition != TWCC_SUCCESS ? condition : TWCC_BUMMER;
        return false;
    }
    dib = PackedBitmap(source.params, rows, source.rowsRead, source.xDpi);
    return true;
}

TW_UINT16 ImageInfo(Source& source, TW_IMAGEINFO& info) {
    if (source.state < 6 || !source.scanning) return Fail(source.condition, TWCC_SEQERROR);
    const SANE_Parameters& p = source.params;
    info = {};
    info.XResolution = TwainToFix32(source.xDpi);
    info.YResolution = TwainToFix32(source.yDpi);
    info.ImageWidth = p.pixels_per_line;
    info.ImageLength = source.pageDone ? source.rowsRead : p.lines;
    info.SamplesPerPixel = static_cast<TW_INT16>(p.format == SANE_FRAME_RGB ? 3 : 1);
    info.Planar = source.threePass;
    for (int i = 0; i < info.SamplesPerPixel; ++i) info.BitsPerSample[i] = static_cast<TW_INT16>(p.depth);
    info.BitsPerPixel = static_cast<TW_INT16>(BitsPerPixel(p));
    info.PixelType = static_cast<TW_INT16>(p.format == SANE_FRAME_RGB ? TWPT_RGB : p.depth == 1 ? TWPT_BW : TWPT_GRAY);
    return TWRC_SUCCESS;
}

TW_UINT16 MemoryStrip(Source& source, TW_IMAGEMEMXFER& strip) {
    if (source.state < 6 || !source.scanning || source.xferMech != TWSX_MEMORY || source.threePass)
        return Fail(source.condition, TWCC_SEQERROR);
    const auto rowBytes = static_cast<uint32_t>(source.params.bytes_per_line);
    if (!strip.Memory.TheMem || strip.Memory.Length < rowBytes) return Fail(source.condition, TWCC_BADVALUE);
    auto* out = static_cast<uint8_t*>(strip.Memory.TheMem);
    const uint32_t capacity = strip.Memory.Length / rowBytes;
    const int first = source.rowsRead;
    uint32_t rows = 0;
    TW_UINT16 condition = TWCC_SUCCESS;
    while (rows < capacity && ReadRow(source, out + size_t(rows) * rowBytes, condition)) ++rows;
    // A failed page stays ready to be ended or reset.
    if (condition != TWCC_SUCCESS || (rows == 0 && source.rowsRead == 0)) {
        source.condition = condition != TWCC_SUCCESS ? condition : TWCC_BUMMER;
        source.pageDone = true;
        return TWRC_FAILURE;
    }
    source.state = 7;
    strip.Compression = 0;
    strip.BytesPerRow = rowBytes;
    strip.Columns = static_cast<TW_UINT32>(source.params.pixels_per_line);
    strip.Rows = rows;
    strip.XOffset = 0;
    strip.YOffset = static_cast<TW_UINT32>(first);
    strip.BytesWritten = rows * rowBytes;
    // The page ends when its known length is read or the device says so; a strip filled exactly
    // to the end is followed by an empty final one only for pages of unknown length.
    if (source.params.lines >= 0 && source.rowsRead >= source.params.lines) source.pageDone = true;
    return source.pageDone ? TWRC_XFERDONE : TWRC_SUCCESS;
}

bool WriteBmpFile(const std::string& name, const std::vector<uint8_t>& dib) {
    FILE* file = std::fopen(name.c_str(), "wb");
    if (!file) return false;
    uint32_t offBits = 0;
    std::memcpy(&offBits, &dib[32], 4);
    offBits = 14 + 40 + offBits * 4;
    uint8_t header[14] = {'B', 'M'};
    const auto size = static_cast<uint32_t>(14 + dib.size());
    std::memcpy(header + 2, &size, 4);
    std::memcpy(header + 10, &offBits, 4);
    const bool written = std::fwrite(header, 1, 14, file) == 14 && std::fwrite(dib.data(), 1, dib.size(), file) == dib.size();
    return std::fclose(file) == 0 && written;
}

TW_UINT16 ImageTransfer(Source& source, TW_UINT16 dat, TW_MEMREF data) {
    // A page that cannot come in strips (one sent as three frames) comes whole while strips were chosen.
    const bool mechanism = dat == DAT_IMAGEFILEXFER ? source.xferMech == TWSX_FILE : source.xferMech != TWSX_FILE;
    if (source.state != 6 || !source.scanning || !mechanism) return Fail(source.condition, TWCC_SEQERROR);
    std::vector<uint8_t> dib;
    if (!ReadWholePage(source, dib)) return TWRC_FAILURE;
    if (dat == DAT_IMAGEFILEXFER && !WriteBmpFile(source.fileName, dib)) {
        std::remove(source.fileName.c_str());
        return Fail(source.condition, TWCC_DENIED);
    }
    source.state = 7;
    if (dat == DAT_IMAGEFILEXFER) return TWRC_XFERDONE;
    TW_HANDLE handle = TwainAlloc(0);
    handle->Bytes = std::move(dib);
    *static_cast<TW_HANDLE*>(data) = handle;
    return TWRC_XFERDONE;
}

// Ends the page; with the feeder the next page is started at once, so the count tells whether
// one is there. No sheet is fed once the application has all the pages it asked for.
TW_UINT16 EndTransfer(Source& source, TW_PENDINGXFERS& pending) {
    if (source.state < 6) return Fail(source.condition, TWCC_SEQERROR);
    const bool wholePage = source.pageDone;
    EndPage(source);
    if (source.xferCount > 0) --source.xferCount;
    TW_UINT16 ignored = TWCC_SUCCESS;
    const bool more = wholePage && source.xferCount != 0 && FeederSelected(source.handle) && StartPage(source, ignored);
    source.pendingCount = more ? 0xFFFF : 0;
    source.state = more ? 6 : 5;
    pending.Count = source.pendingCount;
    pending.EOJ = 0;
    return TWRC_SUCCESS;
}

TW_UINT16 EnableSource(Source& source, TW_USERINTERFACE& ui) {
    if (source.state != 4) return Fail(source.condition, TWCC_SEQERROR);
    if (ui.ShowUI && sourceDialog && !sourceDialog(source.identity, source.handle)) return TWRC_CANCEL;
    TW_UINT16 condition = TWCC_SUCCESS;
    if (!StartPage(source, condition)) return Fail(source.condition, condition);
    source.state = 5;
    source.pendingEvent = MSG_XFERREADY;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceOperation(Source& source, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    if (!data && dat != DAT_PENDINGXFERS && dat != DAT_IMAGEFILEXFER) return Fail(source.condition, TWCC_BADVALUE);
    if (dg == DG_CONTROL) switch (dat) {
    case DAT_STATUS:
        static_cast<TW_STATUS*>(data)->ConditionCode = source.condition;
        source.condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    case DAT_CAPABILITY: {
        auto& cap = *static_cast<TW_CAPABILITY*>(data);
        if (msg == MSG_GET || msg == MSG_GETCURRENT) return GetCapability(source, cap);
        if (msg == MSG_SET) return SetCapability(source, cap);
        return Fail(source.condition, TWCC_CAPBADOPERATION);
    }
    case DAT_USERINTERFACE:
        if (msg == MSG_ENABLEDS) return EnableSource(source, *static_cast<TW_USERINTERFACE*>(data));
        if (msg != MSG_DISABLEDS || source.state != 5) return Fail(source.condition, TWCC_SEQERROR);
        EndPage(source);
        source.pendingEvent = MSG_NULL;
        source.state = 4;
        return TWRC_SUCCESS;
    case DAT_EVENT: {
        auto& event = *static_cast<TW_EVENT*>(data);
        event.TWMessage = MSG_NULL;
        if (source.state < 5 || source.pendingEvent == MSG_NULL) return TWRC_NOTDSEVENT;
        event.TWMessage = source.pendingEvent;
        if (source.pendingEvent == MSG_XFERREADY) source.state = 6;
        source.pendingEvent = MSG_NULL;
        return TWRC_DSEVENT;
    }
    case DAT_PENDINGXFERS: {
        TW_PENDINGXFERS ignored{};
        auto& pending = data ? *static_cast<TW_PENDINGXFERS*>(data) : ignored;
        if (msg == MSG_ENDXFER) return EndTransfer(source, pending);
        if (msg == MSG_GET) {
            pending.Count = source.state >= 6 ? (source.pendingCount ? source.pendingCount : 1) : 0;
            return TWRC_SUCCESS;
        }
        if (msg != MSG_RESET || source.state != 6) return Fail(source.condition, TWCC_SEQERROR);
        EndPage(source);
        pending.Count = source.pendingCount = 0;
        source.state = 5;
        return TWRC_SUCCESS;
    }
    case DAT_SETUPMEMXFER: {
        if (source.state < 6 || !source.scanning) return Fail(source.condition, TWCC_SEQERROR);
        const auto row = static_cast<TW_UINT32>(source.params.bytes_per_line);
        auto& setup = *static_cast<TW_SETUPMEMXFER*>(data);
        setup.MinBufSize = row;
        setup.Preferred = row * std::max<TW_UINT32>(1, 65536 / row);
        setup.MaxBufSize = std::max<TW_UINT32>(setup.Preferred, row * 64);
        return TWRC_SUCCESS;
    }
    case DAT_SETUPFILEXFER: {
        auto& setup = *static_cast<TW_SETUPFILEXFER*>(data);
        if (msg == MSG_GET) {
            std::memset(setup.FileName, 0, sizeof setup.FileName);
            std::memcpy(setup.FileName, source.fileName.data(), std::min(source.fileName.size(), sizeof setup.FileName - 1));
            setup.Format = TWFF_BMP;
            setup.VRefNum = 0;
            return TWRC_SUCCESS;
        }
        if (msg != MSG_SET) return Fail(source.condition, TWCC_BADPROTOCOL);
        if (setup.Format != TWFF_BMP) return Fail(source.condition, TWCC_BADVALUE);
        source.fileName.assign(setup.FileName, strnlen(setup.FileName, sizeof setup.FileName));
        return TWRC_SUCCESS;
    }
    default: break;
    }
    if (dg == DG_IMAGE) switch (dat) {
    case DAT_IMAGEINFO: return ImageInfo(source, *static_cast<TW_IMAGEINFO*>(data));
    case DAT_IMAGELAYOUT: return Layout(source, msg, *static_cast<TW_IMAGELAYOUT*>(data));
    case DAT_IMAGEMEMXFER: return MemoryStrip(source, *static_cast<TW_IMAGEMEMXFER*>(data));
    case DAT_IMAGENATIVEXFER:
    case DAT_IMAGEFILEXFER:
        if (dat == DAT_IMAGEFILEXFER && source.fileName.empty()) return Fail(source.condition, TWCC_SEQERROR);
        return ImageTransfer(source, dat, data);
    default: break;
    }
    return Fail(source.condition, TWCC_BADPROTOCOL);
}

// --- The manager's own operations

void FillIdentity(TW_IDENTITY& identity, size_t deviceIndex) {
    const Device& device = manager.devices[deviceIndex];
    identity = TwainIdentity(static_cast<TW_UINT32>(deviceIndex + 1), device.vendor, device.model, device.name);
}

TW_UINT16 OpenManager() {
    if (manager.open) return Fail(manager.condition, TWCC_SEQERROR);
    if (sane_init(nullptr, nullptr) != SANE_STATUS_GOOD) return Fail(manager.condition, TWCC_BUMMER);
    manager.devices.clear();
    const SANE_Device** list = nullptr;
    if (sane_get_devices(&list, SANE_FALSE) == SANE_STATUS_GOOD && list)
        for (; *list; ++list)
            manager.devices.push_back({(*list)->name ? (*list)->name : "", (*list)->vendor ? (*list)->vendor : "",
                                       (*list)->model ? (*list)->model : ""});
    manager.open = true;
    manager.cursor = 0;
    return TWRC_SUCCESS;
}

TW_UINT16 CloseManager() {
    if (!manager.open || !manager.sources.empty()) return Fail(manager.condition, TWCC_SEQERROR);
    sane_exit();
    manager.open = false;
    manager.devices.clear();
    return TWRC_SUCCESS;
}

TW_UINT16 OpenSource(TW_IDENTITY& wanted) {
    size_t index = 0;
    if (wanted.Id != 0) index = wanted.Id - 1;
    else if (wanted.ProductName[0] != 0) {
        const std::string name(wanted.ProductName, strnlen(wanted.ProductName, sizeof wanted.ProductName));
        index = std::find_if(manager.devices.begin(), manager.devices.end(),
                             [&](const Device& d) { return d.name.substr(0, 33) == name; }) - manager.devices.begin();
    }
    if (index >= manager.devices.size()) return Fail(manager.condition, TWCC_NODS);
    FillIdentity(wanted, index);
    if (manager.sources.count(wanted.Id)) return Fail(manager.condition, TWCC_MAXCONNECTIONS);
    Source source;
    const SANE_Status status = sane_open(manager.devices[index].name.c_str(), &source.handle);
    if (status != SANE_STATUS_GOOD) return Fail(manager.condition, status == SANE_STATUS_INVAL ? TWCC_NODS : ConditionOf(status));
    source.identity = wanted;
    source.caption = manager.devices[index].vendor + " " + manager.devices[index].model;
    manager.sources.emplace(wanted.Id, source);
    return TWRC_SUCCESS;
}

TW_UINT16 CloseSource(const TW_IDENTITY& identity) {
    const auto it = manager.sources.find(identity.Id);
    if (it == manager.sources.end()) return Fail(manager.condition, TWCC_NODS);
    if (it->second.state != 4) return Fail(it->second.condition, TWCC_SEQERROR);
    sane_close(it->second.handle);
    manager.sources.erase(it);
    return TWRC_SUCCESS;
}

TW_UINT16 UserSelect(TW_IDENTITY& identity) {
    if (manager.devices.empty()) return Fail(manager.condition, TWCC_NODS);
    std::vector<TW_IDENTITY> list(manager.devices.size());
    for (size_t i = 0; i < list.size(); ++i) FillIdentity(list[i], i);
    const int chosen = selectDialog ? selectDialog(list) : 0;
    if (chosen < 0 || static_cast<size_t>(chosen) >= list.size()) return TWRC_CANCEL;
    identity = list[static_cast<size_t>(chosen)];
    return TWRC_SUCCESS;
}

TW_UINT16 ManagerOperation(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    if (dg != DG_CONTROL) return Fail(manager.condition, TWCC_BADPROTOCOL);
    if (dat == DAT_PARENT) {
        if (msg == MSG_OPENDSM) return OpenManager();
        if (msg == MSG_CLOSEDSM) return CloseManager();
        return Fail(manager.condition, TWCC_BADPROTOCOL);
    }
    if (!data) return Fail(manager.condition, TWCC_BADVALUE);
    if (dat == DAT_STATUS) {
        static_cast<TW_STATUS*>(data)->ConditionCode = manager.condition;
        manager.condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (!manager.open) return Fail(manager.condition, TWCC_SEQERROR);
    if (dat != DAT_IDENTITY) return Fail(manager.condition, TWCC_BADPROTOCOL);
    auto& identity = *static_cast<TW_IDENTITY*>(data);
    switch (msg) {
    case MSG_GETFIRST:
    case MSG_GETNEXT:
        if (msg == MSG_GETFIRST) manager.cursor = 0;
        if (manager.cursor >= manager.devices.size()) return TWRC_ENDOFLIST;
        FillIdentity(identity, manager.cursor++);
        return TWRC_SUCCESS;
    case MSG_OPENDS: return OpenSource(identity);
    case MSG_CLOSEDS: return CloseSource(identity);
    case MSG_USERSELECT: return UserSelect(identity);
    default: return Fail(manager.condition, TWCC_BADPROTOCOL);
    }
}

}  // namespace

void SetTwainDialogs(TTwainSourceDialog source, TTwainSelectDialog select) {
    std::lock_guard guard(lock);
    sourceDialog = source;
    selectDialog = select;
}

TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data) {
    std::lock_guard guard(lock);
    if (!origin) return TWRC_FAILURE;
    if (!dest) return ManagerOperation(dg, dat, msg, data);
    const auto it = manager.sources.find(dest->Id);
    if (it == manager.sources.end()) return Fail(manager.condition, TWCC_BADDEST);
    return SourceOperation(it->second, dg, dat, msg, data);
}
