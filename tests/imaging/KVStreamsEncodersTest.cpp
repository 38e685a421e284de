#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>

#include "imaging/core/KVEncoders.h"
#include "imaging/core/KVFileBuffer.h"
#include "imaging/core/KVLists.h"
#include "imaging/core/KVStreams.h"
#include "TestSupport.h"

namespace {

std::string Text(TMemoryStream& stream) { return std::string(stream.Bytes().begin(), stream.Bytes().end()); }

std::string WithoutCR(std::string text) {
    std::erase(text, '\r');
    return text;
}

}  // namespace

TEST(KVLists, CountsFlagsAndRanges) {
    TKVIntegerList list;
    EXPECT_EQ(list.ItemSize(), 4);
    EXPECT_EQ(list.Add(7), 0);
    EXPECT_EQ(list.Add(9), 1);
    EXPECT_EQ(list.IndexOf(9), 1);
    EXPECT_EQ(list.IndexOf(8), -1);
    list.SetItem(5, 1);  // out of range: ignored
    EXPECT_EQ(list.Count(), 2);
    list.Delete(0);
    list.Delete(3);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.GetItem(0), 9);

    list.SetChangeFlags(0);
    list.Delete(0);  // the only item
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ChangeFlags(), kvlItemsChanged);
    list.SetRangeMin(1);
    list.SetCurrentValue(2);
    EXPECT_EQ(list.ChangeFlags(), kvlItemsChanged | kvlRangeChanged | kvlCurrentChanged);

    TKVIntegerList copy;
    copy.Assign(&list);
    EXPECT_EQ(copy.RangeMin(), 1);
    EXPECT_EQ(copy.CurrentValue(), 2);
    copy.Clear();
    EXPECT_EQ(copy.RangeMin(), 0);
    EXPECT_EQ(copy.ChangeFlags(), 0);

    // A list of other values would be read with the wrong item size.
    TKVDoubleList doubles;
    doubles.Add(1.5);
    doubles.Assign(&list);
    EXPECT_EQ(doubles.ItemSize(), 8);
    EXPECT_EQ(doubles.GetItem(0), 1.5);

    TKVRecordList records(3);
    const uint8_t record[3] = {1, 2, 3};
    records.Add(record);
    EXPECT_EQ(static_cast<uint8_t*>(records.GetItem(0))[2], 3);
    EXPECT_EQ(records.IndexOf(record), 0);
}

TEST(KVLists, ByteArrayGrowsInStepsAndReadsOnlyWhatIsThere) {
    TKVByteArray bytes;
    EXPECT_EQ(bytes.Size(), 0);
    EXPECT_GE(bytes.Capacity(), 8192);
    bytes.AppendByte(42);
    EXPECT_EQ(bytes.Data()[0], 42);
    bytes.SetSize(20000);
    EXPECT_GE(bytes.Capacity(), 20000);
    bytes.SetSize(1);
    EXPECT_LT(bytes.Capacity(), 20000);
    EXPECT_EQ(bytes.Data()[0], 42);

    TMemoryStream stream;
    stream.WriteBuffer("abcde", 5);
    stream.SetPosition(2);
    // A claimed length far beyond the data reads what is there and allocates no more.
    EXPECT_EQ(bytes.AppendFromStream(stream, int64_t(1) << 40), 3);
    EXPECT_EQ(bytes.Size(), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.Data()) + 1, 3), "cde");

    EXPECT_EQ(KVColorCount(8, 3), 16777216);
    EXPECT_EQ(KVColorCount(1, 1), 2);
    EXPECT_EQ(KVColorCount(16, 4), INT64_MAX);
}

TEST(KVStreams, NulStreamCountsOnly) {
    TNulStream stream;
    uint8_t buffer[10] = {};
    EXPECT_EQ(stream.Write(buffer, 10), 10);
    EXPECT_EQ(stream.Seek(4, TSeekOrigin::soEnd), 6);
    EXPECT_EQ(stream.Seek(20, TSeekOrigin::soBeginning), 20);
    EXPECT_EQ(stream.Size(), 20);
    EXPECT_EQ(stream.Read(buffer, 5), 5);
    EXPECT_EQ(stream.Size(), 25);
}

TEST(KVStreams, MemStreamReadsBorrowedMemoryOnly) {
    const char data[] = "0123456789";
    TKVMemStream stream(data, 10);
    char buffer[16] = {};
    EXPECT_EQ(stream.Read(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(stream.Write("xx", 2), 0);
    stream.SetSize(0);
    EXPECT_EQ(stream.Size(), 10);
    stream.Seek(-3, TSeekOrigin::soEnd);
    EXPECT_EQ(stream.Read(buffer, 16), 3);
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(stream.Read(buffer, 16), 0);
}

TEST(KVStreams, BufferedReadStream) {
    TMemoryStream source;
    std::string data;
    for (int i = 0; i < 20000; ++i) data += char('a' + i % 26);
    source.WriteBuffer(data.data(), int64_t(data.size()));
    source.SetPosition(100);
    TKVBufferedReadStream stream(source, 16);
    EXPECT_EQ(stream.Size(), 20000);

    std::string read(30, 0);
    EXPECT_EQ(stream.Read(read.data(), 30), 30);  // more than the buffer holds
    EXPECT_EQ(read, data.substr(100, 30));
    EXPECT_GE(stream.BufferSize(), 30);

    std::string rest(100000, 0);  // asks for far more than is left
    EXPECT_EQ(stream.Read(rest.data(), 100000), 20000 - 130);
    EXPECT_EQ(rest.substr(0, 20000 - 130), data.substr(130));
    EXPECT_LE(stream.BufferSize(), 20000);

    EXPECT_EQ(stream.Seek(10, TSeekOrigin::soEnd), 19990);
    char c;
    EXPECT_EQ(stream.Read(&c, 1), 1);
    EXPECT_EQ(c, data[19990]);
    EXPECT_EQ(stream.Seek(5, TSeekOrigin::soBeginning), 5);
    EXPECT_EQ(stream.Read(&c, 1), 1);
    EXPECT_EQ(c, data[5]);

    try {
        stream.Write("x", 1);
        FAIL() << "a write must raise";
    } catch (const EStreamError& error) {
        EXPECT_EQ(error.Message(), "TKVBufferedReadStream cannot write!");
    }
}

TEST(KVEncoders, ASCII85) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::string expected;
    } cases[] = {
        {{0, 0, 0, 0}, "z~>\r\n"},
        {{0}, "!!~>\r\n"},
        {{}, "~>\r\n"},
        {{'M', 'a', 'n', ' '}, "9jqo^~>\r\n"},
        {{0, 0, 0, 0, 0xFF}, "zrr~>\r\n"},
    };
    for (const Case& c : cases) {
        std::string out;
        int line = 0;
        const int64_t written = KVASCII85Encode(c.bytes.data(), int64_t(c.bytes.size()), out, line);
        EXPECT_EQ(written, int64_t(out.size()));
        EXPECT_EQ(out, c.expected);
    }
    // Lines break once more than 74 characters stand on them: after 15 groups of 5.
    std::vector<uint8_t> many(400, 0xAB);
    std::string out;
    int line = 0;
    KVASCII85Encode(many.data(), int64_t(many.size()), out, line);
    EXPECT_EQ(out.find("\r\n"), 75u);
}

TEST(KVEncoders, RunLength) {
    const std::vector<uint8_t> same(200, 7);
    std::vector<uint8_t> out;
    EXPECT_EQ(KVRunLengthEncode(same.data(), 200, out), 5);
    EXPECT_EQ(out, (std::vector<uint8_t>{129, 7, 185, 7, 128}));  // runs of 128 and 72, the end

    const std::vector<uint8_t> mixed = {1, 2, 3, 3, 3, 4};
    out.clear();
    KVRunLengthEncode(mixed.data(), int64_t(mixed.size()), out);
    EXPECT_EQ(out, (std::vector<uint8_t>{2, 1, 2, 3, 255, 3, 0, 4, 128}));
}

TEST(KVEncoders, Base64MatchesTheBase64Command) {
    const TScratchFolder folder;
    const std::string input = folder.Path("input.bin");
    std::string data;
    for (int i = 0; i < 1000; ++i) data += char((i * 37 + 11) & 0xFF);
    for (const size_t length : {size_t(0), size_t(1), size_t(2), size_t(4), size_t(57), size_t(1000)}) {
        WriteFile(input, data.substr(0, length));
        TMemoryStream source, text;
        source.WriteBuffer(data.data(), int64_t(length));
        source.SetPosition(0);
        KVEncodeBase64ToText(source, text, 76);
        EXPECT_EQ(WithoutCR(Text(text)), RunTool("base64 -w 76 " + Quoted(input), false).output) << length;
    }
    TMemoryStream source, text;
    source.WriteBuffer("abcd", 4);
    source.SetPosition(0);
    KVEncodeBase64ToText(source, text, 76);
    EXPECT_EQ(Text(text), "YWJjZA==\r\n");
}

TEST(KVFileBuffer, TemporaryFileIsPrivateNamedAndRemoved) {
    const TScratchFolder scratch;
    const std::string& folder = scratch.Folder();
    KVTempFolder = folder;
    std::string name;
    {
        TKVFileBuffer buffer;
        ASSERT_TRUE(buffer.CreateFile("IMG", 100));
        name = buffer.FileName();
        const std::string base = std::filesystem::path(name).filename();
        EXPECT_EQ(std::filesystem::path(name).parent_path(), std::filesystem::path(folder));
        ASSERT_EQ(base.size(), 3 + 1 + 8 + 4);
        EXPECT_EQ(base.substr(0, 4), "IMG-");
        EXPECT_EQ(base.substr(12), ".tmp");
        EXPECT_EQ(base.substr(4, 8).find_first_not_of("0123456789ABCDEF"), std::string::npos);
        struct stat info;
        ASSERT_EQ(::stat(name.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(info.st_size, 100);

        uint8_t* block = buffer.MapBlock(kvaWrite, 4, 10);
        std::memcpy(block, "abcd", 4);
        uint8_t* reading = buffer.MapBlock(kvaRead, 4, 10);
        EXPECT_EQ(std::memcmp(reading, "\0\0\0\0", 4), 0);  // not yet written back
        buffer.UnmapBlock(block);
        buffer.UnmapBlock(reading);
        EXPECT_EQ(buffer.IndexOfBlock(block), -1);
        EXPECT_EQ(std::memcmp(buffer.MapBlock(kvaRead, 4, 10), "abcd", 4), 0);

        TKVFileBuffer target;
        ASSERT_TRUE(target.CreateFile("IMG", 100));
        buffer.CopyTo(target, 100, 0);
        EXPECT_EQ(std::memcmp(target.MapBlock(kvaRead, 4, 10), "abcd", 4), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(name));
    EXPECT_TRUE(scratch.Files().empty());

    KVTempFolder = folder + "/missing";
    TKVFileBuffer buffer;
    EXPECT_FALSE(buffer.CreateFile("IMG", 10));
    KVTempFolder.clear();
}

TEST(KVFileBuffer, AvailablePhysicalMemory) { EXPECT_GT(KVAvailablePhysicalMemory(), 0); }
