#include <cmath>
#include <cstdio>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "pdf/PdfKalmora.h"
#include "platform/Graphics.h"

namespace {

class BookLayoutTest : public testing::Test {
protected:
    BookLayoutTest() { converter.Pdf().SetFileName(folder.Path("layout.pdf")); }
    // Lays the book out and abandons the document it opened.
    void Layout() {
        converter.BeginBook();
        converter.Pdf().Abort();
    }

    TPrivateEnvironment environment;
    TScratchFolder folder;
    THeadlessHost host;
    TConverter converter{host};
};

TEST_F(BookLayoutTest, TheWorkedExampleOfFourPerPageOnA4) {
    converter.PaperSizeName = "A4";
    converter.PicsPerPage = 4;
    Layout();
    EXPECT_EQ(converter.Columns, 2);
    EXPECT_EQ(converter.Rows, 2);
    EXPECT_EQ(converter.CellWidth, 950);
    EXPECT_EQ(converter.CellHeight, 1385);
    EXPECT_EQ(converter.HorzGap, 48);  // 47.5 rounds to even
    EXPECT_EQ(converter.VertGap, 69);
    EXPECT_EQ(converter.GetCellRect(0), Rect(148, 169, 1002, 1416));
    EXPECT_EQ(converter.GetCellRect(3), Rect(1098, 1554, 1952, 2801));
    EXPECT_GT(converter.NameCaptionHeight, 0);
    EXPECT_EQ(converter.NameCaptionHeight, converter.DateCaptionHeight);
}

// A caption font the settings accept may still be too large for a cell: the book is refused
// before a page is drawn, rather than its pictures placed outside their cells.
TEST_F(BookLayoutTest, CaptionsMustLeaveThePictureRoomInItsCell) {
    converter.PaperSizeName = "A4";
    const struct {
        int points, perPage;
        TCaptionPos names, dates;
        bool refused;
    } cases[] = {
        {72, 24, cpUnder, cpHidden, true},  {72, 1, cpUnder, cpHidden, false}, {72, 24, cpHidden, cpHidden, false},
        {36, 24, cpUnder, cpHidden, false}, {36, 24, cpUnder, cpAbove, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.points) + " points, " + std::to_string(c.perPage) + " per page");
        converter.PicNamesFont.Size = converter.PicDatesFont.Size = c.points;
        converter.PicsPerPage = static_cast<uint8_t>(c.perPage);
        converter.PicNamesPos = c.names;
        converter.PicDatesPos = c.dates;
        const std::string message = MessageOf([&] { Layout(); });
        EXPECT_EQ(message.starts_with("The captions leave no room for the pictures"), c.refused) << message;
        converter.Pdf().Abort();
    }
}

struct TGridCase {
    int perPage;
    TBookOrientation orientation;
    int columns, rows;
};

TEST_F(BookLayoutTest, EveryGridInBothOrientationsTilesThePageInsideTheMargins) {
    const TGridCase cases[] = {
        {1, boPortrait, 1, 1},  {1, boLandscape, 1, 1},  {2, boPortrait, 1, 2},  {2, boLandscape, 2, 1},
        {4, boPortrait, 2, 2},  {4, boLandscape, 2, 2},  {6, boPortrait, 2, 3},  {6, boLandscape, 3, 2},
        {8, boPortrait, 2, 4},  {8, boLandscape, 4, 2},  {12, boPortrait, 3, 4}, {12, boLandscape, 4, 3},
        {24, boPortrait, 4, 6}, {24, boLandscape, 6, 4},
    };
    converter.PaperSizeName = "A4";
    converter.LeftMargin = 150;
    converter.RightMargin = 50;
    converter.TopMargin = 200;
    converter.BottomMargin = 100;
    for (const TGridCase& test : cases) {
        SCOPED_TRACE(std::to_string(test.perPage) + (test.orientation == boPortrait ? " portrait" : " landscape"));
        converter.PicsPerPage = static_cast<uint8_t>(test.perPage);
        converter.Orientation = test.orientation;
        Layout();
        const int pageWidth = test.orientation == boPortrait ? 2100 : 2970;
        const int pageHeight = test.orientation == boPortrait ? 2970 : 2100;
        ASSERT_EQ(converter.Columns, test.columns);
        ASSERT_EQ(converter.Rows, test.rows);
        EXPECT_EQ(converter.HorzGap, test.columns == 1 ? 0 : static_cast<int>(std::nearbyint(converter.CellWidth / 20.0)));
        EXPECT_EQ(converter.VertGap, test.rows == 1 ? 0 : static_cast<int>(std::nearbyint(converter.CellHeight / 20.0)));
        // Row by row from the top left; the last cell ends at the margins within rounding.
        const TRect first = converter.GetCellRect(0);
        EXPECT_EQ(first.Left, 150 + converter.HorzGap);
        EXPECT_EQ(first.Top, 200 + converter.VertGap);
        if (test.columns > 1) {
            EXPECT_EQ(converter.GetCellRect(1).Top, first.Top);
        }
        const TRect last = converter.GetCellRect(test.perPage - 1);
        EXPECT_NEAR(last.Right + converter.HorzGap, pageWidth - 50, test.columns);
        EXPECT_NEAR(last.Bottom + converter.VertGap, pageHeight - 100, test.rows);
        EXPECT_EQ(last.Width(), first.Width());
        EXPECT_EQ(last.Height(), first.Height());
    }
}

TEST_F(BookLayoutTest, BadPicturesPerPageIsAnInternalError) {
    converter.PicsPerPage = 3;
    EXPECT_TRUE(MessageOf([&] { converter.BeginBook(); }).starts_with("Internal error : TConverter.CellRect"));
    EXPECT_FALSE(converter.Pdf().Printing());
}

TEST_F(BookLayoutTest, MarginsAreCheckedAgainstTheBooksOwnPaperAndOrientation) {
    // The writer's page is still the size of an earlier small Single document.
    converter.Pdf().SetPageWidth(300);
    converter.Pdf().SetPageHeight(300);
    converter.PaperSizeName = "A4";
    EXPECT_EQ(MessageOf([&] { converter.CheckBookMargins(); }), "(no exception)");

    struct TMarginCase {
        TBookOrientation orientation;
        int left, right, top, bottom;
        bool valid;
    };
    const TMarginCase cases[] = {
        {boPortrait, 1000, 1099, 100, 100, true},   {boPortrait, 1000, 1100, 100, 100, false},
        {boPortrait, 100, 100, 1500, 1469, true},   {boPortrait, 100, 100, 1500, 1470, false},
        {boLandscape, 1500, 1469, 100, 100, true},  {boLandscape, 100, 100, 1000, 1100, false},
    };
    for (const TMarginCase& test : cases) {
        converter.Orientation = test.orientation;
        converter.LeftMargin = test.left;
        converter.RightMargin = test.right;
        converter.TopMargin = test.top;
        converter.BottomMargin = test.bottom;
        EXPECT_EQ(MessageOf([&] { converter.CheckBookMargins(); }),
                  test.valid ? "(no exception)" : "Invalid book margins")
            << test.left << " " << test.right << " " << test.top << " " << test.bottom;
    }
}

// The page of a book on a custom paper, as poppler reads it back; the sides are given upright and
// turned by the orientation, and must lie within 3 to 14,400 points.
TEST_F(BookLayoutTest, ACustomPaperIsTheBooksPageWithinThePageLimits) {
    struct TPaperCase {
        int width, height;
        TBookOrientation orientation;
        double pointsWide, pointsHigh;  // 72 points to 254 tenths of a millimetre
    } cases[] = {
        {1000, 2540, boPortrait, 283.46, 720},
        {1000, 2540, boLandscape, 720, 283.46},
        {MaxPaperSide, MaxPaperSide, boPortrait, 14400, 14400},
        {500, MinPaperSide, boPortrait, 141.73, 3.12},
    };
    converter.PaperSizeName = CustomPaperName;
    converter.LeftMargin = converter.RightMargin = converter.TopMargin = converter.BottomMargin = 1;
    // No caption fits a page 1.1 mm high beside its picture.
    converter.PicNamesPos = cpHidden;
    for (const TPaperCase& test : cases) {
        SCOPED_TRACE(std::to_string(test.width) + " x " + std::to_string(test.height));
        converter.CustomPaperWidth = test.width;
        converter.CustomPaperHeight = test.height;
        converter.Orientation = test.orientation;
        converter.BeginBook();
        converter.Pdf().EndDoc();
        const std::string info = RunTool("pdfinfo " + Quoted(folder.Path("layout.pdf"))).output;
        double wide = 0, high = 0;
        const size_t at = info.find("Page size:");
        ASSERT_NE(at, std::string::npos) << info;
        ASSERT_EQ(std::sscanf(info.c_str() + at, "Page size: %lf x %lf", &wide, &high), 2) << info;
        EXPECT_NEAR(wide, test.pointsWide, 0.5);
        EXPECT_NEAR(high, test.pointsHigh, 0.5);
    }
    for (const auto& [width, height] : {std::pair{MinPaperSide - 1, 2000}, std::pair{2000, MaxPaperSide + 1}}) {
        converter.CustomPaperWidth = width;
        converter.CustomPaperHeight = height;
        EXPECT_NE(MessageOf([&] { converter.BeginBook(); }), "(no exception)") << width << " x " << height;
        EXPECT_FALSE(converter.Pdf().Printing());
    }
}

TEST_F(BookLayoutTest, LengthsForDisplay) {
    converter.Metric = true;
    EXPECT_DOUBLE_EQ(converter.TenthsToDisplay(254), 2.54);
    EXPECT_EQ(converter.DisplayToTenths(2.545), 254);  // 254.5 rounds to even
    EXPECT_EQ(converter.GetLengthFormat(), "0.0");
    EXPECT_DOUBLE_EQ(converter.InchesToDisplay(1), 2.54);
    converter.Metric = false;
    EXPECT_DOUBLE_EQ(converter.TenthsToDisplay(254), 1);
    EXPECT_EQ(converter.DisplayToTenths(1), 254);
    EXPECT_EQ(converter.GetLengthFormat(), "0.00");
    EXPECT_DOUBLE_EQ(converter.InchesToDisplay(1), 1);
}

}  // namespace
