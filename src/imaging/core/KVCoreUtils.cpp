#include "imaging/core/KVCoreUtils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <numbers>
#include <sys/mman.h>
#include <unordered_map>

#include "platform/Exception.h"

namespace {

double LabF(double t) { return t <= 0.008856 ? 7.787 * t + 16.0 / 116.0 : std::cbrt(t); }

double Linearised(int channel) {
    const double v = channel / 255.0;
    return (v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4)) * 100;
}

int8_t SignedByte(double value) { return int8_t(std::clamp(std::trunc(value), -128.0, 127.0)); }

uint8_t LabChannel(double v) { return v <= 0 ? 0 : v >= 1 ? 255 : uint8_t(std::trunc(std::sqrt(v) * 256)); }

bool ParseFloat(const std::string& text, double& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    while (first < last && *first == ' ') ++first;
    while (last > first && last[-1] == ' ') --last;
    if (first < last && *first == '+') ++first;
    if (first == last) return false;
    const auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last;
}

double Distance(double x1, double y1, double x2, double y2) { return std::hypot(x1 - x2, y1 - y2); }

// The distance to an end point, or the far value for points too far away to matter.
double EndDistance(int x, int y, int ex, int ey) {
    constexpr double Far = 1000000;
    if (std::abs(int64_t(x) - ex) > 45000 || std::abs(int64_t(y) - ey) > 45000) return Far;
    return Distance(x, y, ex, ey);
}

uint64_t ParseHex(const std::string& text, size_t at, size_t digits) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + digits, value, 16);
    if (error != std::errc() || end != text.data() + at + digits)
        throw EConvertError("'" + text + "' is not a valid GUID value");
    return value;
}

}  // namespace

TKVCIELab KVRGBToCIELab(uint32_t rgb) {
    const double r = Linearised(rgb >> 16 & 0xFF), g = Linearised(rgb >> 8 & 0xFF), b = Linearised(rgb & 0xFF);
    const double x = 0.4124 * r + 0.3576 * g + 0.1805 * b;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double z = 0.0193 * r + 0.1192 * g + 0.9505 * b;
    const double fx = LabF(x), fy = LabF(y), fz = LabF(z);
    const double l = std::trunc((116 * fy - 16) / 550 * 255);
    return {uint8_t(std::clamp(l, 0.0, 255.0)), SignedByte((fx - fy) * 500 / 200 * 128),
            SignedByte((fy - fz) * 200 / 500 * 128)};
}

TKVRGB KVCIELabToRGB(uint32_t lab) {
    auto signedChannel = [](uint32_t byte) { return byte == 0x80 ? 128 : int(int8_t(byte)); };
    const double l = (lab & 0xFF) / 255.0 * 100;
    const double a = (signedChannel(lab >> 8 & 0xFF) + 127) / 255.0 * 200 - 100;
    const double b = (signedChannel(lab >> 16 & 0xFF) + 127) / 255.0 * 200 - 100;
    const double fy = (l + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
    double x, y, z;
    if (l >= 7.9996) {
        x = fx * fx * fx;
        y = fy * fy * fy;
        z = fz * fz * fz;
    } else {
        y = l / 903.3;
        x = y + a / 3893.5;
        z = y - b / 1557.4;
    }
    const double red = 2.69 * x - 1.276 * y - 0.414 * z;
    const double green = -1.022 * x + 1.978 * y + 0.044 * z;
    const double blue = 0.061 * x - 0.224 * y + 1.163 * z;
    return TKVRGB{LabChannel(blue), LabChannel(green), LabChannel(red)};
}

double KVStrToFloatDef(const std::string& text, double defaultValue) {
    double value = 0;
    if (ParseFloat(text, value)) return value;
    // Numbers are read with a point; a comma stands for it.
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return defaultValue;
    std::string withPoint = text;
    withPoint[comma] = '.';
    return ParseFloat(withPoint, value) ? value : defaultValue;
}

std::string KVGUIDToString(const TGUID& guid) {
    char text[39];
    auto hex = [&](size_t at, uint64_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value >>= 4) text[at + size_t(i)] = "0123456789abcdef"[value & 0xF];
    };
    text[0] = '{';
    hex(1, guid.D1, 8);
    text[9] = '-';
    hex(10, guid.D2, 4);
    text[14] = '-';
    hex(15, guid.D3, 4);
    text[19] = '-';
    hex(20, guid.D4[0], 2);
    hex(22, guid.D4[1], 2);
    text[24] = '-';
    for (size_t i = 2; i < 8; ++i) hex(25 + 2 * (i - 2), guid.D4[i], 2);
    text[37] = '}';
    return std::string(text, 38);
}

TGUID KVStringToGUID(const std::string& text) {
    if (text.size() != 38 || text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' ||
        text[24] != '-' || text[37] != '}')
        throw EConvertError("'" + text + "' is not a valid GUID value");
    TGUID guid;
    guid.D1 = uint32_t(ParseHex(text, 1, 8));
    guid.D2 = uint16_t(ParseHex(text, 10, 4));
    guid.D3 = uint16_t(ParseHex(text, 15, 4));
    guid.D4[0] = uint8_t(ParseHex(text, 20, 2));
    guid.D4[1] = uint8_t(ParseHex(text, 22, 2));
    for (size_t i = 2; i < 8; ++i) guid.D4[i] = uint8_t(ParseHex(text, 25 + 2 * (i - 2), 2));
    return guid;
}

double KVPointLineDistance(int x, int y, int x1, int y1, int x2, int y2) {
    const double dy = double(y1) - y2, dx = double(x2) - x1;
    return std::abs(dy * x + dx * y + double(x1) * y2 - double(x2) * y1) / std::sqrt(dy * dy + dx * dx);
}

double KVPointSegmentDistance(int x, int y, int x1, int y1, int x2, int y2) {
    if (x1 == x2 && y1 == y2) return Distance(x, y, x1, y1);
    const double dx = double(x2) - x1, dy = double(y2) - y1;
    const double t = ((double(x) - x1) * dx + (double(y) - y1) * dy) / (dx * dx + dy * dy);
    if (t > 1) return EndDistance(x, y, x2, y2);
    if (t < 0) return EndDistance(x, y, x1, y1);
    return KVPointLineDistance(x, y, x1, y1, x2, y2);
}

std::vector<TPoint> KVBezierPoints(TPoint p0, TPoint p1, TPoint p2, TPoint p3, int n) {
    std::vector<TPoint> points;
    if (n < 1) return points;
    points.reserve(size_t(n));
    const double step = 1.0 / n;
    double t = 0;
    for (int k = 1; k <= n; ++k) {
        t += step;
        const double s = 1 - t;
        const double w0 = s * s * s, w1 = 3 * t * s * s, w2 = 3 * t * t * s, w3 = t * t * t;
        points.push_back({int(std::nearbyint(w0 * p0.X + w1 * p1.X + w2 * p2.X + w3 * p3.X)),
                          int(std::nearbyint(w0 * p0.Y + w1 * p1.Y + w2 * p2.Y + w3 * p3.Y))});
    }
    return points;
}

void KVFitSize(int width, int height, int boxWidth, int boxHeight, int& newWidth, int& newHeight) {
    if (width == 0 || height == 0) return;
    const double factor = std::min(double(boxHeight) / height, double(boxWidth) / width);
    newWidth = std::max(1, int(std::trunc(width * factor)));
    newHeight = std::max(1, int(std::trunc(height * factor)));
}

const std::array<int32_t, 256> KVInterpolationTable = [] {
    std::array<int32_t, 256> table{};
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = int32_t(std::nearbyint(64 - 64 * std::cos(double(i) * std::numbers::pi / 255)));
    return table;
}();

bool KVIsMMXPresent() {
#if defined(__i386__) || defined(__x86_64__)
    return __builtin_cpu_supports("mmx");
#else
    return false;
#endif
}

bool KVIsRemoteSession() { return std::getenv("XRDP_SESSION") || std::getenv("SSH_CONNECTION"); }

namespace {

// munmap needs the length that KVVirtualFree is not given.
std::mutex virtualBlocksLock;
std::unordered_map<void*, size_t> virtualBlocks;

}  // namespace

void* KVVirtualAlloc(int64_t size) {
    if (size <= 0) return nullptr;
    void* block = ::mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
    const std::lock_guard lock(virtualBlocksLock);
    virtualBlocks[block] = size_t(size);
    return block;
}

void KVVirtualFree(void*& address) {
    if (address) {
        const std::lock_guard lock(virtualBlocksLock);
        if (const auto it = virtualBlocks.find(address); it != virtualBlocks.end()) {
            ::munmap(it->first, it->second);
            virtualBlocks.erase(it);
        }
    }
    address = nullptr;
}
