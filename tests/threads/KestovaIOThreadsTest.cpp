#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "../imaging/PictureFixtures.h"
#include "TestHttpServer.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVIOThread.h"

namespace {

// Two pictures of one size that differ in every pixel, so that any mix of them shows.
struct TTwoPictures {
    TScratchFolder folder;
    std::string first = folder.Path("first.ppm"), second = folder.Path("second.ppm");
    TRgbImage firstPixels, secondPixels;
    TTwoPictures() {
        std::string inverted = PatternPpm(40, 30);
        WriteFile(first, inverted);
        for (size_t i = inverted.size() - 40 * 30 * 3; i < inverted.size(); ++i) inverted[i] = char(~inverted[i]);
        WriteFile(second, inverted);
        firstPixels = ParsePpm(ReadFile(first));
        secondPixels = ParsePpm(ReadFile(second));
    }
};

// A component working in the background on a bitmap of the test.
struct TBackgroundIO {
    TKVBitmap bitmap;
    std::unique_ptr<TKestovaIO> io;
    explicit TBackgroundIO(std::unique_ptr<TKestovaIO> component = std::make_unique<TKestovaIO>())
        : io(std::move(component)) {
        io->AttachBitmap(&bitmap);
        io->Asynchronous = true;
    }
};

// Its LoadFromFileFormat, on a background thread, waits until the test lets it go or AbortFlag is
// set; every call tells where it ran.
class TGatedIO : public TKestovaIO {
public:
    std::atomic<bool> open{false};
    struct TCall {
        std::thread::id thread;
        bool inside;
    };
    std::mutex mutex;
    std::vector<TCall> calls;
    void LoadFromFileFormat(const std::string& fileName, int fileType) override {
        const bool inside = IsInsideIOThread();
        {
            const std::lock_guard lock(mutex);
            calls.push_back({std::this_thread::get_id(), inside});
        }
        while (inside && !open && !AbortFlag) std::this_thread::yield();
        TKestovaIO::LoadFromFileFormat(fileName, fileType);
    }
};

}  // namespace

TEST(KestovaIOThreads, LoadsOnACallersBitmapRunInTheBackgroundOneAtATimeInTheOrderStarted) {
    const TTwoPictures pictures;
    TBackgroundIO b;
    std::mutex mutex;
    std::vector<std::string> finished;
    std::vector<std::string> torn;
    std::atomic<bool> onCaller{false};
    const std::thread::id caller = std::this_thread::get_id();
    b.io->OnFinishWork = [&](TObject*) {
        if (std::this_thread::get_id() == caller) onCaller = true;
        const std::string name = b.io->Params().FileName;
        const TRgbImage& expected = name == pictures.first ? pictures.firstPixels : pictures.secondPixels;
        const std::lock_guard lock(mutex);
        finished.push_back(name);
        if (!SamePixels(PixelsOf(b.bitmap), expected)) torn.push_back(name);
    };
    std::vector<std::string> started;
    for (int i = 0; i < 12; ++i) {
        started.push_back(i % 2 ? pictures.second : pictures.first);
        b.io->LoadFromFile(started.back());
    }
    b.io->WaitThreads(false);
    EXPECT_TRUE(b.io->IOThreadKinds().empty());
    EXPECT_FALSE(b.io->AbortFlag);
    EXPECT_FALSE(onCaller);
    EXPECT_EQ(finished, started);
    EXPECT_TRUE(torn.empty()) << torn.size() << " loads left a mixed picture";
    EXPECT_TRUE(SamePixels(PixelsOf(b.bitmap), pictures.secondPixels));
}

TEST(KestovaIOThreads, OwnBitmapsAndSynchronousComponentsLoadOnTheCallersThread) {
    const TTwoPictures pictures;
    const std::thread::id caller = std::this_thread::get_id();
    for (const bool ownBitmap : {true, false}) {
        SCOPED_TRACE(ownBitmap ? "own bitmap" : "caller's bitmap, not asynchronous");
        TKVBitmap bitmap;
        TKestovaIO io;
        if (!ownBitmap) io.AttachBitmap(&bitmap);
        io.Asynchronous = ownBitmap;
        std::thread::id ranOn;
        io.OnFinishWork = [&](TObject*) { ranOn = std::this_thread::get_id(); };
        io.LoadFromFile(pictures.first);
        EXPECT_EQ(ranOn, caller);
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), pictures.firstPixels));
    }
}

TEST(KestovaIOThreads, LoadsIntoAnAttachedClassLibraryBitmapRunInTheBackground) {
    const TTwoPictures pictures;
    TBitmap picture;
    TKestovaIO io;
    io.AttachTBitmap(&picture);
    io.Asynchronous = true;
    std::atomic<bool> onCaller{true};
    const std::thread::id caller = std::this_thread::get_id();
    io.OnFinishWork = [&](TObject*) { onCaller = std::this_thread::get_id() == caller; };
    io.LoadFromFile(pictures.first);
    io.WaitThreads(false);
    EXPECT_FALSE(onCaller);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(picture.Width(), 40);
    EXPECT_EQ(picture.Height(), 30);
    EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), pictures.firstPixels));
}

// Content detection reads the file: an automatic load leaves it to its thread as well.
TEST(KestovaIOThreads, AutomaticLoadsDetectTheContentInTheBackground) {
    static std::atomic<std::thread::id> detectedOn;
    TKVFileFormatEntry format;
    format.FileType = 6000;
    format.Extensions = "DTX";
    format.TestHook = [](TStream&) {
        detectedOn = std::this_thread::get_id();
        return false;
    };
    RegisterFileFormat(format);
    TScratchFolder folder;
    const std::string unknown = folder.Path("unknown.dat");
    WriteFile(unknown, "no format starts like this");
    TBackgroundIO b;
    b.io->LoadFromFileAuto(unknown);
    b.io->WaitThreads(false);
    UnregisterFileFormat(6000);
    EXPECT_NE(detectedOn.load(), std::thread::id());
    EXPECT_NE(detectedOn.load(), std::this_thread::get_id());
}

TEST(KestovaIOThreads, EveryOperationStartsAThreadOfItsKindAndReturnsAtOnce) {
    TBackgroundIO b(std::make_unique<TGatedIO>());
    auto& gated = static_cast<TGatedIO&>(*b.io);
    TScratchFolder folder;
    const std::string missing = folder.Path("missing");
    TMemoryStream stream;
    const uint8_t buffer[4] = {};
    int finished = 0;
    b.io->OnFinishWork = [&](TObject*) { ++finished; };
    b.io->LoadFromFileFormat(missing + ".bmp", kvftBMP);  // waits at the gate, holding the others back
    const struct {
        const char* name;
        std::function<int(TKestovaIO&)> start;  // the result of a counted load or an acquisition, else 0
        TKVIOThreadKind kind;
    } cases[] = {
        {"LoadFromFile", [&](TKestovaIO& io) { io.LoadFromFile(missing + ".png"); return 0; }, kvtkFile},
        {"LoadFromFileJPEG", [&](TKestovaIO& io) { io.LoadFromFileJPEG(missing); return 0; }, kvtkFile},
        {"SaveToFile", [&](TKestovaIO& io) { io.SaveToFile(missing + ".bmp"); return 0; }, kvtkFile},
        {"SaveToFilePDF", [&](TKestovaIO& io) { io.SaveToFilePDF(missing + ".pdf"); return 0; }, kvtkFile},
        {"LoadFromStream", [&](TKestovaIO& io) { io.LoadFromStream(stream); return 0; }, kvtkStream},
        {"LoadFromStreamPNG", [&](TKestovaIO& io) { io.LoadFromStreamPNG(stream); return 0; }, kvtkStream},
        {"LoadFromBuffer", [&](TKestovaIO& io) { io.LoadFromBuffer(buffer, 4, kvftNone); return 0; }, kvtkStream},
        {"LoadFromFileTIFF", [&](TKestovaIO& io) { return io.LoadFromFileTIFF(missing + ".tif"); }, kvtkFileCount},
        {"LoadFromStreamGIF", [&](TKestovaIO& io) { return io.LoadFromStreamGIF(stream); }, kvtkStreamCount},
        {"LoadFromFileFormat", [&](TKestovaIO& io) { io.LoadFromFileFormat(missing, kvftPCX); return 0; }, kvtkFileFormat},
        {"LoadFromStreamFormat", [&](TKestovaIO& io) { io.LoadFromStreamFormat(stream, kvftTGA); return 0; }, kvtkStreamFormat},
        {"SaveToStreamFormat", [&](TKestovaIO& io) { io.SaveToStreamFormat(stream, kvftBMP); return 0; }, kvtkStreamFormat},
        {"LoadAVIFrame", [&](TKestovaIO& io) { io.LoadAVIFrame(3); return 0; }, kvtkFrame},
        {"ImportMetafile", [&](TKestovaIO& io) { io.ImportMetafile(missing + ".wmf", 10, 10, true); return 0; }, kvtkMetafile},
        {"LoadFromURL", [&](TKestovaIO& io) { io.LoadFromURL("https://127.0.0.1/a.png"); return 0; }, kvtkURL},
        {"Acquire", [&](TKestovaIO& io) { return int(io.Acquire(0)); }, kvtkAcquire},
    };
    std::vector<TKVIOThreadKind> expected = {kvtkFileFormat};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int result = c.start(*b.io);
        expected.push_back(c.kind);
        EXPECT_EQ(b.io->IOThreadKinds(), expected);
        const int expectedResult = c.kind == kvtkFileCount || c.kind == kvtkStreamCount ? -1 : c.kind == kvtkAcquire;
        EXPECT_EQ(result, expectedResult);
    }
    EXPECT_EQ(finished, 0);
    gated.open = true;
    b.io->WaitThreads(false);
    EXPECT_TRUE(b.io->IOThreadKinds().empty());
    // Every operation finished once (those that raised on the missing files too, and the
    // acquisition that found no scanner). None touched the bitmap.
    EXPECT_EQ(finished, int(std::size(cases)) + 1);
    EXPECT_TRUE(b.bitmap.IsEmpty());
}

TEST(KestovaIOThreads, AnOverrideRunsInTheThreadAndCallsTheComponentDirectly) {
    const TTwoPictures pictures;
    TBackgroundIO b(std::make_unique<TGatedIO>());
    auto& gated = static_cast<TGatedIO&>(*b.io);
    gated.open = true;
    b.io->LoadFromFileFormat(pictures.first, kvftPXM);
    b.io->WaitThreads(false);
    // Called on the caller's thread, it handed itself to a thread, where it ran again.
    ASSERT_EQ(gated.calls.size(), 2u);
    EXPECT_EQ(gated.calls[0].thread, std::this_thread::get_id());
    EXPECT_FALSE(gated.calls[0].inside);
    EXPECT_NE(gated.calls[1].thread, std::this_thread::get_id());
    EXPECT_TRUE(gated.calls[1].inside);
    EXPECT_FALSE(b.io->IsInsideIOThread());
    EXPECT_FALSE(b.io->AbortFlag);
    EXPECT_TRUE(SamePixels(PixelsOf(b.bitmap), pictures.firstPixels));
}

TEST(KestovaIOThreads, WaitingWithAbortStopsTheRunningOperationAndCancelsTheWaitingOnes) {
    const TTwoPictures pictures;
    TBackgroundIO b(std::make_unique<TGatedIO>());
    std::atomic<int> finished{0};
    b.io->OnFinishWork = [&](TObject*) { ++finished; };
    // The gate opens only through AbortFlag.
    b.io->LoadFromFileFormat(pictures.first, kvftPXM);
    b.io->LoadFromFile(pictures.second);
    b.io->LoadFromFileGIF(pictures.second);
    b.io->WaitThreads(true);
    EXPECT_TRUE(b.io->AbortFlag);
    EXPECT_EQ(finished, 3);
    EXPECT_FALSE(SamePixels(PixelsOf(b.bitmap), pictures.secondPixels));

    // With none running: AbortFlag is set, nothing finishes.
    b.io->AbortFlag = false;
    b.io->WaitThreads(true);
    EXPECT_TRUE(b.io->AbortFlag);
    EXPECT_EQ(finished, 3);
}

TEST(KestovaIOThreads, WaitingFromAnOperationsEventDoesNotWaitForItself) {
    const TTwoPictures pictures;
    TBackgroundIO b(std::make_unique<TGatedIO>());
    std::atomic<int> finished{0};
    b.io->OnFinishWork = [&](TObject*) {
        if (++finished == 1) b.io->WaitThreads(true);
    };
    b.io->LoadFromFileFormat(pictures.first, kvftPXM);
    b.io->LoadFromFile(pictures.second);  // cancelled by the first one's wait
    static_cast<TGatedIO&>(*b.io).open = true;
    b.io->WaitThreads(false);
    EXPECT_EQ(finished, 2);
    EXPECT_TRUE(b.io->AbortFlag);
    EXPECT_TRUE(SamePixels(PixelsOf(b.bitmap), pictures.firstPixels));
}

TEST(KestovaIOThreads, DestroyingTheComponentWaitsForItsOperations) {
    const TTwoPictures pictures;
    TKVBitmap first;
    std::atomic<int> finished{0};
    {
        auto io = std::make_unique<TKestovaIO>();
        io->AttachBitmap(&first);
        io->Asynchronous = true;
        io->OnFinishWork = [&](TObject*) { ++finished; };
        io->LoadFromFile(pictures.first);
        io->LoadFromFile(pictures.second);
        io.reset();
    }
    EXPECT_EQ(finished, 2);
    EXPECT_TRUE(SamePixels(PixelsOf(first), pictures.secondPixels));
}

TEST(KestovaIOThreads, ACountedLoadReturnsMinusOneAndItsCountAfterwards) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(8, 5));
    const std::string tiff = MakeFixture(folder.Path("three.tif"), "convert " + Quoted(folder.Path("p.ppm")) + " " +
                                                                          Quoted(folder.Path("p.ppm")) + " " +
                                                                          Quoted(folder.Path("p.ppm")) + " " +
                                                                          Quoted(folder.Path("three.tif")));
    TBackgroundIO b;
    std::atomic<int> countAtFinish{0};
    b.io->OnFinishWork = [&](TObject*) { countAtFinish = b.io->LastCount(); };
    b.io->Params().SetImageIndex(2);
    EXPECT_EQ(b.io->LoadFromFileTIFF(tiff), -1);
    b.io->WaitThreads(false);
    EXPECT_EQ(countAtFinish, 3);
    EXPECT_EQ(b.io->LastCount(), 3);
    EXPECT_FALSE(b.io->AbortFlag);

    // Run directly, it returns the count itself.
    TKestovaIO direct;
    EXPECT_EQ(direct.LoadFromFileTIFF(tiff), 3);
    EXPECT_EQ(direct.LastCount(), 3);
}

TEST(KestovaIOThreads, ABackgroundPdfSaveWritesADocument) {
    const TTwoPictures pictures;
    TBackgroundIO b;
    b.io->LoadFromFile(pictures.first);
    const std::string pdf = pictures.folder.Path("saved.pdf");
    b.io->SaveToFilePDF(pdf);
    b.io->WaitThreads(false);
    ASSERT_FALSE(b.io->AbortFlag);
    EXPECT_TRUE(QpdfChecks(pdf));
    const TCommandResult pages = RunTool("pdfinfo " + Quoted(pdf) + " | grep Pages:");
    EXPECT_TRUE(Contains(pages.output, " 1\n")) << pages.output;
}

TEST(KestovaIOThreads, AnExceptionInADriverEndsOnlyItsOperation) {
    const TTwoPictures pictures;
    constexpr int FaultyType = 1001;
    TKVFileFormatEntry entry;
    entry.FileType = FaultyType;
    entry.Description = "Faulty";
    entry.Extensions = "FLT";
    entry.ReadHook = [](TStream&, TKVBitmap&, TIOParamsVals&, bool, TKVProgressRec&) {
        throw std::runtime_error("driver fault");
    };
    RegisterFileFormat(entry);
    WriteFile(pictures.folder.Path("p.flt"), "data");

    TBackgroundIO b;
    std::atomic<int> finished{0};
    std::atomic<bool> abortedAtFinish{false};
    b.io->OnFinishWork = [&](TObject*) {
        if (++finished == 1) abortedAtFinish = b.io->AbortFlag.load();
    };
    testing::internal::CaptureStderr();
    b.io->LoadFromFileFormat(pictures.folder.Path("p.flt"), FaultyType);
    b.io->WaitThreads(false);
    const std::string log = testing::internal::GetCapturedStderr();
    UnregisterFileFormat(FaultyType);
    EXPECT_TRUE(b.io->AbortFlag);
    EXPECT_EQ(finished, 1);
    // Already failed when it finished, so that a finishing handler does not keep the picture.
    EXPECT_TRUE(abortedAtFinish);
    EXPECT_EQ(CountOf(log, "Exception in TKVIOThread.Execute\n"), 1u) << log;

    // The component goes on working.
    b.io->LoadFromFile(pictures.second);
    b.io->WaitThreads(false);
    EXPECT_FALSE(b.io->AbortFlag);
    EXPECT_EQ(finished, 2);
    EXPECT_TRUE(SamePixels(PixelsOf(b.bitmap), pictures.secondPixels));
}

TEST(KestovaIOThreads, HttpLoadsRunInTheBackgroundToo) {
    const TTwoPictures pictures;
    TTestHttpServer server;
    TTestHttpResponse first, second;
    first.body = ReadFile(pictures.first);
    second.body = ReadFile(pictures.second);
    second.withLength = false;
    server.Answer("/first.ppm", first);
    server.Answer("/second.ppm", second);
    TBackgroundIO b;
    std::atomic<int> finished{0};
    b.io->OnFinishWork = [&](TObject*) { ++finished; };
    const std::string address = "http://" + server.HostAndPort();
    b.io->LoadFromURL(address + "/first.ppm");
    b.io->LoadFromFile(address + "/second.ppm");
    b.io->WaitThreads(false);
    EXPECT_FALSE(b.io->AbortFlag);
    EXPECT_EQ(finished, 2);
    EXPECT_TRUE(SamePixels(PixelsOf(b.bitmap), pictures.secondPixels));
    EXPECT_EQ(server.Requests().size(), 2u);
}
