#pragma once
// SANE's virtual test scanner in a configuration of the test's own, and scanimage's view of it.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"

class TKVBitmap;

// Points SANE_CONFIG_DIR at a private folder naming only the "test" backend, and TMPDIR at a
// private folder; settings override the backend's configuration file, and no choices made in a
// scanner's dialog are remembered yet. With no backends, no
// scanner exists. SANE takes its configuration folder once per process, so every device of a
// process shares one folder and rewrites its files.
using TSaneSettings = std::map<std::string, std::string>;

class TSaneTestDevice {
public:
    explicit TSaneTestDevice(const TSaneSettings& settings = {}, bool withBackend = true);
    ~TSaneTestDevice();
    TSaneTestDevice(const TSaneTestDevice&) = delete;
    TSaneTestDevice& operator=(const TSaneTestDevice&) = delete;

    // scanimage's output for the arguments (after "-d test:0"), and its listing of options.
    std::string Scanimage(const std::string& arguments) const;
    // Files left in the private temporary folder.
    std::vector<std::string> TempFiles() const;

private:
    TScratchFolder temp_;
    std::string savedTemp_;
};

// A PNM picture as samples: 1 (gray) or 3 channels, 0..maxValue; P4 bits become 0 black, 1 white.
struct TPnm {
    int width = 0, height = 0, channels = 0, maxValue = 0;
    std::vector<uint16_t> samples;
    uint16_t At(int x, int y, int c) const { return samples[(size_t(y) * width + x) * channels + c]; }
};
TPnm ParsePnm(const std::string& data);

// Compares a scanned bitmap with scanimage's picture, sample by sample; gray pictures compare with
// any colour channel, 16-bit pictures read into 8-bit bitmaps with their high bytes.
::testing::AssertionResult SamePixels(TKVBitmap& bitmap, const TPnm& pnm);
