#include "SaneTestDevice.h"

#include <dlfcn.h>
#include <glob.h>

#include <cstdlib>
#include <cstring>

#include "imaging/core/KVBitmap.h"
#include "platform/SaneDevice.h"

namespace {

void SetOrUnset(const char* name, const std::string& value) {
    if (value.empty()) unsetenv(name);
    else setenv(name, value.c_str(), 1);
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// SANE unloads a backend at its exit; the virtual scanner stays loaded, so that what it leaves
// behind is reported by its name and can be told apart from ours.
void KeepTestBackendLoaded() {
    static const bool kept = [] {
        glob_t found{};
        const bool any = glob("/usr/lib/*/sane/libsane-test.so.1", 0, nullptr, &found) == 0 && found.gl_pathc > 0 &&
                         dlopen(found.gl_pathv[0], RTLD_NOW | RTLD_NODELETE) != nullptr;
        globfree(&found);
        return any;
    }();
    EXPECT_TRUE(kept);
}

const TScratchFolder& ConfigFolder() {
    static const TScratchFolder folder;
    return folder;
}

// The bitmap's sample at the PNM's scale.
int SampleOf(TKVBitmap& bitmap, int x, int y, int channel, int maxValue) {
    const uint8_t* row = bitmap.GetScanline(y);
    switch (bitmap.GetPixelFormat()) {
    case kv1Bit: return (row[x / 8] >> (7 - x % 8)) & 1;
    case kv8Gray: return row[x];
    case kv16Gray: {
        uint16_t v;
        std::memcpy(&v, row + x * 2, 2);
        return maxValue > 255 ? v : v >> 8;
    }
    default: {
        const int v = row[x * 3 + 2 - channel];
        return maxValue > 255 ? v * 257 : v;
    }
    }
}

}  // namespace

TSaneTestDevice::TSaneTestDevice(const TSaneSettings& settings, bool withBackend) : savedTemp_(Env("TMPDIR")) {
    KeepTestBackendLoaded();
    const TScratchFolder& config = ConfigFolder();
    WriteFile(config.Path("dll.conf"), withBackend ? "test\n" : "");
    std::map<std::string, std::string> conf = {
        {"number_of_devices", "2"}, {"mode", "Gray"}, {"depth", "8"}, {"resolution_min", "1.0"},
        {"resolution_max", "1200.0"}, {"resolution_quant", "1.0"}, {"resolution", "50.0"},
        {"test-picture", "\"Grid\""}, {"geometry_min", "0.0"}, {"geometry_max", "200.0"},
        {"geometry_quant", "1.0"}, {"tl_x", "0.0"}, {"tl_y", "0.0"}, {"br_x", "40.0"}, {"br_y", "30.0"},
        // The backend stays loaded between tests and keeps what a file once set: every value is given.
        {"hand-scanner", "false"}, {"three-pass", "false"}, {"three-pass-order", "RGB"}, {"invert-endianess", "false"},
        {"read-limit", "false"}, {"read-limit-size", "1"}, {"read-delay", "false"}, {"read-delay-duration", "1000"},
        {"read-status-code", "\"Default\""}, {"fuzzy-parameters", "false"}, {"ppl-loss", "0"},
        {"non-blocking", "false"}, {"select-fd", "false"}, {"enable-test-options", "false"}};
    for (const auto& [key, value] : settings) conf[key] = value;
    std::string text;
    for (const auto& [key, value] : conf) text += key + " " + value + "\n";
    WriteFile(config.Path("test.conf"), text);
    setenv("SANE_CONFIG_DIR", config.Folder().c_str(), 1);
    setenv("TMPDIR", temp_.Folder().c_str(), 1);
    // A device of its own starts as in a program just started.
    ForgetSaneChoices();
}

TSaneTestDevice::~TSaneTestDevice() { SetOrUnset("TMPDIR", savedTemp_); }

std::string TSaneTestDevice::Scanimage(const std::string& arguments) const {
    const TCommandResult result = RunTool("scanimage -d test:0 " + arguments, false);
    EXPECT_EQ(result.status, 0) << arguments;
    return result.output;
}

std::vector<std::string> TSaneTestDevice::TempFiles() const {
    return temp_.Files();
}

TPnm ParsePnm(const std::string& data) {
    TPnm pnm;
    size_t at = 0;
    auto token = [&]() {
        for (;;) {
            while (at < data.size() && std::isspace(static_cast<unsigned char>(data[at]))) ++at;
            if (at < data.size() && data[at] == '#') {
                while (at < data.size() && data[at] != '\n') ++at;
                continue;
            }
            break;
        }
        const size_t start = at;
        while (at < data.size() && !std::isspace(static_cast<unsigned char>(data[at]))) ++at;
        return data.substr(start, at - start);
    };
    const std::string magic = token();
    pnm.width = std::atoi(token().c_str());
    pnm.height = std::atoi(token().c_str());
    pnm.maxValue = magic == "P4" ? 1 : std::atoi(token().c_str());
    pnm.channels = magic == "P6" ? 3 : 1;
    ++at;
    const size_t count = size_t(pnm.width) * pnm.height * pnm.channels;
    if (magic == "P4") {
        const size_t rowBytes = (size_t(pnm.width) + 7) / 8;
        if (data.size() < at + rowBytes * pnm.height) return {};
        for (int y = 0; y < pnm.height; ++y)
            for (int x = 0; x < pnm.width; ++x)
                pnm.samples.push_back((static_cast<uint8_t>(data[at + y * rowBytes + x / 8]) >> (7 - x % 8)) & 1 ? 0 : 1);
        return pnm;
    }
    const size_t sampleBytes = pnm.maxValue > 255 ? 2 : 1;
    if ((magic != "P5" && magic != "P6") || data.size() < at + count * sampleBytes) return {};
    for (size_t i = 0; i < count; ++i) {
        const auto* p = reinterpret_cast<const uint8_t*>(data.data() + at + i * sampleBytes);
        pnm.samples.push_back(sampleBytes == 2 ? uint16_t(p[0] << 8 | p[1]) : p[0]);
    }
    return pnm;
}

::testing::AssertionResult SamePixels(TKVBitmap& bitmap, const TPnm& pnm) {
    if (pnm.width == 0 || bitmap.GetWidth() != pnm.width || bitmap.GetHeight() != pnm.height)
        return ::testing::AssertionFailure() << "size " << bitmap.GetWidth() << "x" << bitmap.GetHeight() << ", scanimage "
                                             << pnm.width << "x" << pnm.height;
    const bool wide = bitmap.GetPixelFormat() == kv16Gray;
    int differences = 0;
    for (int y = 0; y < pnm.height; ++y)
        for (int x = 0; x < pnm.width; ++x)
            for (int c = 0; c < pnm.channels; ++c) {
                int expected = pnm.At(x, y, c);
                int ours = SampleOf(bitmap, x, y, c, wide ? pnm.maxValue : 255);
                if (pnm.maxValue > 255 && !wide) expected >>= 8;
                if (ours != expected && differences++ < 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << ours << " != " << expected;
            }
    if (differences != 0) return ::testing::AssertionFailure() << differences << " samples differ";
    return ::testing::AssertionSuccess();
}

