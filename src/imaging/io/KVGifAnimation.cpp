#include "imaging/io/KVGifAnimation.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVMask.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFormatDriver.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVGifFilter.h"
#include "imaging/core/KVProgress.h"
#include "platform/PictureLimits.h"

namespace {

struct TFrameRect {
    int left = 0, top = 0, width = 0, height = 0;
};

// A pixel as the class library's colour value (0x00BBGGRR), which fills take.
double ColorValue(const TKVRGB& c) { return double(c.r | c.g << 8 | c.b << 16); }

// The canvas at least as large as the screen, new area in the background colour, transparent.
void PrepareCanvas(TKVBitmap& canvas, int width, int height, const TKVRGB& background) {
    if (canvas.IsEmpty()) {
        canvas.Allocate(width, height, kv24RGB);
        canvas.FillRect(0, 0, width - 1, height - 1, ColorValue(background));
        canvas.GetAlphaChannel()->FillRect(0, 0, width - 1, height - 1, 0);
        return;
    }
    if (canvas.GetPixelFormat() != kv24RGB) canvas.ConvertPixelFormat(kv24RGB);
    if (canvas.GetWidth() < width || canvas.GetHeight() < height)
        canvas.ResizeCanvas(std::max(width, canvas.GetWidth()), std::max(height, canvas.GetHeight()), 0, 0,
                            ColorValue(background), 0);
}

// Blends the frame onto the canvas by the frame's alpha, and keeps the more opaque alpha.
void DrawFrame(TKVBitmap& frame, TKVBitmap& canvas, int left, int top) {
    const int width = std::min(frame.GetWidth(), canvas.GetWidth() - left);
    const int height = std::min(frame.GetHeight(), canvas.GetHeight() - top);
    TKVBitmap* alpha = frame.GetHasAlphaChannel() ? frame.GetAlphaChannel() : nullptr;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<TKVRGB*>(canvas.GetScanline(top + y)) + left;
        for (int x = 0; x < width; ++x) {
            const TKVRGB source = frame.GetPixelRGB(x, y);
            const int a = alpha ? alpha->GetScanline(y)[x] : 255;
            auto mix = [a](int s, int d) { return uint8_t((s * a + d * (255 - a) + 127) / 255); };
            row[x] = {mix(source.b, row[x].b), mix(source.g, row[x].g), mix(source.r, row[x].r)};
        }
    }
    frame.CopyAlphaRectTo(canvas, 0, 0, width, height, left, top);
    canvas.GetAlphaChannel()->SetFull(false);
}

void CopyMaskToAlpha(const TKVMask& mask, TKVBitmap& frame) {
    TKVBitmap& alpha = *frame.GetAlphaChannel();
    for (int y = 0; y < std::min(mask.Height(), alpha.GetHeight()); ++y)
        std::memcpy(alpha.GetScanline(y), mask.GetScanline(y), size_t(std::min(mask.Width(), alpha.GetWidth())));
    alpha.SetFull(false);
}

}  // namespace

int ComposeGIFFrame(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    bitmap.RemoveAlphaChannel();
    const int64_t start = stream.Position();
    const int wanted = params.GifImageIndex;
    TKVBitmap canvas;
    canvas.SetLocation(kvMemory);
    int previousDisposal = 0;
    TFrameRect previous;
    // Past the first frame, progress is reported per frame here, not per frame's rows.
    TKVProgressRec frameProgress;
    frameProgress.AbortFlag = progress.AbortFlag;
    TKVProgressRec& driverProgress = wanted < 1 ? progress : frameProgress;
    int count = 0;
    for (int i = 0;; ++i) {
        TKVBitmap frame;
        std::unique_ptr<TKVMask> mask;
        stream.SetPosition(start);
        params.SetImageIndex(i);
        ReadGIFStream(stream, frame, count, false, mask, false, driverProgress, params);
        if (progress.Aborted()) break;
        const TKVPixelFormat frameFormat = frame.GetPixelFormat();
        if (mask) CopyMaskToAlpha(*mask, frame);
        TKVBitmap* shown = &frame;
        if (count > 1) {
            const TFrameRect rect{params.GifXPos, params.GifYPos, frame.GetWidth(), frame.GetHeight()};
            // The screen takes in the whole frame, wherever the frame lies.
            const int screenWidth = std::max(params.GifWinWidth, rect.left + rect.width);
            const int screenHeight = std::max(params.GifWinHeight, rect.top + rect.height);
            // The screen size comes from the file too: a few bytes must not claim gigabytes.
            if (!PictureSizeProblem(screenWidth, screenHeight, 32, stream.Size() - start).empty()) {
                if (progress.AbortFlag) progress.AbortFlag->store(true);
                break;
            }
            if (previousDisposal == 2 && !canvas.IsEmpty()) {
                const int x2 = previous.left + previous.width - 1, y2 = previous.top + previous.height - 1;
                canvas.FillRect(previous.left, previous.top, x2, y2, ColorValue(params.GifBackground));
                canvas.GetAlphaChannel()->FillRect(previous.left, previous.top, x2, y2, 0);
            }
            PrepareCanvas(canvas, screenWidth, screenHeight, params.GifBackground);
            DrawFrame(frame, canvas, rect.left, rect.top);
            previous = rect;
            previousDisposal = params.GifAction;
            shown = &canvas;
        }
        if (count > 0) {
            bitmap.Assign(shown);
            if (bitmap.GetPixelFormat() != frameFormat) bitmap.ConvertPixelFormat(frameFormat);
            progress.PercentFactor = 100.0 / count;
            progress.Report(i);
        }
        if (i + 1 >= count || i == wanted) break;
    }
    params.SetImageIndex(wanted);
    return count;
}

namespace {

// The header of the frame the record asks for; returns the number of frames.
int ReadGifHeader(TStream& stream, TIOParamsVals& params, TKVProgressRec& progress) {
    TKVBitmap unused;
    std::unique_ptr<TKVMask> mask;
    int count = 0;
    ReadGIFStream(stream, unused, count, true, mask, true, progress, params);
    return count;
}

bool IsGif(TStream& stream) {
    const TKVStreamPrefix p(stream);
    return p.size > 13 && p.Starts("GIF");
}

// An animated picture is composed up to the frame the record asks for.
void ReadGif(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    ComposeGIFFrame(stream, bitmap, params, progress);
}

}  // namespace

int GetGIFStreamFrameCount(TStream& stream) {
    const int64_t start = stream.Position();
    TIOParamsVals params(nullptr);
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    const int count = ReadGifHeader(stream, params, progress);
    stream.SetPosition(start);
    return count;
}

const TKVFormatDriver KVGifDriver{.FileType = kvftGIF,
                                  .IsFormat = IsGif,
                                  .ReadHeader = [](TStream& stream, TIOParamsVals& params,
                                                   TKVProgressRec& progress) { ReadGifHeader(stream, params, progress); },
                                  .Read = ReadGif,
                                  .Write = WriteGIFStream,
                                  .PageCount = GetGIFStreamFrameCount};
