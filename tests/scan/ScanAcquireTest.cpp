// Acquisition from SANE's virtual scanner compared with what scanimage reads from it.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "SaneTestDevice.h"
#include "imaging/acquire/KVTWain.h"
#include "imaging/acquire/KVTWainParams.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVVideoAndScanner.h"

namespace {

enum class Transfer { Native, Memory, File };

void UseTransfer(TKVTWainParams& params, Transfer transfer) {
    params.BufferedTransfer = transfer == Transfer::Memory;
    params.FileTransfer = transfer == Transfer::File;
}

struct ScanCase {
    const char* name;
    int pixelType;  // 0 line-art, 1 gray, 2 colour
    int bitDepth;   // 0: the device's own
    const char* scanimageMode;
    int resolution;
    Transfer transfer;
    bool nativePixelFormat;
    TKVPixelFormat expectedFormat;
};

class ScanAcquire : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanAcquire, GivesScanimagesPixels) {
    const ScanCase& c = GetParam();
    TSaneTestDevice device(TSaneSettings{{"test-picture", c.pixelType == 0 ? "\"Grid\"" : "\"Color pattern\""}});
    TKVTWainParams params(nullptr);
    params.VisibleDialog = false;
    UseTransfer(params, c.transfer);
    params.PixelType.SetCurrentValue(c.pixelType);
    if (c.bitDepth) params.BitDepth.SetCurrentValue(c.bitDepth);
    params.XResolution.SetCurrentValue(c.resolution);
    params.YResolution.SetCurrentValue(c.resolution);
    TKVBitmap bitmap;
    TKVProgressRec progress;
    TIOParamsVals ioParams(nullptr);
    ASSERT_TRUE(KVTW_Acquire(bitmap, nullptr, params, c.nativePixelFormat, progress, &ioParams)) << params.LastErrorText;
    EXPECT_EQ(bitmap.GetPixelFormat(), c.expectedFormat);
    EXPECT_EQ(ioParams.DpiX(), c.resolution);
    EXPECT_EQ(ioParams.Width, bitmap.GetWidth());
    const TPnm oracle = ParsePnm(device.Scanimage(std::string(c.scanimageMode) + " --resolution " +
                                                  std::to_string(c.resolution) + " --format=pnm"));
    EXPECT_TRUE(SamePixels(bitmap, oracle));
    EXPECT_TRUE(device.TempFiles().empty());
}

constexpr const char* Color = "--mode Color --test-picture 'Color pattern'";
constexpr const char* Gray = "--mode Gray --test-picture 'Color pattern'";
constexpr const char* Gray16 = "--mode Gray --depth 16 --test-picture 'Color pattern'";
constexpr const char* LineArt = "--mode Gray --depth 1 --test-picture Grid";

INSTANTIATE_TEST_SUITE_P(
    ModesAndTransfers, ScanAcquire,
    ::testing::Values(ScanCase{"ColorNative50", 2, 0, Color, 50, Transfer::Native, false, kv24RGB},
                      ScanCase{"ColorMemory50", 2, 0, Color, 50, Transfer::Memory, false, kv24RGB},
                      ScanCase{"ColorFile50", 2, 0, Color, 50, Transfer::File, false, kv24RGB},
                      ScanCase{"ColorMemory75", 2, 0, Color, 75, Transfer::Memory, false, kv24RGB},
                      ScanCase{"GrayNative75", 1, 0, Gray, 75, Transfer::Native, false, kv24RGB},
                      ScanCase{"GrayMemory50", 1, 0, Gray, 50, Transfer::Memory, true, kv8Gray},
                      ScanCase{"GrayFile75", 1, 0, Gray, 75, Transfer::File, false, kv24RGB},
                      ScanCase{"Gray16Memory50", 1, 16, Gray16, 50, Transfer::Memory, true, kv16Gray},
                      ScanCase{"Gray16As8Memory50", 1, 16, Gray16, 50, Transfer::Memory, false, kv24RGB},
                      ScanCase{"Color48As24Memory50", 2, 48, "--mode Color --depth 16 --test-picture 'Color pattern'", 50,
                               Transfer::Memory, false, kv24RGB},
                      ScanCase{"LineArtNative50", 0, 0, LineArt, 50, Transfer::Native, false, kv1Bit},
                      ScanCase{"LineArtMemory75", 0, 0, LineArt, 75, Transfer::Memory, false, kv1Bit},
                      ScanCase{"LineArtFile50", 0, 0, LineArt, 50, Transfer::File, false, kv1Bit}),
    [](const ::testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

std::vector<double> ListOf(const TKVDoubleList& list) {
    std::vector<double> values;
    for (int i = 0; i < list.Count(); ++i) values.push_back(list.GetItem(i));
    return values;
}

std::vector<int> ListOf(const TKVIntegerList& list) {
    std::vector<int> values;
    for (int i = 0; i < list.Count(); ++i) values.push_back(list.GetItem(i));
    return values;
}

TEST(ScanCapabilities, AreWhatScanimageLists) {
    TSaneTestDevice device;
    const std::string listing = device.Scanimage("-A");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(listing, m, std::regex(R"(--resolution (\d+)\.\.(\d+)dpi \(in steps of (\d+)\) \[(\d+)\])")));
    TKVTWainParams params(nullptr);
    const TKVDoubleList& resolution = params.GetXResolution();
    EXPECT_EQ(resolution.RangeMin(), std::stod(m[1]));
    EXPECT_EQ(resolution.RangeMax(), std::stod(m[2]));
    EXPECT_EQ(resolution.RangeStep(), std::stod(m[3]));
    EXPECT_EQ(resolution.CurrentValue(), std::stod(m[4]));
    EXPECT_EQ(resolution.ChangeFlags(), 0);

    ASSERT_TRUE(std::regex_search(listing, m, std::regex(R"(--mode (\S+) \[(\w+)\])")));
    EXPECT_EQ(m[1], "Gray|Color");
    // Gray with one bit per sample is the line-art type.
    EXPECT_EQ(ListOf(params.GetPixelType()), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(params.GetPixelType().CurrentValue(), 1);
    ASSERT_TRUE(std::regex_search(listing, m, std::regex(R"(--depth (\S+) \[(\d+)\])")));
    EXPECT_EQ(m[1], "1|8|16");
    EXPECT_EQ(ListOf(params.GetBitDepth()), (std::vector<int>{8, 16}));
    EXPECT_EQ(params.GetBitDepth().CurrentValue(), std::stoi(m[2]));

    // The scan area's largest extent, 200 mm.
    EXPECT_NEAR(params.PhysicalWidth, 200 / 25.4, 1e-4);
    EXPECT_TRUE(params.FeederLoaded);
    EXPECT_FALSE(params.FeederEnabled);
    // Without the capabilities: the fallbacks.
    EXPECT_EQ(ListOf(params.GetXScaling()), std::vector<double>{1.0});
    EXPECT_TRUE(params.GetProgressIndicators());
    EXPECT_EQ(params.Gamma, 2.2);
    EXPECT_EQ(params.GetBrightness().Count(), 0);
}

TEST(ScanCapabilities, SettingsReachTheDevice) {
    TSaneTestDevice device;
    TKVTWainParams params(nullptr);
    params.VisibleDialog = false;
    params.XResolution.SetCurrentValue(60);
    params.YResolution.SetCurrentValue(60);
    params.PixelType.SetCurrentValue(2);
    params.AcquireFrameEnabled = true;
    params.AcquireFrame = {10 / 25.4, 5 / 25.4, 40 / 25.4, 25 / 25.4};  // inches
    TKVBitmap bitmap;
    TKVProgressRec progress;
    ASSERT_TRUE(KVTW_Acquire(bitmap, nullptr, params, false, progress, nullptr)) << params.LastErrorText;
    const TPnm oracle =
        ParsePnm(device.Scanimage("--mode Color --resolution 60 -l 10 -t 5 -x 30 -y 20 --format=pnm"));
    EXPECT_EQ(bitmap.GetPixelFormat(), kv24RGB);
    EXPECT_EQ(bitmap.GetWidth(), oracle.width);
    EXPECT_EQ(bitmap.GetHeight(), oracle.height);
    // Read back with the user's settings written first: the changes survive, the device agrees.
    ASSERT_TRUE(KVTW_GetCapabilities(params, true));
    EXPECT_EQ(params.XResolution.CurrentValue(), 60);
    EXPECT_EQ(params.PixelType.CurrentValue(), 2);
    EXPECT_EQ(ListOf(params.BitDepth), (std::vector<int>{24, 48}));
    EXPECT_NE(params.XResolution.ChangeFlags() & kvlCurrentChanged, 0);
    EXPECT_NEAR(params.AcquireFrame[2], 40 / 25.4, 1e-3);
}

TEST(ScanFeeder, GivesEveryPageAndStopsWhenAborted) {
    TSaneTestDevice device(TSaneSettings{{"resolution", "20.0"}});
    TKVTWainParams params(nullptr, true);
    params.VisibleDialog = false;
    TKVBitmap unused;
    TKVProgressRec progress;
    TIOParamsVals ioParams(nullptr);
    std::vector<std::pair<int, int>> sizes;
    const TKVTWainPageCallback onPage = [&](TKVBitmap& page, TIOParamsVals* p) {
        sizes.emplace_back(page.GetWidth(), page.GetHeight());
        EXPECT_EQ(p, &ioParams);
    };
    ASSERT_TRUE(KVTW_Acquire(unused, onPage, params, false, progress, &ioParams)) << params.LastErrorText;
    // The virtual feeder holds ten sheets.
    EXPECT_EQ(sizes.size(), 10u);
    const TPnm oracle = ParsePnm(device.Scanimage("--resolution 20 --format=pnm"));
    for (const auto& [w, h] : sizes) EXPECT_EQ(std::make_pair(w, h), std::make_pair(oracle.width, oracle.height));

    // Aborted during the first page's strips: no page is handed over. The page must be large
    // enough to come in several strips.
    params.XResolution.SetCurrentValue(300);
    params.YResolution.SetCurrentValue(300);
    std::atomic<bool> abort{false};
    progress.AbortFlag = &abort;
    progress.OnProgress = [&](TObject*, int) { abort = true; };
    sizes.clear();
    EXPECT_FALSE(KVTW_Acquire(unused, onPage, params, false, progress, &ioParams));
    EXPECT_TRUE(sizes.empty());

    // Aborted after the first page of file transfers: one page, and no file stays behind.
    abort = false;
    params.FileTransfer = true;
    const TKVTWainPageCallback abortAfterPage = [&](TKVBitmap& page, TIOParamsVals* p) {
        onPage(page, p);
        abort = true;
    };
    EXPECT_TRUE(KVTW_Acquire(unused, abortAfterPage, params, false, progress, &ioParams)) << params.LastErrorText;
    EXPECT_EQ(sizes.size(), 1u);
    EXPECT_TRUE(device.TempFiles().empty());
}

TEST(ScanUndefinedLength, CollectsTheStripsUntilThePageEnds) {
    // A hand scanner does not know the page's length before the page ends.
    TSaneTestDevice device(TSaneSettings{{"hand-scanner", "true"}, {"test-picture", "\"Color pattern\""}});
    for (bool nativePixelFormat : {false, true}) {
        TKVTWainParams params(nullptr);
        params.VisibleDialog = false;
        params.UndefinedImageSize = true;
        TKVBitmap bitmap;
        TKVProgressRec progress;
        TIOParamsVals ioParams(nullptr);
        ASSERT_TRUE(KVTW_Acquire(bitmap, nullptr, params, nativePixelFormat, progress, &ioParams)) << params.LastErrorText;
        EXPECT_EQ(ioParams.Height, bitmap.GetHeight());
        EXPECT_TRUE(SamePixels(bitmap, ParsePnm(device.Scanimage("--hand-scanner=yes --test-picture 'Color pattern' --format=pnm"))));
    }
}

TEST(ScanSources, AreListedAndChosenByName) {
    TSaneTestDevice device;
    TKVTWainParams params(nullptr);
    EXPECT_EQ(params.SourceCount(), 2);
    EXPECT_EQ(params.GetSourceName(0), "test:0");
    EXPECT_EQ(params.GetSourceName(1), "test:1");
    EXPECT_EQ(params.GetSourceName(2), "");
    EXPECT_EQ(params.GetSourceName(-1), "");
    EXPECT_TRUE(params.SelectSourceByName("TEST:1"));
    EXPECT_EQ(params.SelectedSource(), 1);
    EXPECT_TRUE(params.SelectSourceByName("TEST"));
    EXPECT_EQ(params.SelectedSource(), 0);
    EXPECT_FALSE(params.SelectSourceByName("flatbed"));
    EXPECT_EQ(params.SelectedSource(), 0);
    EXPECT_EQ(params.Sources[0].Id, 1u);
    EXPECT_EQ(std::string(params.Sources[0].Manufacturer), "Noname");

    std::string chosen;
    EXPECT_TRUE(KVTW_SelectImageSource(chosen, params));
    EXPECT_EQ(chosen, "test:0");
}

TEST(ScanSources, NoScannerGivesAClearError) {
    TSaneTestDevice device({}, false);
    TKVTWainParams params(nullptr);
    params.VisibleDialog = false;
    EXPECT_EQ(params.SourceCount(), 0);
    TKVBitmap bitmap;
    TKVProgressRec progress;
    EXPECT_FALSE(KVTW_Acquire(bitmap, nullptr, params, false, progress, nullptr));
    EXPECT_EQ(params.LastErrorText, "Source Manager unable to find the specified Source.");
    EXPECT_NE(params.LastError, 0);
    std::string chosen;
    EXPECT_FALSE(KVTW_SelectImageSource(chosen, params));
    EXPECT_EQ(bitmap.GetWidth(), 0);
}

TEST(ScanSources, DeviceFailureIsReported) {
    TSaneTestDevice device(TSaneSettings{{"read-limit", "false"}, {"read-status-code", "\"SANE_STATUS_JAMMED\""}});
    TKVTWainParams params(nullptr);
    params.VisibleDialog = false;
    TKVBitmap bitmap;
    TKVProgressRec progress;
    for (bool fileTransfer : {false, true}) {
        params.FileTransfer = fileTransfer;
        EXPECT_FALSE(KVTW_Acquire(bitmap, nullptr, params, false, progress, nullptr));
        EXPECT_EQ(params.LastErrorText, "Transfer failed because of a feeder error");
        EXPECT_TRUE(device.TempFiles().empty());
    }
}

TEST(ScanSettings, StartFromTheirDefaultsAndResetToThem) {
    for (bool multiImage : {false, true}) {
        TKVTWainParams params(nullptr, multiImage);
        params.AcquireFrame = {1, 2, 3, 4};
        params.FeederEnabled = !multiImage;
        params.FileTransfer = true;
        params.XResolution.SetCurrentValue(600);
        params.Reset();
        EXPECT_EQ(params.AcquireFrame, (std::array<double, 4>{0, 0, 0, 0}));
        EXPECT_EQ(params.FeederEnabled, multiImage);
        EXPECT_EQ(params.AutoFeed, multiImage);
        EXPECT_EQ(params.DuplexEnabled, multiImage);
        EXPECT_TRUE(params.VisibleDialog);
        EXPECT_TRUE(params.BufferedTransfer);
        EXPECT_EQ(params.TransferMode(), TKVTransferMode::Memory);
        EXPECT_EQ(params.XResolution.ChangeFlags(), 0);
        EXPECT_EQ(params.Gamma, 2.2);
        params.CompatibilityMode = true;
        EXPECT_EQ(params.TransferMode(), TKVTransferMode::File);
    }
}

TEST(ScanSources, AFreshParameterObjectAcquiresThenListsAndChoosesByName) {
    TSaneTestDevice device;
    TKVTWainParams params(nullptr);
    params.VisibleDialog = false;
    TKVBitmap bitmap;
    TKVProgressRec progress;
    ASSERT_TRUE(KVTW_Acquire(bitmap, nullptr, params, false, progress, nullptr)) << params.LastErrorText;
    EXPECT_EQ(params.SourceCount(), 2);
    EXPECT_TRUE(params.SelectSourceByName("test:1"));
    EXPECT_EQ(params.SelectedSource(), 1);
    EXPECT_TRUE(KVTW_Acquire(bitmap, nullptr, params, false, progress, nullptr)) << params.LastErrorText;
}

TEST(ScanCapabilities, APixelTypeBeyondColourIsAskedForAsColour) {
    TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}});
    for (int type : {3, 9}) {
        TKVTWainParams params(nullptr);
        params.VisibleDialog = false;
        params.PixelType.SetCurrentValue(type);
        TKVBitmap bitmap;
        TKVProgressRec progress;
        ASSERT_TRUE(KVTW_Acquire(bitmap, nullptr, params, false, progress, nullptr)) << params.LastErrorText;
        EXPECT_EQ(params.PixelType.CurrentValue(), 2);
        EXPECT_TRUE(SamePixels(bitmap, ParsePnm(device.Scanimage("--mode Color --test-picture 'Color pattern' --format=pnm"))));
    }
}

TEST(ScanTransfers, PagesThatCannotComeInStripsComeWhole) {
    // A three-pass scanner sends a colour page as three frames, one per colour.
    struct Case {
        bool threePass;
        Transfer transfer;
        bool inStrips;
    };
    for (const Case& c : {Case{false, Transfer::Memory, true}, Case{true, Transfer::Memory, false},
                          Case{true, Transfer::File, false}, Case{true, Transfer::Native, false}}) {
        TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}, {"three-pass", c.threePass ? "true" : "false"},
                                             {"resolution", "200.0"}});
        TKVTWainParams params(nullptr);
        params.VisibleDialog = false;
        UseTransfer(params, c.transfer);
        params.PixelType.SetCurrentValue(2);
        TKVBitmap bitmap;
        TKVProgressRec progress;
        int reports = 0;
        progress.OnProgress = [&](TObject*, int) { ++reports; };
        ASSERT_TRUE(KVTW_Acquire(bitmap, nullptr, params, false, progress, nullptr)) << params.LastErrorText;
        // Strips report their progress; a page that comes whole does not.
        EXPECT_EQ(reports > 0, c.inStrips) << c.threePass;
        const std::string mode = c.threePass ? "--three-pass=yes" : "--three-pass=no";
        EXPECT_TRUE(SamePixels(bitmap, ParsePnm(device.Scanimage("--mode Color " + mode + " --test-picture 'Color pattern' --format=pnm"))));
        EXPECT_TRUE(device.TempFiles().empty());
    }
}

TEST(ScanCompatibilityMode, TransfersAFileAndAsksTheSourceNothingElse) {
    TScratchFolder logs;
    TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}});
    const std::string log = logs.Path("scanner.log");
    WriteFile(log, "");
    TKVTWainParams params(nullptr);
    params.VisibleDialog = false;
    params.CompatibilityMode = true;
    // Settings a source in this mode is not asked for.
    params.PixelType.SetCurrentValue(2);
    params.XResolution.SetCurrentValue(75);
    TKVBitmap bitmap;
    TKVProgressRec progress;
    TIOParamsVals ioParams(nullptr);
    KVTWainLogName = log;
    const bool acquired = KVTW_Acquire(bitmap, nullptr, params, false, progress, &ioParams);
    KVTWainLogName.clear();
    ASSERT_TRUE(acquired) << params.LastErrorText;
    EXPECT_TRUE(params.FileTransfer);
    EXPECT_TRUE(SamePixels(bitmap, ParsePnm(device.Scanimage("--test-picture 'Color pattern' --format=pnm"))));
    EXPECT_TRUE(device.TempFiles().empty());
    // The one capability read and written is the transfer mechanism.
    const std::string trace = ReadFile(log);
    std::vector<std::string> read;
    const std::regex get(R"(GetCapability : \$([0-9A-F]{4}))");
    for (auto it = std::sregex_iterator(trace.begin(), trace.end(), get); it != std::sregex_iterator(); ++it) read.push_back((*it)[1]);
    EXPECT_EQ(read, std::vector<std::string>{"0103"}) << trace;
    const std::regex writer(R"( : Set\w+Capability\n)");
    EXPECT_EQ(std::distance(std::sregex_iterator(trace.begin(), trace.end(), writer), std::sregex_iterator()), 1) << trace;
}

TEST(ScanCaption, IsTheDevicesMakerAndModel) {
    TSaneTestDevice device;
    std::smatch m;
    const std::string listing = device.Scanimage("-L");
    ASSERT_TRUE(std::regex_search(listing, m, std::regex("device `test:0' is a (.*) virtual device")));
    for (Transfer transfer : {Transfer::Native, Transfer::Memory, Transfer::File}) {
        TKVTWainParams params(nullptr);
        params.VisibleDialog = false;
        UseTransfer(params, transfer);
        TKVBitmap bitmap;
        TKVProgressRec progress;
        TIOParamsVals ioParams(nullptr);
        ASSERT_TRUE(KVTW_Acquire(bitmap, nullptr, params, false, progress, &ioParams)) << params.LastErrorText;
        EXPECT_EQ(ioParams.TiffImageDescription, m[1].str());
    }
}

// Within a tolerance, for a lossy format.
::testing::AssertionResult NearPixels(TKVBitmap& bitmap, const TPnm& pnm, int tolerance) {
    if (bitmap.GetWidth() != pnm.width || bitmap.GetHeight() != pnm.height || bitmap.GetPixelFormat() != kv24RGB)
        return ::testing::AssertionFailure() << "size or format";
    for (int y = 0; y < pnm.height; ++y)
        for (int x = 0; x < pnm.width; ++x)
            for (int c = 0; c < 3; ++c)
                if (std::abs(bitmap.GetScanline(y)[x * 3 + 2 - c] - pnm.At(x, y, c)) > tolerance)
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y;
    return ::testing::AssertionSuccess();
}

TEST(ScanFileTransfer, ReadsTheFileAsWhatItHolds) {
    TScratchFolder folder;
    const std::string reference = folder.Path("reference.ppm");
    ASSERT_EQ(RunTool("convert -size 12x7 gradient:red-blue -depth 8 " + Quoted("PPM:" + reference)).status, 0);
    const TPnm expected = ParsePnm(ReadFile(reference));
    struct Case {
        const char* target;  // ImageMagick's format and the file's name
        int tolerance;
    };
    // The name says nothing: a source may write any of its formats to the name it was given.
    for (const Case& c : {Case{"BMP3:page.bmp", 0}, Case{"TIFF:page.tif", 0}, Case{"PNG24:page.png", 0},
                          Case{"JPEG:page.jpg", 8}, Case{"PNG24:png-named.bmp", 0}, Case{"TIFF:tiff-named.bmp", 0}}) {
        const std::string target = c.target;
        const std::string file = folder.Path(target.substr(target.find(':') + 1));
        ASSERT_EQ(RunTool("convert " + Quoted(reference) + " -quality 100 -sampling-factor 1x1 " + Quoted(target.substr(0, target.find(':') + 1) + file)).status, 0);
        TKVBitmap bitmap;
        ASSERT_TRUE(KVTW_LoadTransferFile(file, bitmap)) << c.target;
        EXPECT_TRUE(NearPixels(bitmap, expected, c.tolerance)) << c.target;
    }
    // No picture, an empty file, no file at all.
    WriteFile(folder.Path("text.bmp"), "not a picture at all");
    WriteFile(folder.Path("empty.bmp"), "");
    for (const char* name : {"text.bmp", "empty.bmp", "missing.bmp"}) {
        TKVBitmap bitmap;
        EXPECT_FALSE(KVTW_LoadTransferFile(folder.Path(name), bitmap)) << name;
    }
}

}  // namespace
