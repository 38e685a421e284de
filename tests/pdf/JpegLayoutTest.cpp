// The structure check of JPEG files passed through: frame, Adobe marker and whole files, with
// hostile variants of a real file.
#include <gtest/gtest.h>

#include "PdfTestSupport.h"
#include "platform/JpegLayout.h"
#include "platform/Exception.h"

namespace {

std::string Layout(const std::string& bytes) {
    try {
        const TJpegLayout layout = ParseJpegLayout({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
        return std::to_string(layout.Width) + "x" + std::to_string(layout.Height) + " " +
               std::to_string(layout.Components) + (layout.AdobeMarker ? " adobe" : "");
    } catch (const EInvalidGraphic& error) {
        return error.Message();
    }
}

TEST(JpegLayout, FramesAreReadAndDamagedFilesRefused) {
    TScratchFolder scratch;
    auto made = [&](const std::string& arguments) {
        const std::string path = scratch.Path("made.jpg");
        EXPECT_EQ(RunTool("convert " + arguments + " " + Quoted(path)).status, 0);
        return ReadFile(path);
    };
    const std::string baseline = made("-size 40x24 gradient:red-blue");
    const std::string progressive = made("-size 40x24 gradient:red-blue -interlace JPEG");
    const std::string cmyk = made("-size 8x8 xc:red -colorspace CMYK");
    const size_t sos = baseline.find("\xFF\xDA");
    const size_t sof = baseline.find("\xFF\xC0");
    std::string twelveBit = baseline;
    twelveBit[sof + 4] = 12;
    std::string noSize = baseline;
    noSize[sof + 5] = noSize[sof + 6] = 0;
    std::string shortSegment = baseline;
    shortSegment[5] = 1;  // the first segment's length
    std::string filled = baseline;
    filled.insert(sos, "\xFF\xFF");
    // A few hundred bytes that claim 45,000 x 45,000 pixels; a real picture of one colour, whose
    // scan is as small as scans get, still passes.
    std::string forged = baseline;
    forged[sof + 5] = forged[sof + 7] = '\xAF';
    forged[sof + 6] = forged[sof + 8] = '\xC8';
    const std::string flat = made("-size 3000x2000 'xc:#807060' -sampling-factor 2x2 -quality 10");
    const struct {
        const char* name;
        std::string bytes;
        std::string expected;
    } cases[] = {
        {"baseline", baseline, "40x24 3"},
        {"progressive", progressive, "40x24 3"},
        {"cmyk", cmyk, "8x8 4 adobe"},
        {"bytes after the end", baseline + std::string(5000, '\xFF') + "tail", "40x24 3"},
        {"fill bytes before a marker", filled, "40x24 3"},
        {"flat", flat, "3000x2000 3"},
        {"forged size", forged, "Damaged JPEG data: its scan data are too short for the size its header claims"},
        {"empty", "", "Damaged JPEG data: truncated before its scan"},
        {"cut in the header", baseline.substr(0, sos - 3), "Damaged JPEG data: truncated before its scan"},
        {"cut in the scan", baseline.substr(0, baseline.size() - 30), "Damaged JPEG data: truncated, no end of image after the scan"},
        {"cut between scans", progressive.substr(0, progressive.rfind("\xFF\xDA")), "Damaged JPEG data: truncated, no end of image after the scan"},
        {"no frame", baseline.substr(0, sof) + baseline.substr(sos), "Damaged JPEG data: a scan before the frame header"},
        {"12-bit", twelveBit, "Damaged JPEG data: only 8-bit samples can be passed through"},
        {"no size", noSize, "Damaged JPEG data: the frame has no size"},
        {"short segment", shortSegment, "Damaged JPEG data: a segment length below 2"},
        {"not a JPEG", "GIF89a", "Damaged JPEG data: no start of image"},
    };
    for (const auto& c : cases) EXPECT_EQ(Layout(c.bytes), c.expected) << c.name;
}

}  // namespace
