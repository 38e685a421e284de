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
#include <memory>
#include <mutex>
#include <string>

#include "platform/SaneDevice.h"
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

TW_UINT16 ConditionOf(int status) {
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

// The active option of that name as the device describes it now; Index 0 when there is none.
TSaneOption FindOption(TSaneDevice& device, const char* name) {
    TSaneOption option;
    if (!device.Describe(device.FindOption(name), option) || !option.Active) return {};
    return option;
}

bool Found(const TSaneOption& option) { return option.Index > 0; }

bool IsNumber(const TSaneOption& option) {
    return option.Count == 1 && (option.Kind == TSaneValueKind::Int || option.Kind == TSaneValueKind::Fixed);
}

bool GetNumber(TSaneDevice& device, const TSaneOption& option, double& value) {
    std::vector<double> values;
    if (!IsNumber(option) || !device.GetNumbers(option.Index, values)) return false;
    value = values[0];
    return true;
}

// A source takes the value it supports nearest to the one asked for.
double Nearest(const TSaneOption& option, double value) {
    if (option.Constraint == TSaneConstraint::Range) return std::clamp(value, option.Min, option.Max);
    if (option.Constraint != TSaneConstraint::NumberList || option.Numbers.empty()) return value;
    return *std::min_element(option.Numbers.begin(), option.Numbers.end(),
                             [value](double a, double b) { return std::abs(a - value) < std::abs(b - value); });
}

bool SetNumber(TSaneDevice& device, const TSaneOption& option, double value) {
    return IsNumber(option) && std::isfinite(value) && device.SetNumbers(option.Index, {Nearest(option, value)});
}

std::string GetString(TSaneDevice& device, const TSaneOption& option) {
    std::string text;
    if (Found(option)) device.GetText(option.Index, text);
    return text;
}

bool SetString(TSaneDevice& device, const TSaneOption& option, const std::string& value) {
    return Found(option) && device.SetText(option.Index, value);
}

// --- The mapping of pixel types to scan modes and depths

TW_UINT16 PixelTypeOfMode(const std::string& mode) {
    if (ContainsNoCase(mode, "color") || ContainsNoCase(mode, "colour")) return TWPT_RGB;
    if (ContainsNoCase(mode, "gray") || ContainsNoCase(mode, "grey")) return TWPT_GRAY;
    if (ContainsNoCase(mode, "lineart") || ContainsNoCase(mode, "binary") || ContainsNoCase(mode, "halftone")) return TWPT_BW;
    return 0xFFFF;
}

// --- Sources

struct Source {
    TW_IDENTITY identity{};
    std::unique_ptr<TSaneDevice> device = std::make_unique<TSaneDevice>();
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
    TSaneFrame params;
    int rowsRead = 0;
    // Devices refuse option reads while scanning, so the page's resolution is taken before.
    double xDpi = 0, yDpi = 0;
    TW_UINT16 pendingCount = 0;
    // A colour page sent as three frames, one per colour, read whole before it is handed over;
    // params then describe the page in the layout of one frame.
    bool threePass = false;
    TSaneFrame frame;
};

struct Manager {
    bool open = false;
    TW_UINT16 condition = TWCC_SUCCESS;
    // The scanner library, shared with other users of it while the manager is open.
    std::unique_ptr<TSaneSession> session;
    std::vector<TSaneDeviceInfo> devices;
    size_t cursor = 0;
    std::map<TW_UINT32, Source> sources;
};

std::recursive_mutex lock;
Manager manager;

// --- Options that stand for capabilities

TSaneOption Resolution(TSaneDevice& device, TW_UINT16 cap) {
    const TSaneOption own =
        FindOption(device, cap == ICAP_XRESOLUTION ? SANE_NAME_SCAN_X_RESOLUTION : SANE_NAME_SCAN_Y_RESOLUTION);
    return Found(own) ? own : FindOption(device, SANE_NAME_SCAN_RESOLUTION);
}

std::vector<std::string> FeederSources(TSaneDevice& device, bool duplex) {
    std::vector<std::string> list;
    for (const std::string& s : FindOption(device, SANE_NAME_SCAN_SOURCE).Strings)
        if (IsSaneFeeder(s) && ContainsNoCase(s, "duplex") == duplex) list.push_back(s);
    return list;
}

bool DepthOneIsLineArt(TSaneDevice& device) {
    const std::vector<double> depths = FindOption(device, SANE_NAME_BIT_DEPTH).Numbers;
    return std::find(depths.begin(), depths.end(), 1.0) != depths.end();
}

std::vector<double> PixelTypes(TSaneDevice& device) {
    std::vector<double> types;
    for (const std::string& mode : FindOption(device, SANE_NAME_SCAN_MODE).Strings) {
        const TW_UINT16 type = PixelTypeOfMode(mode);
        if (type != 0xFFFF && std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    }
    if (DepthOneIsLineArt(device) && std::find(types.begin(), types.end(), TWPT_BW) == types.end() &&
        std::find(types.begin(), types.end(), TWPT_GRAY) != types.end())
        types.insert(types.begin(), TWPT_BW);
    std::sort(types.begin(), types.end());
    return types;
}

int CurrentDepth(TSaneDevice& device) {
    double depth = 8;
    GetNumber(device, FindOption(device, SANE_NAME_BIT_DEPTH), depth);
    return static_cast<int>(depth);
}

TW_UINT16 CurrentPixelType(TSaneDevice& device) {
    const TW_UINT16 type = PixelTypeOfMode(GetString(device, FindOption(device, SANE_NAME_SCAN_MODE)));
    if (type == TWPT_GRAY && CurrentDepth(device) == 1) return TWPT_BW;
    return type == 0xFFFF ? TWPT_GRAY : type;
}

// Bits per pixel the device offers for the current pixel type.
std::vector<double> BitDepths(TSaneDevice& device) {
    const TW_UINT16 type = CurrentPixelType(device);
    if (type == TWPT_BW) return {1};
    std::vector<double> depths;
    for (double d : FindOption(device, SANE_NAME_BIT_DEPTH).Numbers)
        if (d > 1) depths.push_back(type == TWPT_RGB ? d * 3 : d);
    if (depths.empty()) depths.push_back(type == TWPT_RGB ? 24 : 8);
    return depths;
}

bool SetPixelType(TSaneDevice& device, int type) {
    const TSaneOption mode = FindOption(device, SANE_NAME_SCAN_MODE);
    auto modeOf = [&](TW_UINT16 wanted) {
        for (const std::string& m : mode.Strings)
            if (PixelTypeOfMode(m) == wanted) return m;
        return std::string();
    };
    std::string chosen = modeOf(static_cast<TW_UINT16>(type));
    if (type == TWPT_BW && chosen.empty() && DepthOneIsLineArt(device))
        return SetString(device, mode, modeOf(TWPT_GRAY)) && SetNumber(device, FindOption(device, SANE_NAME_BIT_DEPTH), 1);
    if (chosen.empty() || !SetString(device, mode, chosen)) return false;
    const TSaneOption depthNow = FindOption(device, SANE_NAME_BIT_DEPTH);
    if (type != TWPT_BW && Found(depthNow) && CurrentDepth(device) == 1) SetNumber(device, depthNow, 8);
    return true;
}

bool SetBitDepth(TSaneDevice& device, double bits) {
    const TW_UINT16 type = CurrentPixelType(device);
    if (type == TWPT_BW) return bits == 1;
    const double perSample = type == TWPT_RGB ? bits / 3 : bits;
    const TSaneOption depth = FindOption(device, SANE_NAME_BIT_DEPTH);
    if (perSample <= 1 || std::find(depth.Numbers.begin(), depth.Numbers.end(), perSample) == depth.Numbers.end())
        return false;
    return SetNumber(device, depth, perSample);
}

// A numeric option's values as a container: its range, its word list, or its current value.
TW_HANDLE NumberContainer(TSaneDevice& device, const TSaneOption& option, TW_UINT16 itemType, TW_UINT16& conType) {
    double current = 0;
    if (!GetNumber(device, option, current)) return nullptr;
    if (option.Constraint == TSaneConstraint::Range) {
        conType = TWON_RANGE;
        const double step = option.Step != 0 ? option.Step : (itemType == TWTY_FIX32 ? 1.0 / 65536 : 1);
        return TwainRange(itemType, option.Min, option.Max, step, current, current);
    }
    if (!option.Numbers.empty()) {
        conType = TWON_ENUMERATION;
        const auto at = std::find(option.Numbers.begin(), option.Numbers.end(), current);
        return TwainEnumeration(itemType, option.Numbers, static_cast<TW_UINT32>(at - option.Numbers.begin()), 0);
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

double ScanAreaMax(TSaneDevice& device, const char* name) {
    const TSaneOption option = FindOption(device, name);
    if (!IsNumber(option) || option.Unit != SANE_UNIT_MM || option.Constraint != TSaneConstraint::Range) return -1;
    return option.Max / MmPerInch;
}

bool ScanAreaInMm(TSaneDevice& device) {
    for (const char* name : {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y}) {
        const TSaneOption option = FindOption(device, name);
        if (!IsNumber(option) || option.Unit != SANE_UNIT_MM) return false;
    }
    return true;
}

bool IsColourFrame(TSaneFrame::TFormat format) {
    return format == TSaneFrame::Red || format == TSaneFrame::Green || format == TSaneFrame::Blue;
}

// A device set to send colour pages as three frames can give no strips of whole pixels.
bool ScansThreePass(TSaneDevice& device) {
    TSaneFrame frame;
    return device.Parameters(frame) && IsColourFrame(frame.Format);
}

// --- Capabilities

TW_UINT16 Fail(TW_UINT16& condition, TW_UINT16 code) {
    condition = code;
    return TWRC_FAILURE;
}

TW_UINT16 GetCapability(Source& source, TW_CAPABILITY& cap) {
    TSaneDevice& h = *source.device;
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
        if (!FeederSources(h, false).empty()) container = TwainOneValue(TWTY_BOOL, SaneFeederSelected(h));
        break;
    case CAP_FEEDERLOADED:
    case CAP_AUTOFEED:
        if (!FeederSources(h, false).empty())
            container = TwainOneValue(TWTY_BOOL, cap.Cap == CAP_FEEDERLOADED || source.autoFeed);
        break;
    case CAP_DUPLEX:
        if (Found(FindOption(h, SANE_NAME_SCAN_SOURCE))) container = TwainOneValue(TWTY_UINT16, FeederSources(h, true).empty() ? 0 : 1);
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

bool SetFeeder(TSaneDevice& h, bool enable, bool duplex) {
    const TSaneOption option = FindOption(h, SANE_NAME_SCAN_SOURCE);
    if (enable) {
        const std::vector<std::string> list = FeederSources(h, duplex);
        return !list.empty() && SetString(h, option, list.front());
    }
    // A source other than the feeder that a person chose stays.
    if (Found(option) && !SaneFeederSelected(h)) return true;
    for (const std::string& s : option.Strings)
        if (!IsSaneFeeder(s)) return SetString(h, option, s);
    return false;
}

TW_UINT16 SetCapability(Source& source, const TW_CAPABILITY& cap) {
    if (source.state != 4) return Fail(source.condition, TWCC_SEQERROR);
    TSaneDevice& h = *source.device;
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
        const TSaneOption option = Resolution(h, cap.Cap);
        supported = Found(option);
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
        const TSaneOption option = FindOption(h, cap.Cap == ICAP_BRIGHTNESS ? SANE_NAME_BRIGHTNESS
                                                 : cap.Cap == ICAP_CONTRAST ? SANE_NAME_CONTRAST : SANE_NAME_THRESHOLD);
        supported = Found(option);
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
    TSaneDevice& h = *source.device;
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
    TSaneDevice& device = *source.device;
    source.xDpi = SaneResolution(device, false);
    source.yDpi = SaneResolution(device, true);
    if (device.StartFrame(source.params)) {
        const TSaneFrame& p = source.params;
        const bool oneFrame = p.Last && (p.Format == TSaneFrame::Gray || p.Format == TSaneFrame::Rgb);
        source.threePass = !p.Last && IsColourFrame(p.Format);
        // One bit per sample is line art, which has no colour.
        const bool depthKnown = p.Depth == 8 || p.Depth == 16 || (p.Depth == 1 && p.Format == TSaneFrame::Gray);
        const int sampleBytes = p.Depth / 8;
        const bool framesKnown = oneFrame || (source.threePass && p.BytesPerLine == p.PixelsPerLine * sampleBytes);
        const bool sized = p.PixelsPerLine > 0 && p.BytesPerLine > 0;
        if (framesKnown && depthKnown && sized) {
            if (source.threePass) {
                source.frame = p;
                source.params.Format = TSaneFrame::Rgb;
                source.params.BytesPerLine = p.BytesPerLine * 3;
            }
            source.scanning = true;
            source.pageDone = false;
            source.rowsRead = 0;
            return true;
        }
        condition = TWCC_BUMMER;
    } else {
        condition = ConditionOf(device.Status());
    }
    device.Cancel();
    source.scanning = false;
    return false;
}

// A page read to its last row is also read to the device's end of frame, as devices expect
// before the next page or the cancel.
void EndPage(Source& source) {
    if (!source.scanning) return;
    uint8_t rest[4096];
    int got = 0;
    for (int reads = 0; source.pageDone && reads < 256 && source.device->Read(rest, sizeof rest, got) == TSaneDevice::TRead::Data; ++reads) {
    }
    source.device->Cancel();
    source.scanning = false;
}

int BitsPerPixel(const TSaneFrame& p) { return p.Depth * (p.Format == TSaneFrame::Rgb ? 3 : 1); }

// Reads one row in the protocol's layout (1-bit rows with 0 black); false at the end of the page
// or on an error, which leaves the condition.
bool ReadRow(Source& source, uint8_t* row, TW_UINT16& condition) {
    if (source.pageDone || (source.params.Lines >= 0 && source.rowsRead >= source.params.Lines)) {
        source.pageDone = true;
        return false;
    }
    const int length = source.params.BytesPerLine;
    int got = 0;
    while (got < length) {
        int n = 0;
        const TSaneDevice::TRead read = source.device->Read(row + got, length - got, n);
        if (read == TSaneDevice::TRead::End) break;
        if (read == TSaneDevice::TRead::Failed) {
            condition = ConditionOf(source.device->Status());
            source.pageDone = true;
            return false;
        }
        got += n;
    }
    if (got < length) {
        source.pageDone = true;
        return false;
    }
    if (source.params.Depth == 1)
        for (int i = 0; i < length; ++i) row[i] = static_cast<uint8_t>(~row[i]);
    ++source.rowsRead;
    return true;
}

// A device-independent bitmap of the rows: 1, 8 or 24 bits, 16-bit samples cut to their high byte.
std::vector<uint8_t> PackedBitmap(const TSaneFrame& p, const std::vector<uint8_t>& rows, int rowCount, double dpi) {
    const int width = p.PixelsPerLine;
    const int bits = p.Depth == 1 ? 1 : (p.Format == TSaneFrame::Rgb ? 24 : 8);
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
    const int samples = p.Format == TSaneFrame::Rgb ? 3 : 1;
    const int sampleBytes = p.Depth == 16 ? 2 : 1;
    for (int y = 0; y < rowCount; ++y) {
        const uint8_t* src = &rows[size_t(y) * p.BytesPerLine];
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
bool ReadFrame(TSaneDevice& device, const TSaneFrame& frame, std::vector<uint8_t>& plane, TW_UINT16& condition) {
    uint8_t buffer[65536];
    for (;;) {
        int n = 0;
        const TSaneDevice::TRead read = device.Read(buffer, sizeof buffer, n);
        if (read == TSaneDevice::TRead::End) break;
        if (read == TSaneDevice::TRead::Failed) {
            condition = ConditionOf(device.Status());
            return false;
        }
        plane.insert(plane.end(), buffer, buffer + n);
        if (frame.Lines >= 0 && plane.size() >= size_t(frame.Lines) * frame.BytesPerLine) break;
    }
    plane.resize(plane.size() - plane.size() % size_t(frame.BytesPerLine));
    return true;
}

// Reads the three frames of a colour page, in the device's order, into interleaved rows.
bool ReadThreePassRows(Source& source, std::vector<uint8_t>& rows, TW_UINT16& condition) {
    std::vector<uint8_t> planes[3];
    TSaneFrame frame = source.frame;
    for (int pass = 0; pass < 3; ++pass) {
        if (pass > 0 && !source.device->StartFrame(frame)) {
            condition = ConditionOf(source.device->Status());
            return false;
        }
        const bool expected = IsColourFrame(frame.Format) && frame.BytesPerLine == source.frame.BytesPerLine &&
                              frame.Depth == source.frame.Depth && frame.Last == (pass == 2);
        const int channel = frame.Format - TSaneFrame::Red;
        if (!expected || !planes[channel].empty()) {
            condition = TWCC_BUMMER;
            return false;
        }
        if (!ReadFrame(*source.device, frame, planes[channel], condition)) return false;
    }
    const size_t frameRow = size_t(source.frame.BytesPerLine);
    const size_t rowCount = std::min({planes[0].size(), planes[1].size(), planes[2].size()}) / frameRow;
    const size_t sampleBytes = size_t(source.frame.Depth / 8);
    rows.assign(rowCount * frameRow * 3, 0);
    for (size_t y = 0; y < rowCount; ++y)
        for (size_t x = 0; x < size_t(source.frame.PixelsPerLine); ++x)
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
    std::vector<uint8_t> row(static_cast<size_t>(source.params.BytesPerLine));
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
    const TSaneFrame& p = source.params;
    info = {};
    info.XResolution = TwainToFix32(source.xDpi);
    info.YResolution = TwainToFix32(source.yDpi);
    info.ImageWidth = p.PixelsPerLine;
    info.ImageLength = source.pageDone ? source.rowsRead : p.Lines;
    info.SamplesPerPixel = static_cast<TW_INT16>(p.Format == TSaneFrame::Rgb ? 3 : 1);
    info.Planar = source.threePass;
    for (int i = 0; i < info.SamplesPerPixel; ++i) info.BitsPerSample[i] = static_cast<TW_INT16>(p.Depth);
    info.BitsPerPixel = static_cast<TW_INT16>(BitsPerPixel(p));
    info.PixelType = static_cast<TW_INT16>(p.Format == TSaneFrame::Rgb ? TWPT_RGB : p.Depth == 1 ? TWPT_BW : TWPT_GRAY);
    return TWRC_SUCCESS;
}

TW_UINT16 MemoryStrip(Source& source, TW_IMAGEMEMXFER& strip) {
    if (source.state < 6 || !source.scanning || source.xferMech != TWSX_MEMORY || source.threePass)
        return Fail(source.condition, TWCC_SEQERROR);
    const auto rowBytes = static_cast<uint32_t>(source.params.BytesPerLine);
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
    strip.Columns = static_cast<TW_UINT32>(source.params.PixelsPerLine);
    strip.Rows = rows;
    strip.XOffset = 0;
    strip.YOffset = static_cast<TW_UINT32>(first);
    strip.BytesWritten = rows * rowBytes;
    // The page ends when its known length is read or the device says so; a strip filled exactly
    // to the end is followed by an empty final one only for pages of unknown length.
    if (source.params.Lines >= 0 && source.rowsRead >= source.params.Lines) source.pageDone = true;
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
    const bool more = wholePage && source.xferCount != 0 && SaneFeederSelected(*source.device) && StartPage(source, ignored);
    source.pendingCount = more ? 0xFFFF : 0;
    source.state = more ? 6 : 5;
    pending.Count = source.pendingCount;
    pending.EOJ = 0;
    return TWRC_SUCCESS;
}

TW_UINT16 EnableSource(Source& source, TW_USERINTERFACE& ui) {
    if (source.state != 4) return Fail(source.condition, TWCC_SEQERROR);
    if (ui.ShowUI && sourceDialog && !sourceDialog(source.identity, *source.device)) return TWRC_CANCEL;
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
        const auto row = static_cast<TW_UINT32>(source.params.BytesPerLine);
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
    const TSaneDeviceInfo& device = manager.devices[deviceIndex];
    identity = TwainIdentity(static_cast<TW_UINT32>(deviceIndex + 1), device.Vendor, device.Model, device.Name);
}

TW_UINT16 OpenManager() {
    if (manager.open) return Fail(manager.condition, TWCC_SEQERROR);
    auto session = std::make_unique<TSaneSession>();
    if (!session->Ok()) return Fail(manager.condition, TWCC_BUMMER);
    manager.devices = SaneDevices(*session);
    manager.session = std::move(session);
    manager.open = true;
    manager.cursor = 0;
    return TWRC_SUCCESS;
}

TW_UINT16 CloseManager() {
    if (!manager.open || !manager.sources.empty()) return Fail(manager.condition, TWCC_SEQERROR);
    manager.session.reset();
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
                             [&](const TSaneDeviceInfo& d) { return d.Name.substr(0, 33) == name; }) - manager.devices.begin();
    }
    if (index >= manager.devices.size()) return Fail(manager.condition, TWCC_NODS);
    FillIdentity(wanted, index);
    if (manager.sources.count(wanted.Id)) return Fail(manager.condition, TWCC_MAXCONNECTIONS);
    Source source;
    if (!source.device->Open(*manager.session, manager.devices[index].Name)) {
        const int status = source.device->Status();
        return Fail(manager.condition, status == SANE_STATUS_INVAL ? TWCC_NODS : ConditionOf(status));
    }
    source.identity = wanted;
    source.caption = manager.devices[index].Vendor + " " + manager.devices[index].Model;
    manager.sources.emplace(wanted.Id, std::move(source));
    return TWRC_SUCCESS;
}

TW_UINT16 CloseSource(const TW_IDENTITY& identity) {
    const auto it = manager.sources.find(identity.Id);
    if (it == manager.sources.end()) return Fail(manager.condition, TWCC_NODS);
    if (it->second.state != 4) return Fail(it->second.condition, TWCC_SEQERROR);
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
