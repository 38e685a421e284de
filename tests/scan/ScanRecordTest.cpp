// The record a scan fills for its picture: bits per sample and samples per pixel of each kind of
// page, from SANE's virtual scanner.
#include <gtest/gtest.h>

#include "SaneTestDevice.h"
#include "imaging/acquire/KVTWain.h"
#include "imaging/acquire/KVTWainParams.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/IOParamsVals.h"

namespace {

TEST(ScanRecord, ColourScanRecordsTheBitsOfOneChannel) {
    const struct {
        const char* name;
        int pixelType, bitDepth;  // bit depth 0: the device's own
        int bitsPerSample, samplesPerPixel;
    } cases[] = {
        {"colour, 24 bits a pixel", 2, 0, 8, 3},
        {"colour, 48 bits a pixel", 2, 48, 16, 3},
        {"gray, 8 bits", 1, 0, 8, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}});
        TKVTWainParams params(nullptr);
        params.VisibleDialog = false;
        params.BufferedTransfer = true;
        params.PixelType.SetCurrentValue(c.pixelType);
        if (c.bitDepth) params.BitDepth.SetCurrentValue(c.bitDepth);
        params.XResolution.SetCurrentValue(25);
        params.YResolution.SetCurrentValue(25);
        TKVBitmap bitmap;
        TKVProgressRec progress;
        TIOParamsVals record(nullptr);
        ASSERT_TRUE(KVTW_Acquire(bitmap, nullptr, params, true, progress, &record)) << params.LastErrorText;
        EXPECT_EQ(record.BitsPerSample, c.bitsPerSample);
        EXPECT_EQ(record.SamplesPerPixel, c.samplesPerPixel);
    }
}

}  // namespace
