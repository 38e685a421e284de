#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include "QtTestApplication.h"
#include "imaging/view/KVWindowHelpers.h"

namespace {

class KVWindowHelpersTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureTestApplication<QApplication>(); }
};

}  // namespace

TEST_F(KVWindowHelpersTest, OwnerWindowIsTheNearestWidgetUpTheParentChain) {
    QWidget form;
    auto* panel = new QWidget(&form);
    auto* component = new QObject(panel);
    auto* inner = new QObject(component);
    EXPECT_EQ(KVFindOwnerWindow(inner), panel);
    EXPECT_EQ(KVFindOwnerWindow(&form), &form);
    QObject loose;
    EXPECT_EQ(KVFindOwnerWindow(&loose), nullptr);
    EXPECT_EQ(KVFindOwnerWindow(nullptr), nullptr);
}

TEST_F(KVWindowHelpersTest, PlaceDialogCentresAcrossAndAThirdDownUnlessHooked) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QWidget dialog;
    dialog.resize(200, 90);
    KVPlaceDialog(&dialog);
    EXPECT_EQ(dialog.pos(), QPoint(screen.left() + (screen.width() - 200) / 2, screen.top() + (screen.height() - 90) / 3));
    EXPECT_EQ(dialog.size(), QSize(200, 90));

    QWidget* placed = nullptr;
    KVPlaceDialogHook = [&](QWidget* window) { placed = window; };
    QWidget other;
    other.move(7, 8);
    KVPlaceDialog(&other);
    KVPlaceDialogHook = nullptr;
    EXPECT_EQ(placed, &other);
    EXPECT_EQ(other.pos(), QPoint(7, 8));
}

TEST_F(KVWindowHelpersTest, ScrollBarCallsSetAScrollBarQuietlyAndFlatChangesNothing) {
    for (const bool flat : {false, true}) {
        SCOPED_TRACE(flat);
        QScrollBar bar(Qt::Horizontal);
        int reported = 0;
        QObject::connect(&bar, &QScrollBar::valueChanged, [&] { ++reported; });

        EXPECT_TRUE(KVSetScrollRange(&bar, SB_CTL, 0, 65535, flat));
        EXPECT_EQ(bar.maximum(), 65535);
        EXPECT_EQ(KVSetScrollPage(&bar, SB_CTL, 1000, flat), 0);
        EXPECT_EQ(bar.pageStep(), 1000);
        EXPECT_EQ(bar.maximum(), 65535 - 999);  // the last position shows the range's last page
        EXPECT_EQ(KVSetScrollPos(&bar, SB_CTL, 300, flat), 0);
        EXPECT_EQ(KVSetScrollPos(&bar, SB_CTL, 70000, flat), 300);
        EXPECT_EQ(bar.value(), 65535 - 999);
        EXPECT_TRUE(KVSetScrollRange(&bar, SB_CTL, 0, 2000, flat));  // the page stays
        EXPECT_EQ(bar.maximum(), 1001);
        EXPECT_EQ(bar.value(), 1001);
        EXPECT_EQ(reported, 0);

        EXPECT_TRUE(KVEnableScrollBar(&bar, SB_CTL, ESB_DISABLE_BOTH, flat));
        EXPECT_FALSE(bar.isEnabled());
        EXPECT_TRUE(KVEnableScrollBar(&bar, SB_CTL, ESB_DISABLE_LTUP, flat));
        EXPECT_TRUE(bar.isEnabled());
        EXPECT_TRUE(KVShowScrollBar(&bar, SB_CTL, false, flat));
        EXPECT_TRUE(bar.isHidden());
        EXPECT_TRUE(KVShowScrollBar(&bar, SB_CTL, true, flat));
        EXPECT_FALSE(bar.isHidden());

        // A scroll bar has no bars of its own.
        EXPECT_FALSE(KVSetScrollRange(&bar, SB_HORZ, 0, 10, flat));
        EXPECT_EQ(KVSetScrollPos(&bar, SB_VERT, 5, flat), 0);
        EXPECT_FALSE(KVShowScrollBar(&bar, SB_BOTH, false, flat));
    }
}

TEST_F(KVWindowHelpersTest, ScrollBarCallsReachTheBarsOfAScrollArea) {
    QScrollArea area;
    TScrollInfo info;
    info.Mask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.Max = 99;
    info.Page = 10;
    info.Pos = 95;
    EXPECT_EQ(KVSetScrollInfo(&area, SB_VERT, info, false), 90);
    EXPECT_EQ(area.verticalScrollBar()->maximum(), 90);
    EXPECT_EQ(area.verticalScrollBar()->pageStep(), 10);
    EXPECT_EQ(area.horizontalScrollBar()->pageStep(), QScrollBar().pageStep());  // untouched

    EXPECT_TRUE(KVShowScrollBar(&area, SB_BOTH, false, false));
    EXPECT_EQ(area.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(area.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_TRUE(KVShowScrollBar(&area, SB_HORZ, true, true));
    EXPECT_EQ(area.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(KVEnableScrollBar(&area, SB_BOTH, ESB_DISABLE_BOTH, false));
    EXPECT_FALSE(area.verticalScrollBar()->isEnabled());
    EXPECT_FALSE(area.horizontalScrollBar()->isEnabled());
    EXPECT_FALSE(KVSetScrollRange(&area, SB_CTL, 0, 10, false));
}
