#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "imaging/core/KVMetadata.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

struct SetSpec {
    int record, dataSet;
    std::vector<uint8_t> data;
};

// 23 bytes of data make the Photoshop resource size 28 = 0x1C, the IPTC tag byte.
std::vector<SetSpec> SampleSets() {
    return {{2, 5, Bytes("Harbour at dawn")},
            {2, 25, Bytes("boats")},
            {2, 116, std::vector<uint8_t>(23, 'c')},
            {2, 120, std::vector<uint8_t>(40000, 0x1C)},
            {3, 10, Bytes("x")}};
}

void Fill(TKVIPTCInfoList& list, const std::vector<SetSpec>& sets) {
    for (const SetSpec& s : sets) list.AddDataSet(s.record, s.dataSet, uint32_t(s.data.size()), s.data.data());
}

void ExpectSets(const TKVIPTCInfoList& list, const std::vector<SetSpec>& sets) {
    ASSERT_EQ(list.Count(), int(sets.size()));
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(list.GetRecordNumber(i), sets[size_t(i)].record) << i;
        EXPECT_EQ(list.GetDataSetNumber(i), sets[size_t(i)].dataSet) << i;
        EXPECT_EQ(list.GetData(i), sets[size_t(i)].data) << i;
    }
}

uint32_t BE32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

}  // namespace

TEST(KVIPTCInfoList, BothFormsParseBack) {
    for (bool photoshop : {true, false}) {
        SCOPED_TRACE(photoshop ? "photoshop" : "plain");
        TKVIPTCInfoList list;
        Fill(list, SampleSets());
        const std::vector<uint8_t> block = list.SaveToBuffer(photoshop);
        ASSERT_FALSE(block.empty());
        EXPECT_EQ(block.size() % 2, 0u);

        TKVIPTCInfoList back;
        back.LoadFromBuffer(block.data(), int64_t(block.size()));
        EXPECT_FALSE(back.Modified());
        if (photoshop) {
            ExpectSets(back, SampleSets());
        } else {
            // The plain header is itself data set 2:00 (record version 2).
            std::vector<SetSpec> expected = SampleSets();
            expected.insert(expected.begin(), {2, 0, {0x00, 0x02}});
            ExpectSets(back, expected);
        }
    }
}

TEST(KVIPTCInfoList, LayoutOfTheBlock) {
    TKVIPTCInfoList list;
    const std::vector<uint8_t> big(40000, 'a');
    list.AddDataSet(2, 120, uint32_t(big.size()), big.data());
    list.AddDataSet(2, 5, 3, "abc");
    const std::vector<uint8_t> block = list.SaveToBuffer(true);

    EXPECT_EQ(std::memcmp(block.data(), "Photoshop 3.0\0008BIM\x04\x04\0\0", 22), 0);
    // Extended form, then short form; the padding byte is not counted in the resource size.
    EXPECT_EQ(BE32(block, 22), uint32_t((9 + 40000) + (5 + 3)));
    EXPECT_EQ(block.size(), 26u + 9 + 40000 + 5 + 3 + 1);
    const std::vector<uint8_t> extendedHead = {0x1C, 2, 120, 0x80, 0x04, 0, 0, 0x9C, 0x40};
    EXPECT_TRUE(std::equal(extendedHead.begin(), extendedHead.end(), block.begin() + 26));
    const size_t shortAt = 26 + 9 + 40000;
    const std::vector<uint8_t> shortHead = {0x1C, 2, 5, 0, 3, 'a', 'b', 'c', 0};
    EXPECT_TRUE(std::equal(shortHead.begin(), shortHead.end(), block.begin() + long(shortAt)));
}

TEST(KVIPTCInfoList, RecordVersionAndEmptyDataAreNotWritten) {
    TKVIPTCInfoList list;
    EXPECT_TRUE(list.SaveToBuffer(true).empty());
    EXPECT_TRUE(list.SaveToBuffer(false).empty());

    list.AddDataSet(2, 0, 2, "\0\2");
    list.AddDataSet(2, 5, 0, nullptr);
    EXPECT_EQ(list.SaveToBuffer(true).size(), 26u);
    const std::vector<uint8_t> plain = list.SaveToBuffer(false);
    EXPECT_EQ(plain, (std::vector<uint8_t>{0x1C, 2, 0, 0, 2, 0, 2, 0}));
}

TEST(KVIPTCInfoList, ModifiedFollowsChanges) {
    TKVIPTCInfoList list;
    EXPECT_FALSE(list.Modified());
    list.AddDataSet(2, 5, 1, "a");
    EXPECT_TRUE(list.Modified());
    const std::vector<uint8_t> block = list.SaveToBuffer(false);
    list.LoadFromBuffer(block.data(), int64_t(block.size()));
    EXPECT_FALSE(list.Modified());
    list.Clear();
    EXPECT_TRUE(list.Modified());
    TKVIPTCInfoList other;
    other.Assign(&list);
    EXPECT_TRUE(other.Modified());
    other.Assign(nullptr);
    EXPECT_EQ(other.Count(), 0);
}

TEST(KVIPTCInfoList, OtherResourcesBeforeTheIptcResource) {
    TKVIPTCInfoList list;
    list.AddDataSet(2, 5, 4, "name");
    const std::vector<uint8_t> own = list.SaveToBuffer(true);

    // A resolution resource full of 0x1C bytes and a named resource precede the IPTC one.
    std::vector<uint8_t> block(own.begin(), own.begin() + 14);
    for (int b : std::initializer_list<int>{'8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 3, 0x1C, 0x1C, 0x1C, 0}) block.push_back(uint8_t(b));
    for (int b : std::initializer_list<int>{'8', 'B', 'I', 'M', 0x04, 0x0C, 2, 'a', 'b', 0, 0, 0, 0, 1, 0x1C, 0}) block.push_back(uint8_t(b));
    block.insert(block.end(), own.begin() + 14, own.end());

    TKVIPTCInfoList back;
    back.LoadFromBuffer(block.data(), int64_t(block.size()));
    ExpectSets(back, {{2, 5, Bytes("name")}});
}

TEST(KVIPTCInfoList, DamagedBlocksKeepWhatCameBefore) {
    const std::vector<uint8_t> good = {0x1C, 2, 5, 0, 2, 'h', 'i'};
    auto with = [&](std::vector<uint8_t> tail) {
        std::vector<uint8_t> b = good;
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> block;
        int sets;
    } cases[] = {
        {"length beyond the end", with({0x1C, 2, 6, 0, 9, 'a', 'b'}), 1},
        {"short header cut", with({0x1C, 2, 6, 0}), 1},
        {"extended header cut", with({0x1C, 2, 6, 0x80, 4, 0, 0}), 1},
        {"most negative extended length", with({0x1C, 2, 6, 0x80, 4, 0x80, 0, 0, 0, 'x'}), 1},
        {"huge extended length", with({0x1C, 2, 6, 0x80, 4, 0x7F, 0xFF, 0xFF, 0xFF, 'x'}), 1},
        {"negative extended length taken as its size", with({0x1C, 2, 6, 0x80, 4, 0xFF, 0xFF, 0xFF, 0xFF, 'x'}), 2},
        {"junk after a data set", with({0x00, 0x1C, 2, 6, 0, 1, 'x'}), 1},
        {"junk before the first tag", {0, 1, 2, 0x1C, 2, 5, 0, 2, 'h', 'i'}, 1},
        {"no tag at all", {1, 2, 3, 4, 5, 6, 7, 8}, 0},
        {"photoshop resource larger than the block",
         {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0, '8', 'B', 'I', 'M', 4, 4, 0, 0, 0, 0, 1, 0,
          0x1C, 2, 5, 0, 2, 'h', 'i', 0x1C, 2, 6, 0, 9, 'a'},
         1},
        {"photoshop resource size cut",
         {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0, '8', 'B', 'I', 'M', 4, 4, 0, 0, 0, 0},
         0},
        {"photoshop block without an IPTC resource",
         {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0, '8', 'B', 'I', 'M', 3, 0xED, 0, 0, 0, 0, 0,
          5, 0x1C, 2, 5, 0, 0, 0},
         0},
    };
    for (const Case& c : cases) {
        TKVIPTCInfoList list;
        list.LoadFromBuffer(c.block.data(), int64_t(c.block.size()));
        EXPECT_EQ(list.Count(), c.sets) << c.name;
        if (list.Count() > 0) {
            EXPECT_EQ(list.GetData(0), Bytes("hi")) << c.name;
        }
    }
}

TEST(KVIPTCInfoList, EveryTruncationParsesToAPrefix) {
    TKVIPTCInfoList list;
    Fill(list, SampleSets());
    for (bool photoshop : {true, false}) {
        const std::vector<uint8_t> block = list.SaveToBuffer(photoshop);
        for (size_t cut = 0; cut < block.size(); cut += (cut < 200 || block.size() - cut < 200) ? 1 : 997) {
            std::vector<uint8_t> part(block.begin(), block.begin() + long(cut));  // own allocation for ASan
            TKVIPTCInfoList back;
            back.LoadFromBuffer(part.data(), int64_t(part.size()));
            const int offset = photoshop ? 0 : 1;  // the plain header's record version
            ASSERT_LE(back.Count(), int(SampleSets().size()) + offset) << cut;
            for (int i = offset; i < back.Count(); ++i)
                ASSERT_EQ(back.GetData(i), SampleSets()[size_t(i - offset)].data) << cut;
        }
    }
}

// A JPEG segment carries at most 65533 bytes: a longer marker (a large IPTC block, say) is
// refused rather than cut to its low 16 bits.
TEST(KVMarkerList, RefusesMarkersLongerThanASegment) {
    TKVIPTCInfoList iptc;
    const std::vector<uint8_t> caption(70000, 'c');
    iptc.AddDataSet(2, 120, uint32_t(caption.size()), caption.data());
    const std::vector<uint8_t> block = iptc.SaveToBuffer(true);
    const std::vector<uint8_t> longest(TKVMarkerList::MaxMarkerLength, 7);

    TKVMarkerList markers;
    markers.AddMarker(0xE1, longest.data(), int64_t(longest.size()));
    EXPECT_EQ(markers.GetMarkerLength(0), 65533);
    EXPECT_THROW(markers.AddMarker(0xED, block.data(), int64_t(block.size())), EInvalidOperation);
    EXPECT_THROW(markers.AddMarker(0xED, longest.data(), 65534), EInvalidOperation);
    EXPECT_THROW(markers.SetMarker(0, 0xED, int64_t(block.size()), block.data()), EInvalidOperation);
    ASSERT_EQ(markers.Count(), 1);
    EXPECT_EQ(markers.GetMarkerType(0), 0xE1);
    EXPECT_EQ(markers.GetMarkerLength(0), 65533);
}

TEST(KVMarkerList, KeepsCopiesInOrder) {
    TKVMarkerList markers;
    markers.AddMarker(0xE1, "Exif", 4);
    markers.AddMarker(0xFE, "comment", 7);
    markers.AddMarker(0xE1, "xmp", 3);
    EXPECT_EQ(markers.Count(), 3);
    EXPECT_EQ(markers.IndexOf(0xE1), 0);
    EXPECT_EQ(markers.IndexOf(0xED), -1);
    EXPECT_EQ(markers.GetMarkerLength(1), 7);
    EXPECT_EQ(std::memcmp(markers.GetMarkerData(1), "comment", 7), 0);

    markers.SetMarker(0, 0xED, 2, "ps");
    EXPECT_EQ(markers.GetMarkerType(0), 0xED);
    EXPECT_EQ(markers.GetMarkerLength(0), 2);
    markers.DeleteMarker(1);
    EXPECT_EQ(markers.IndexOf(0xE1), 1);

    TKVMarkerList copy;
    copy.AddMarker(0xE0, "JFIF", 4);
    copy.Assign(&markers);
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy.GetMarkerType(1), 0xE1);
    EXPECT_NE(copy.GetMarkerData(1), markers.GetMarkerData(1));
    copy.Assign(nullptr);
    EXPECT_EQ(copy.Count(), 2);

    EXPECT_THROW(markers.GetMarkerType(2), EListError);
    EXPECT_THROW(markers.DeleteMarker(-1), EListError);
}

TEST(KVTagsHandler, ReadsCompleteDirectoriesOnly) {
    const std::vector<uint8_t> directory = {
        2, 0,                                                // two entries
        0x01, 0x00, 3, 0, 1, 0, 0, 0, 7, 0, 0, 0,            // tag 1, SHORT, 1, value 7
        0x02, 0x01, 2, 0, 9, 0, 0, 0, 26, 0, 0, 0,           // tag 0x102, ASCII, 9 bytes at 26
        'm', 'a', 'k', 'e', 'r', 'n', 'o', 't', 0};
    TKVTagsHandler handler;
    handler.Stream().WriteBuffer(directory.data(), int64_t(directory.size()));
    handler.ReadDirectory();
    ASSERT_EQ(handler.Entries().size(), 2u);
    EXPECT_EQ(handler.Entries()[0], (TKVTIFFTag{1, 3, 1, 7}));
    EXPECT_EQ(handler.Entries()[1], (TKVTIFFTag{0x102, 2, 9, 26}));

    TKVTagsHandler copy;
    copy.Assign(handler);
    EXPECT_EQ(copy.Stream().Bytes(), directory);
    EXPECT_EQ(copy.Entries(), handler.Entries());

    for (size_t cut : {size_t(0), size_t(1), size_t(2), size_t(13), size_t(25)}) {
        TKVTagsHandler truncated;
        if (cut > 0) truncated.Stream().WriteBuffer(directory.data(), int64_t(cut));
        truncated.ReadDirectory();
        EXPECT_TRUE(truncated.Entries().empty()) << cut;
    }
    TKVTagsHandler claimsMany;
    const uint8_t manyEntries[] = {0xFF, 0xFF, 1, 2, 3};
    claimsMany.Stream().WriteBuffer(manyEntries, sizeof manyEntries);
    claimsMany.ReadDirectory();
    EXPECT_TRUE(claimsMany.Entries().empty());
}
