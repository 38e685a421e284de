// The source manager's records and containers, the strip copy, and the protocol's states.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "SaneTestDevice.h"
#include "imaging/acquire/KVTWain.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVLists.h"
#include "platform/Twain.h"

namespace {

TEST(TwainFix32, RoundsHalvesAwayFromZero) {
    struct Case { double value; int whole; unsigned frac; };
    for (const Case& c : {Case{1.5, 1, 32768}, Case{-1.5, -2, 32768}, Case{300, 300, 0}, Case{-0.25, -1, 49152},
                          Case{1.0 / 131072, 0, 1}}) {
        const TW_FIX32 fix = TwainToFix32(c.value);
        EXPECT_EQ(fix.Whole, c.whole) << c.value;
        EXPECT_EQ(fix.Frac, c.frac) << c.value;
        EXPECT_DOUBLE_EQ(TwainFromFix32(fix), std::round(c.value * 65536) / 65536) << c.value;
    }
}

TW_HANDLE Block(std::vector<uint8_t> bytes) {
    TW_HANDLE handle = TwainAlloc(0);
    handle->Bytes = std::move(bytes);
    return handle;
}

TEST(TwainContainer, IsReadWithinItsCountAndItsBlock) {
    TTwainValues values;
    // Built containers read back.
    TW_HANDLE enumeration = TwainEnumeration(TWTY_FIX32, {50, 75.5, 100}, 1, 2);
    ASSERT_TRUE(TwainReadContainer(TWON_ENUMERATION, enumeration, values));
    EXPECT_EQ(values.Items, (std::vector<double>{50, 75.5, 100}));
    EXPECT_TRUE(values.HasCurrent);
    EXPECT_EQ(values.Current, 75.5);
    EXPECT_EQ(values.Default, 100);

    // A count beyond the block, a block cut short, an unknown item or container type: refused.
    TW_HANDLE overlong = TwainEnumeration(TWTY_UINT16, {1, 2}, 0, 0);
    const TW_UINT32 tooMany = 1000;
    std::memcpy(&overlong->Bytes[offsetof(TW_ENUMERATION_HEADER, NumItems)], &tooMany, 4);
    EXPECT_FALSE(TwainReadContainer(TWON_ENUMERATION, overlong, values));
    TW_HANDLE range = TwainRange(TWTY_UINT16, 1, 9, 1, 5, 5);
    range->Bytes.resize(sizeof(TW_RANGE) - 1);
    EXPECT_FALSE(TwainReadContainer(TWON_RANGE, range, values));
    TW_HANDLE oddType = TwainOneValue(TWTY_STR255, 0);
    EXPECT_FALSE(TwainReadContainer(TWON_ONEVALUE, oddType, values));
    EXPECT_FALSE(TwainReadContainer(9, enumeration, values));
    EXPECT_FALSE(TwainReadContainer(TWON_ARRAY, nullptr, values));
    TW_HANDLE empty = Block({});
    EXPECT_FALSE(TwainReadContainer(TWON_ARRAY, empty, values));

    // A current index outside the items gives no current value.
    TW_HANDLE lost = TwainEnumeration(TWTY_UINT16, {1, 2}, 2, 0);
    ASSERT_TRUE(TwainReadContainer(TWON_ENUMERATION, lost, values));
    EXPECT_FALSE(values.HasCurrent);
    EXPECT_EQ(values.Items.size(), 2u);

    TW_HANDLE one = TwainOneValue(TWTY_BOOL, 7);
    ASSERT_TRUE(TwainReadContainer(TWON_ONEVALUE, one, values));
    EXPECT_EQ(values.Current, 1);
    for (TW_HANDLE h : {enumeration, overlong, range, oddType, empty, lost, one}) TwainFree(h);
}

TEST(TwainContainer, BecomesTheValueListItHolds) {
    struct Case {
        const char* what;
        TW_UINT16 cap, conType;
        TW_HANDLE container;
        std::vector<double> items;
        bool hasCurrent;
        double current, min, max, step;
    };
    const Case cases[] = {
        {"a single negative resolution", ICAP_XRESOLUTION, TWON_ONEVALUE, TwainOneValue(TWTY_FIX32, -5), {300}, true, 300, 0, 0, 0},
        {"a single negative vertical one", ICAP_YRESOLUTION, TWON_ONEVALUE, TwainOneValue(TWTY_FIX32, -1), {300}, true, 300, 0, 0, 0},
        {"a negative contrast", ICAP_CONTRAST, TWON_ONEVALUE, TwainOneValue(TWTY_FIX32, -5), {-5}, true, -5, 0, 0, 0},
        {"a list of resolutions", ICAP_XRESOLUTION, TWON_ENUMERATION, TwainEnumeration(TWTY_FIX32, {-100, 150.5}, 1, 0),
         {-100, 150.5}, true, 150.5, 0, 0, 0},
        {"a range", ICAP_XRESOLUTION, TWON_RANGE, TwainRange(TWTY_FIX32, 50, 1200, 0.5, 300, 600), {}, true, 600, 50, 1200, 0.5},
        {"an array", ICAP_XRESOLUTION, TWON_ARRAY, Block({TWTY_FIX32, 0, 2, 0, 0, 0, 75, 0, 0, 0, 150, 0, 0, 0}), {75, 150}, false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        TKVDoubleList list;
        list.Add(1234);
        ASSERT_TRUE(KVTW_ContainerToList(c.cap, c.conType, c.container, list)) << c.what;
        std::vector<double> items;
        for (int i = 0; i < list.Count(); ++i) items.push_back(list.GetItem(i));
        EXPECT_EQ(items, c.items) << c.what;
        if (c.hasCurrent) EXPECT_EQ(list.CurrentValue(), c.current) << c.what;
        EXPECT_EQ((list.ChangeFlags() & kvlCurrentChanged) != 0, c.hasCurrent) << c.what;
        EXPECT_EQ(list.RangeMin(), c.min) << c.what;
        EXPECT_EQ(list.RangeMax(), c.max) << c.what;
        EXPECT_EQ(list.RangeStep(), c.step) << c.what;
        TwainFree(c.container);
    }
    // A container that cannot be read leaves the list as it was.
    TKVIntegerList types;
    types.Add(2);
    TW_HANDLE text = TwainOneText("RGB");
    EXPECT_FALSE(KVTW_ContainerToList(ICAP_PIXELTYPE, TWON_ONEVALUE, text, types));
    EXPECT_EQ(types.Count(), 1);
    TwainFree(text);
}

TEST(TwainContainer, CarriesATextAfterItsItemType) {
    for (const std::string& text : {std::string(), std::string("Page 1"), std::string(300, 'x')}) {
        TW_HANDLE container = TwainOneText(text);
        EXPECT_EQ(container->Bytes.size(), 258u);
        EXPECT_EQ(TwainReadText(container), text.substr(0, 255));
        TwainFree(container);
    }
    // A block without a zero ends the text at its end; one without room for the item type has none.
    TW_HANDLE unended = Block({12, 0, 'a', 'b'});
    EXPECT_EQ(TwainReadText(unended), "ab");
    TW_HANDLE cut = Block({12});
    EXPECT_EQ(TwainReadText(cut), "");
    EXPECT_EQ(TwainReadText(nullptr), "");
    TwainFree(unended);
    TwainFree(cut);
}

TEST(TwainCopyBuffer, StaysInsideTheBitmapAndTheStrip) {
    // A 4 x 2 bitmap receives a strip of 6 columns and 3 rows starting at column 1: columns past
    // the width and rows past the height are cut.
    TKVBitmap bitmap;
    bitmap.Allocate(4, 2, kv24RGB);
    bitmap.Fill(0);
    std::vector<uint8_t> strip(6 * 3 * 3);
    for (size_t i = 0; i < strip.size(); ++i) strip[i] = static_cast<uint8_t>(i + 1);
    TW_IMAGEMEMXFER record{0, 18, 6, 3, 1, 0, 54, {TWMF_APPOWNS, 54, strip.data()}};
    KVTW_CopyBuffer(record, strip.size(), 24, false, bitmap);
    const uint8_t* row1 = bitmap.GetScanline(1);
    EXPECT_EQ(row1[0], 0);
    // Column 1 of row 1 is the strip's first pixel of its second row, red and blue exchanged.
    EXPECT_EQ(row1[3], strip[18 + 2]);
    EXPECT_EQ(row1[5], strip[18 + 0]);
    EXPECT_EQ(bitmap.GetScanline(0)[9], strip[2 * 3 + 2]);

    // A strip that claims more rows than its buffer holds is copied only as far as the buffer.
    bitmap.Fill(0);
    TW_IMAGEMEMXFER claims{0, 18, 6, 3, 0, 0, 54, {TWMF_APPOWNS, 18, strip.data()}};
    KVTW_CopyBuffer(claims, 18, 24, false, bitmap);
    EXPECT_NE(bitmap.GetScanline(0)[2], 0);
    EXPECT_EQ(bitmap.GetScanline(1)[2], 0);

    // 1-bit rows keep the neighbouring bits, 48-bit samples give their high bytes.
    TKVBitmap bits;
    bits.Allocate(12, 1, kv1Bit);
    bits.GetScanline(0)[0] = 0x81;
    uint8_t ones[2] = {0xFF, 0xFF};
    TW_IMAGEMEMXFER bitStrip{0, 2, 3, 1, 2, 0, 2, {TWMF_APPOWNS, 2, ones}};
    KVTW_CopyBuffer(bitStrip, 2, 1, false, bits);
    EXPECT_EQ(bits.GetScanline(0)[0], 0xB9);
    TKVBitmap deep;
    deep.Allocate(1, 1, kv24RGB);
    uint8_t rgb48[6] = {0x11, 0xAA, 0x22, 0xBB, 0x33, 0xCC};
    TW_IMAGEMEMXFER deepStrip{0, 6, 1, 1, 0, 0, 6, {TWMF_APPOWNS, 6, rgb48}};
    KVTW_CopyBuffer(deepStrip, 6, 48, false, deep);
    EXPECT_EQ(deep.GetScanline(0)[0], 0xCC);
    EXPECT_EQ(deep.GetScanline(0)[2], 0xAA);
}

TEST(TwainConditionText, NamesKnownAndUnknownCodes) {
    EXPECT_EQ(KVTW_ConditionText(3), "Source Manager unable to find the specified Source.");
    EXPECT_EQ(KVTW_ConditionText(21), "Transfer failed because of a feeder error");
    EXPECT_EQ(KVTW_ConditionText(7), "Unknown Condition 7");
    EXPECT_EQ(KVTW_ConditionText(65535), "Unknown Condition 65535");
}

struct Protocol {
    TW_IDENTITY app{};
    TW_UINT16 Mgr(TW_UINT16 dat, TW_UINT16 msg, void* data) { return DSM_Entry(&app, nullptr, DG_CONTROL, dat, msg, data); }
    TW_UINT16 DS(TW_IDENTITY& source, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return DSM_Entry(&app, &source, dg, dat, msg, data);
    }
    TW_UINT16 Condition(TW_IDENTITY* source) {
        TW_STATUS status{};
        DSM_Entry(&app, source, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        return status.ConditionCode;
    }
};

TEST(TwainStates, OperationsOutOfTurnAreRefused) {
    TSaneTestDevice device;
    Protocol p;
    TW_IDENTITY source{};
    EXPECT_EQ(p.Mgr(DAT_IDENTITY, MSG_OPENDS, &source), TWRC_FAILURE);
    EXPECT_EQ(p.Condition(nullptr), TWCC_SEQERROR);
    ASSERT_EQ(p.Mgr(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    EXPECT_EQ(p.Mgr(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_FAILURE);
    ASSERT_EQ(p.Mgr(DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
    EXPECT_EQ(std::string(source.ProductName), "test:0");

    // No image before enabling; no closing of the manager with a source open.
    TW_IMAGEINFO info{};
    EXPECT_EQ(p.DS(source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
    EXPECT_EQ(p.Condition(&source), TWCC_SEQERROR);
    EXPECT_EQ(p.Mgr(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_FAILURE);

    // A capability the device lacks answers as unsupported.
    TW_CAPABILITY gamma{ICAP_GAMMA, TWON_DONTCARE16, nullptr};
    EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &gamma), TWRC_FAILURE);
    EXPECT_EQ(p.Condition(&source), TWCC_CAPUNSUPPORTED);

    TW_USERINTERFACE ui{0, 1, nullptr};
    ASSERT_EQ(p.DS(source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    // Settings are fixed once the source is enabled.
    TW_CAPABILITY resolution{ICAP_XRESOLUTION, TWON_ONEVALUE, TwainOneValue(TWTY_FIX32, 100)};
    EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &resolution), TWRC_FAILURE);
    EXPECT_EQ(p.Condition(&source), TWCC_SEQERROR);
    TwainFree(resolution.hContainer);
    TW_EVENT event{nullptr, MSG_NULL};
    ASSERT_EQ(p.DS(source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    EXPECT_EQ(event.TWMessage, MSG_XFERREADY);
    ASSERT_EQ(p.DS(source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(info.BitsPerPixel, 8);
    EXPECT_EQ(info.ImageWidth, 78);  // 40 mm at 50 dots per inch, cut to whole pixels
    // A native transfer asked for while the memory mechanism is not chosen is done natively.
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(p.DS(source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
    ASSERT_NE(dib, nullptr);
    EXPECT_GT(dib->Bytes.size(), 40u + 1024u);
    TwainFree(dib);
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(p.DS(source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
    EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(p.Mgr(DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    EXPECT_EQ(p.Mgr(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
}

TEST(TwainStates, TheFeederStartsASheetOnlyForPagesStillWanted) {
    TSaneTestDevice device;
    for (int wanted : {1, -1}) {
        Protocol p;
        TW_IDENTITY source{};
        ASSERT_EQ(p.Mgr(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
        ASSERT_EQ(p.Mgr(DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
        for (auto [cap, type, value] : {std::tuple{CAP_FEEDERENABLED, TWTY_BOOL, 1}, std::tuple{CAP_XFERCOUNT, TWTY_INT16, wanted}}) {
            TW_CAPABILITY set{cap, TWON_ONEVALUE, TwainOneValue(type, value)};
            EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &set), TWRC_SUCCESS);
            TwainFree(set.hContainer);
        }
        TW_USERINTERFACE ui{0, 1, nullptr};
        ASSERT_EQ(p.DS(source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        TW_EVENT event{nullptr, MSG_NULL};
        ASSERT_EQ(p.DS(source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
        TW_HANDLE dib = nullptr;
        ASSERT_EQ(p.DS(source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
        TwainFree(dib);
        TW_PENDINGXFERS pending{};
        ASSERT_EQ(p.DS(source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
        EXPECT_EQ(pending.Count, wanted == 1 ? 0 : 0xFFFF) << wanted;
        if (pending.Count != 0) EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
        EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
        EXPECT_EQ(p.Mgr(DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
        EXPECT_EQ(p.Mgr(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
    }
}

TEST(TwainSource, KeepsTheCaptionTheApplicationGives) {
    TSaneTestDevice device;
    Protocol p;
    TW_IDENTITY source{};
    ASSERT_EQ(p.Mgr(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    ASSERT_EQ(p.Mgr(DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
    auto caption = [&] {
        TW_CAPABILITY get{CAP_CAPTION, TWON_DONTCARE16, nullptr};
        EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &get), TWRC_SUCCESS);
        const std::string text = TwainReadText(get.hContainer);
        TwainFree(get.hContainer);
        return text;
    };
    // The device's maker and model, as scanimage -L names them, until another is set.
    EXPECT_NE(device.Scanimage("-L").find("is a " + caption() + " virtual device"), std::string::npos) << caption();
    TW_CAPABILITY set{CAP_CAPTION, TWON_ONEVALUE, TwainOneText("Invoice 17")};
    EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &set), TWRC_SUCCESS);
    TwainFree(set.hContainer);
    EXPECT_EQ(caption(), "Invoice 17");
    TW_CAPABILITY number{CAP_CAPTION, TWON_ONEVALUE, TwainOneValue(TWTY_UINT16, 17)};
    EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &number), TWRC_FAILURE);
    EXPECT_EQ(p.Condition(&source), TWCC_BADVALUE);
    TwainFree(number.hContainer);
    EXPECT_EQ(caption(), "Invoice 17");
    EXPECT_EQ(p.Mgr(DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    EXPECT_EQ(p.Mgr(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
}

TEST(TwainSource, SendsAPageOfThreeColourFramesWholeAndPlanar) {
    TSaneTestDevice device(TSaneSettings{{"mode", "Color"}, {"three-pass", "true"}});
    Protocol p;
    TW_IDENTITY source{};
    ASSERT_EQ(p.Mgr(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    ASSERT_EQ(p.Mgr(DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
    auto values = [&](TW_UINT16 cap) {
        TW_CAPABILITY get{cap, TWON_DONTCARE16, nullptr};
        TTwainValues read;
        EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &get), TWRC_SUCCESS);
        EXPECT_TRUE(TwainReadContainer(get.ConType, get.hContainer, read));
        TwainFree(get.hContainer);
        return read;
    };
    // No strips: the page comes whole, natively or as a file.
    EXPECT_EQ(values(ICAP_XFERMECH).Items, (std::vector<double>{TWSX_NATIVE, TWSX_FILE}));
    EXPECT_EQ(values(ICAP_PLANARCHUNKY).Current, TWPC_PLANAR);
    for (auto [cap, value] : {std::pair{ICAP_XFERMECH, TWSX_MEMORY}, std::pair{ICAP_PLANARCHUNKY, TWPC_CHUNKY}}) {
        TW_CAPABILITY set{cap, TWON_ONEVALUE, TwainOneValue(TWTY_UINT16, value)};
        EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &set), TWRC_FAILURE) << cap;
        TwainFree(set.hContainer);
    }
    TW_USERINTERFACE ui{0, 1, nullptr};
    ASSERT_EQ(p.DS(source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    TW_EVENT event{nullptr, MSG_NULL};
    ASSERT_EQ(p.DS(source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    TW_IMAGEINFO info{};
    ASSERT_EQ(p.DS(source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_TRUE(info.Planar);
    EXPECT_EQ(info.BitsPerPixel, 24);
    EXPECT_EQ(info.PixelType, TWPT_RGB);
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(p.DS(source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
    TwainFree(dib);
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(p.DS(source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(p.Mgr(DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    EXPECT_EQ(p.Mgr(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
}

}  // namespace
