#include "imaging/view/KVPaletteDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include "DialogTestSupport.h"

namespace {

struct TPaletteDialog : ::testing::Test {
    TPaletteDialog() {
        for (int i = 0; i < 256; ++i) {
            palette[i * 3] = static_cast<uint8_t>(i);        // blue
            palette[i * 3 + 1] = 0x40;                        // green
            palette[i * 3 + 2] = static_cast<uint8_t>(255 - i);  // red
        }
    }
    TDialogApplication application;
    uint8_t palette[256 * 3];
    TKestovaPaletteDialog dialog;

    void Move(int x, int y) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, y), QPointF(x, y), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &move);
    }
    void Click() {
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(&dialog, &release);
    }
};

TEST_F(TPaletteDialog, FormAndButton) {
    dialog.SetPalette(palette, 256);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Palette");
    EXPECT_EQ(dialog.size(), QSize(520, 199));
    EXPECT_EQ(dialog.CancelButton->text(), "&Cancel");
    EXPECT_EQ(dialog.CancelButton->pos(), QPoint(4, 136));
    Move(17 + 16 * 5, 17 + 16 * 2);
    SaveScreenshot(dialog, "PaletteDialog");
    const QImage shown = dialog.grab().toImage();
    EXPECT_EQ(shown.pixelColor(8, 8), QColor(255, 0x40, 0));          // entry 0 inside its swatch
    EXPECT_EQ(shown.pixelColor(16 * 31 + 8, 8 + 16 * 7), QColor(0, 0x40, 255));  // entry 255
    EXPECT_EQ(shown.pixelColor(16 * 6 + 1, 16 * 3 + 1), QColor(Qt::black));  // the highlighted outline
    EXPECT_EQ(shown.pixelColor(1, 1), QColor(Qt::white));
}

TEST_F(TPaletteDialog, PointerPositionsSelectTheirEntry) {
    struct Case {
        int count, x, y, hover;
    };
    const Case cases[] = {
        {256, 1, 1, 0},     {256, 17, 17, 33},  {256, 0, 0, 0},     {256, 512, 1, 31},
        {256, 513, 1, -1},  // right of the last column: no wrap into the next row
        {256, 1, 128, 224}, {256, 1, 129, -1},  // below the last row: no entry
        {2, 20, 1, 1},      {2, 40, 1, -1},     {256, -5, 3, -1},
    };
    for (const Case& c : cases) {
        TKestovaPaletteDialog fresh;
        fresh.SetPalette(palette, c.count);
        QMouseEvent move(QEvent::MouseMove, QPointF(c.x, c.y), QPointF(c.x, c.y), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&fresh, &move);
        EXPECT_EQ(fresh.HoverIndex, c.hover) << c.count << " " << c.x << "," << c.y;
    }
}

TEST_F(TPaletteDialog, MovingOverTheEmptyAreaKeepsTheHighlight) {
    dialog.SetPalette(palette, 2);
    Move(20, 5);
    Move(200, 5);
    Move(20, 100);
    EXPECT_EQ(dialog.HoverIndex, 1);
}

TEST_F(TPaletteDialog, AClickPicksTheHighlightedColourAndNothingBeforeAHighlight) {
    dialog.SetPalette(palette, 256);
    QTimer::singleShot(0, &dialog, [this] {
        Click();  // nothing highlighted yet: ignored
        EXPECT_TRUE(dialog.isVisible());
        Move(17, 1);
        Click();
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.SelectedColor, 0xFE | 0x40 << 8 | 0x01 << 16);

    QTimer::singleShot(0, &dialog, [this] { dialog.CancelButton->click(); });
    EXPECT_FALSE(dialog.Execute());
}

}  // namespace
