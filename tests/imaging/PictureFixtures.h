#pragma once
// What the picture driver tests share: fixtures made by the independent tools, loading through
// the input/output component, and pixel comparisons against ImageMagick's reading.
#include <gtest/gtest.h>

#include <string>

#include "../support/TestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KestovaIO.h"

// Runs a shell command that writes the file at path; fails the test when it does not.
inline std::string MakeFixture(const std::string& path, const std::string& command) {
    const TCommandResult result = RunTool(command + " 2>/dev/null", false);
    EXPECT_EQ(result.status, 0) << command << "\n" << result.output;
    return path;
}

// A test pattern of many colours as a PPM, for the tools to convert.
inline std::string PatternPpm(int width, int height) {
    std::string data = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) data += {char(x * 37 + y * 3), char(y * 41 + 7), char((x * y * 13) ^ 0x55)};
    return data;
}

inline TRgbImage PixelsOf(TKVBitmap& bitmap) {
    TRgbImage image{bitmap.GetWidth(), bitmap.GetHeight(), {}};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const TKVRGB c = bitmap.GetPixelRGB(x, y);
            image.pixels.insert(image.pixels.end(), {c.r, c.g, c.b});
        }
    return image;
}

// The first differing pixel, or success.
inline ::testing::AssertionResult SamePixels(const TRgbImage& actual, const TRgbImage& expected) {
    if (actual.width != expected.width || actual.height != expected.height)
        return ::testing::AssertionFailure() << "size " << actual.width << "x" << actual.height << ", expected "
                                             << expected.width << "x" << expected.height;
    for (int y = 0; y < actual.height; ++y)
        for (int x = 0; x < actual.width; ++x)
            for (int c = 0; c < 3; ++c)
                if (actual.At(x, y)[c] != expected.At(x, y)[c])
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y << " channel " << c << " is "
                                                         << int(actual.At(x, y)[c]) << ", expected "
                                                         << int(expected.At(x, y)[c]);
    return ::testing::AssertionSuccess();
}

inline std::string StreamBytesOf(const TMemoryStream& stream) {
    return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

// Loads a file by its name; the result tells whether the component reported success.
inline bool LoadsInto(TKestovaIO& io, const std::string& path) {
    io.LoadFromFile(path);
    return !io.AbortFlag;
}
