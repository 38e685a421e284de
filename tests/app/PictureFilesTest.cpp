// The writer's reader of picture files in this program: the class by content, then by extension.
#include <gtest/gtest.h>

#include "app/engine/PictureFiles.h"
#include "platform/Graphics.h"
#include "platform/Jpeg.h"
#include "TestSupport.h"

namespace {

TEST(PictureFiles, KnowJpegAndBmpByContentThenByExtension) {
    TScratchFolder scratch;
    TEnginePictureFiles files;
    const std::string jpegNamedBmp = scratch.Path("photo.bmp");
    ASSERT_EQ(RunTool("convert -size 5x3 xc:red " + Quoted("jpg:" + jpegNamedBmp)).status, 0);
    const TPictureFileContent passed = files.Read(jpegNamedBmp, true);
    ASSERT_TRUE(passed.Jpeg);
    EXPECT_EQ(passed.Jpeg->Layout.Width, 5);
    EXPECT_EQ(passed.Jpeg->Layout.Height, 3);
    const TPictureFileContent decoded = files.Read(jpegNamedBmp, false);
    ASSERT_TRUE(dynamic_cast<TJPEGImage*>(decoded.Graphic.get()));
    EXPECT_EQ(decoded.Graphic->Width(), 5);
    const std::string bmp = scratch.Path("picture");
    ASSERT_EQ(RunTool("convert -size 4x2 xc:blue " + Quoted("bmp3:" + bmp)).status, 0);
    const TPictureFileContent bitmap = files.Read(bmp, true);
    EXPECT_FALSE(bitmap.Jpeg);
    ASSERT_TRUE(dynamic_cast<TBitmap*>(bitmap.Graphic.get()));
    EXPECT_EQ(dynamic_cast<TBitmap&>(*bitmap.Graphic).Pixel(1, 1), clBlue);
    WriteFile(scratch.Path("text.jpg"), "plain text");
    EXPECT_THROW(files.Read(scratch.Path("text.jpg"), false), EInvalidGraphic);
    // Passed through, the file is refused with the JPEG reader's reason.
    EXPECT_EQ(MessageOf([&] { files.Read(scratch.Path("text.jpg"), true); }),
              "Damaged JPEG data: no start of image: " + scratch.Path("text.jpg"));
    WriteFile(scratch.Path("text.png"), "plain text");
    EXPECT_THROW(files.Read(scratch.Path("text.png"), false), EInvalidGraphic);
    EXPECT_THROW(files.Read(scratch.Path("missing.jpg"), true), EFOpenError);
}

}  // namespace
