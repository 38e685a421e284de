#include <gtest/gtest.h>

#include <cstring>

#include "imaging/core/KVImagingAnnot.h"
#include "imaging/core/KVViewServices.h"
#include "platform/PictureLimits.h"

namespace {

std::unique_ptr<TKVImagingObject> Mark(int32_t type) {
    auto mark = std::make_unique<TKVImagingObject>();
    for (size_t i = 0; i < mark->Attributes.size(); ++i) mark->Attributes[i] = uint8_t(i * 7 + 3);
    mark->SetMarkType(type);
    return mark;
}

int PixelByte(int y, int64_t i) { return int(y * 31 + i * 17 + 5); }

std::unique_ptr<TKVBitmap> Picture(TKVPixelFormat format, int width, int height) {
    auto bitmap = std::make_unique<TKVBitmap>();
    bitmap->Allocate(width, height, format);
    TKVAccessScope writing(*bitmap, kvaWrite);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap->GetScanline(y);
        for (int64_t i = 0; i < bitmap->GetRowLen(); ++i) row[i] = uint8_t(PixelByte(y, i));
    }
    return bitmap;
}

// Sample mark list: an image of each kind, a line, a freehand stroke, a text and a mark whose
// type has no data of its own.
TKVImagingAnnot SampleAnnotations() {
    TKVImagingAnnot annot;
    auto image = Mark(TKVImagingObject::kvmImage);
    image->Image = Picture(kv24RGB, 5, 3);
    annot.Add(std::move(image));
    auto bilevel = Mark(TKVImagingObject::kvmImage);
    bilevel->Image = Picture(kv1Bit, 19, 4);
    annot.Add(std::move(bilevel));
    auto line = Mark(TKVImagingObject::kvmLine);
    line->Points = {{10, 20}, {-30, 40000}};
    annot.Add(std::move(line));
    auto stroke = Mark(TKVImagingObject::kvmFreehand);
    for (int i = 0; i < 50; ++i) stroke->Points.push_back({i, i * i});
    annot.Add(std::move(stroke));
    auto text = Mark(8);
    text->Text = "Approved \xE9t\xE9";  // 8-bit text as a file holds it
    text->SetFontHeight(-16);
    annot.Add(std::move(text));
    annot.Add(Mark(12));
    return annot;
}

void ExpectSameImage(TKVBitmap& a, TKVBitmap& b) {
    ASSERT_EQ(a.GetWidth(), b.GetWidth());
    ASSERT_EQ(a.GetHeight(), b.GetHeight());
    ASSERT_EQ(a.GetPixelFormat(), b.GetPixelFormat());
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x) ASSERT_EQ(a.GetPixelRGB(x, y), b.GetPixelRGB(x, y)) << x << "," << y;
}

void ExpectSameMarks(TKVImagingAnnot& expected, TKVImagingAnnot& actual) {
    ASSERT_EQ(actual.Count(), expected.Count());
    for (int i = 0; i < expected.Count(); ++i) {
        SCOPED_TRACE(i);
        TKVImagingObject& e = expected.Objects(i);
        TKVImagingObject& a = actual.Objects(i);
        EXPECT_EQ(a.Attributes, e.Attributes);
        EXPECT_EQ(a.Points, e.Points);
        EXPECT_EQ(a.Text, e.Text);
        ASSERT_EQ(a.Image != nullptr, e.Image != nullptr);
        if (e.Image) ExpectSameImage(*e.Image, *a.Image);
    }
}

// Hand-made blocks, little-endian.
struct Block {
    std::vector<uint8_t> bytes;
    Block& Int(int64_t v) {
        for (int k = 0; k < 4; ++k) bytes.push_back(uint8_t(uint64_t(v) >> (8 * k)));
        return *this;
    }
    Block& Bytes(const std::vector<uint8_t>& b) {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    Block& Named(int type, const char* name, const std::vector<uint8_t>& data, bool longSizes = false) {
        Int(type).Int(12);
        char padded[8] = {};
        std::memcpy(padded, name, std::strlen(name));
        bytes.insert(bytes.end(), padded, padded + 8);
        Int(int64_t(data.size()));
        if (longSizes) Int(0);
        return Bytes(data);
    }
    Block& MarkRecord(int32_t type) {
        std::vector<uint8_t> attributes(164, 0);
        std::memcpy(attributes.data(), &type, 4);
        return Int(5).Int(164).Bytes(attributes);
    }
};

// An RLE8 DIB of two colours whose rows are single runs: a few bytes per row, whatever the width.
std::vector<uint8_t> RunLengthDib(int width, int height) {
    Block dib;
    dib.Int(40).Int(width).Int(height).Int(0x00080001).Int(1).Int(0).Int(0).Int(0).Int(2).Int(0);
    dib.Int(0).Int(0x00FFFFFF);
    for (int y = 0; y < height; ++y) dib.Bytes({uint8_t(width), 1, 0, 0});
    return dib.Bytes({0, 1}).bytes;
}

}  // namespace

TEST(KVImagingAnnot, BlocksWrittenAndReadBack) {
    TKVImagingAnnot marks = SampleAnnotations();
    const std::vector<uint8_t> block = marks.SaveToBuffer();
    ASSERT_FALSE(block.empty());

    TKVImagingAnnot back;
    ASSERT_TRUE(back.LoadFromBuffer(block.data(), int64_t(block.size())));
    ExpectSameMarks(marks, back);
    EXPECT_EQ(back.Objects(1).Image->GetPixelFormat(), kv1Bit);

    // Loading appends.
    ASSERT_TRUE(back.LoadFromBuffer(block.data(), int64_t(block.size())));
    EXPECT_EQ(back.Count(), 2 * marks.Count());
}

TEST(KVImagingAnnot, TextHeightFollowsTheScreenResolution) {
    TKVImagingAnnot marks;
    auto text = Mark(7);
    text->Text = "x";
    text->SetFontHeight(40);
    marks.Add(std::move(text));
    const std::vector<uint8_t> block = marks.SaveToBuffer();  // written at 96 dpi

    struct Case {
        int readDpi, height;
    } cases[] = {{96, 40}, {120, 32}, {72, 53}};  // 40 * 96 / 72 = 53.33
    for (const Case& c : cases) {
        KVScreenDpiY = c.readDpi;
        TKVImagingAnnot back;
        ASSERT_TRUE(back.LoadFromBuffer(block.data(), int64_t(block.size())));
        EXPECT_EQ(back.Objects(0).FontHeight(), c.height) << c.readDpi;
    }
    KVScreenDpiY = 96;
}

TEST(KVImagingAnnot, HandMadeBlocks) {
    // Integer mode 0 puts 4 more bytes after each size; unknown records are skipped by their size;
    // a mark of type 0 adds nothing; a creation scale of 0 keeps the height.
    std::vector<uint8_t> text(16, 0);
    text.insert(text.end(), {'h', 'i', 0});
    Block block;
    block.Int(0).Int(0)
        .Named(2, "OiGroup", {'0', 0}, true)
        .Int(9).Int(3).Bytes({1, 2, 3})
        .MarkRecord(0)
        .Named(6, "OiIndex", {'0', 0}, true)
        .MarkRecord(9)
        .Named(6, "OiAnText", text, true)
        .Named(6, "OiAnText", text, true);  // a later block of a name replaces the earlier one
    TKVImagingAnnot annot;
    ASSERT_TRUE(annot.LoadFromBuffer(block.bytes.data(), int64_t(block.bytes.size())));
    ASSERT_EQ(annot.Count(), 1);
    EXPECT_EQ(annot.Objects(0).MarkType(), 9);
    EXPECT_EQ(annot.Objects(0).Text, "hi");
    EXPECT_EQ(annot.Objects(0).FontHeight(), 0);

    EXPECT_TRUE(TKVImagingAnnot().SaveToBuffer().empty());
    EXPECT_TRUE(annot.LoadFromBuffer(nullptr, 0));
    EXPECT_EQ(annot.Count(), 1);
}

TEST(KVImagingAnnot, DamagedBlocksAreRefused) {
    TKVImagingAnnot marks = SampleAnnotations();
    const std::vector<uint8_t> good = marks.SaveToBuffer();

    // A cut inside a record is refused and leaves the list as it was; a cut between records is a
    // shorter block.
    int refusedCuts = 0;
    for (size_t cut = 1; cut < good.size(); ++cut) {
        std::vector<uint8_t> part(good.begin(), good.begin() + long(cut));
        TKVImagingAnnot target;
        target.Add(Mark(12));
        if (target.LoadFromBuffer(part.data(), int64_t(part.size()))) {
            ASSERT_LE(target.Count(), 1 + marks.Count()) << cut;
        } else {
            ++refusedCuts;
            ASSERT_EQ(target.Count(), 1) << cut;
        }
    }
    EXPECT_GT(refusedCuts, int(good.size()) * 9 / 10);

    auto refused = [](const Block& block) {
        TKVImagingAnnot annot;
        const bool ok = annot.LoadFromBuffer(block.bytes.data(), int64_t(block.bytes.size()));
        return !ok && annot.Count() == 0;
    };
    std::vector<uint8_t> manyPoints = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0, 2, 0, 0, 0};
    std::vector<uint8_t> notADib(60, 0);
    notADib[0] = 40;
    notADib[14] = 24;
    notADib[4] = 0xFF;  // width 255 with no rows behind the header
    struct Case {
        const char* name;
        Block block;
    } cases[] = {
        {"header only half there", Block().Int(0)},
        {"named block longer than the block", Block().Int(0).Int(1).Int(6).Int(12).Bytes(std::vector<uint8_t>(8, 'A')).Int(1000)},
        {"point count beyond its block", Block().Int(0).Int(1).MarkRecord(3).Named(6, "OiAnoDat", manyPoints)},
        {"text block shorter than its header", Block().Int(0).Int(1).MarkRecord(7).Named(6, "OiAnText", {0, 0, 0})},
        {"image that is no picture", Block().Int(0).Int(1).MarkRecord(1).Named(6, "OiDIB", notADib)},
        {"unknown record longer than the block", Block().Int(0).Int(1).Int(9).Int(100).Int(0)},
        {"mark attributes cut short", Block().Int(0).Int(1).Int(5).Int(164).Int(1)},
    };
    for (const Case& c : cases) EXPECT_TRUE(refused(c.block)) << c.name;
}

// Found by fuzzing: eight image marks in a small block, each within the limits on its own,
// together decoding far more than the block could hold.
TEST(KVImagingAnnot, ImagesOfOneBlockAreBoundedTogether) {
    TPictureLimits limits;
    limits.freeBytes = 30000;  // one 100 x 100 picture of 24 bits
    limits.maxDecodeRatio = 10;
    TPictureLimitsOverride lowered(limits);
    auto blockOfImages = [](int count) {
        Block block;
        block.Int(0).Int(1);
        for (int i = 0; i < count; ++i) block.MarkRecord(1).Named(6, "OiDIB", RunLengthDib(100, 100));
        return block.bytes;
    };
    const std::vector<uint8_t> one = blockOfImages(1), eight = blockOfImages(8);
    TKVImagingAnnot annot;
    ASSERT_TRUE(annot.LoadFromBuffer(one.data(), int64_t(one.size())));
    ASSERT_EQ(annot.Count(), 1);
    EXPECT_EQ(annot.Objects(0).Image->GetWidth(), 100);
    EXPECT_EQ(annot.Objects(0).Image->GetPixelRGB(99, 99), (TKVRGB{255, 255, 255}));
    EXPECT_FALSE(annot.LoadFromBuffer(eight.data(), int64_t(eight.size())));
    EXPECT_EQ(annot.Count(), 1);

    limits = {};
    limits.maxPixels = 10000 + 9999;  // the pixels of two images, save one
    TPictureLimitsOverride fewerPixels(limits);
    const std::vector<uint8_t> two = blockOfImages(2);
    EXPECT_FALSE(annot.LoadFromBuffer(two.data(), int64_t(two.size())));
}

TEST(KVImagingAnnot, AssignMakesDeepCopies) {
    TKVImagingAnnot marks = SampleAnnotations();
    TKVImagingAnnot copy;
    copy.Add(Mark(12));
    copy.Assign(marks);
    ExpectSameMarks(marks, copy);
    EXPECT_NE(copy.Objects(0).Image.get(), marks.Objects(0).Image.get());
    marks.Clear();
    EXPECT_EQ(copy.Count(), 6);
    EXPECT_EQ(copy.Objects(0).Image->GetWidth(), 5);
    EXPECT_THROW(copy.Objects(6), EListError);
}
