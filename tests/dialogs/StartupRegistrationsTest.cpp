#include "imaging/view/KVStartupRegistrations.h"

#include <gtest/gtest.h>

#include <QImage>
#include <array>

#include "DialogTestSupport.h"

namespace {

TEST(StartupRegistrations, ClipboardFormatsAndPresetImagesLiveFromStartToEnd) {
    TDialogApplication application;
    EXPECT_TRUE(PresetImages().empty());
    InitializeViewRegistrations();
    InitializeViewRegistrations();  // nested: counted
    const unsigned textMemo = TextMemoClipboardFormat();
    EXPECT_NE(textMemo, 0u);
    EXPECT_NE(VectClipboardFormat(), textMemo);
    EXPECT_EQ(RegisterClipboardFormat("KESTOVA TEXTMEMO"), textMemo);  // once per name
    EXPECT_EQ(ClipboardMimeType(VectClipboardFormat()), "application/x-kestova;name=\"KESTOVA VECT\"");

    const int rectangles[4][4] = {{18, 29, 140, 119}, {13, 1, 95, 98}, {30, 14, 147, 92}, {17, 17, 131, 131}};
    ASSERT_EQ(PresetImages().size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const TKVPresetImage& preset = PresetImages()[i];
        EXPECT_EQ(preset.fileType, 8);
        EXPECT_EQ(preset.size, static_cast<int64_t>(preset.data.size()));
        QImage image;
        ASSERT_TRUE(image.loadFromData(preset.data.data(), static_cast<int>(preset.data.size()), "PNG")) << i;
        EXPECT_EQ((std::array{preset.left, preset.top, preset.right, preset.bottom}),
                  (std::array{rectangles[i][0], rectangles[i][1], rectangles[i][2], rectangles[i][3]}));
        EXPECT_TRUE(image.rect().contains(QRect(QPoint(preset.left, preset.top), QPoint(preset.right, preset.bottom))));
    }
    FinalizeViewRegistrations();
    EXPECT_EQ(PresetImages().size(), 4u);
    FinalizeViewRegistrations();
    EXPECT_TRUE(PresetImages().empty());
    EXPECT_EQ(TextMemoClipboardFormat(), 0u);
}

}  // namespace
