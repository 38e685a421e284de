#include "app/engine/MessageCatalogue.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "tzlib/Errors.h"

namespace {

TEST(MessageCatalogueTest, GivesTheTextOfEachId) {
    const std::pair<uint16_t, std::string> cases[] = {
        {2, "Internal error"},
        {5, "Can't open File"},
        {8, "Bad integer Value"},
        {11, "File locked"},
        {68, "Can't write to Windows Registry.//You must have the privilege of System Administrator for this "
             "operation."},
        {77, "Disk full"},
        {501, "&Ok"},
        {502, "&Cancel"},
        {610, "Overwrite existing file"},
        {1027, "Can't load image"},
        {1341, "The Microsoft \"HTML Help\" viewer is not installed on your computer.//This software is necessary "
               "to access documentation.//It can be downloaded from Microsoft's website."},
        {3718, "Stop"},
        {5781, "This is not a valid URL"},
        // Ids outside the table, among them the code label the utility library asks for.
        {0, ""},
        {139, ""},
        {600, ""},
        {65535, ""},
    };
    for (const auto& [id, text] : cases) EXPECT_EQ(GetCatalogueText(id), text) << id;
    EXPECT_TRUE(GetCatalogueText(15156).starts_with("Connecting to "));
    EXPECT_TRUE(GetCatalogueText(15156).ends_with("..."));
}

// Where the catalogue and the utility library's built-in table share an id, each keeps its own
// wording; a shared text has one source.
TEST(MessageCatalogueTest, KeepsItsWordingBesideTheBuiltInTable) {
    struct TCase {
        uint16_t id;
        std::string builtIn, catalogue;
    };
    const TCase cases[] = {
        {2, "Internal error", "Internal error"},
        {3, "File corrupted", "File corrupted"},
        {4, "File not found", "File not found"},
        {5, "Can't open file", "Can't open File"},
        {8, "Bad integer value", "Bad integer Value"},
        {9, "", "Can't create File"},
        {15, "Can't create directory", ""},
        {17, "Directory not found", "Directory not found"},
        {27, "Bad numeric value", "Invalid numeric Value"},
        {28, "Key not found in Configuration Parameters", "Key not found in Configuration Parameters"},
        {29, "Value not found in Configuration Parameters", "Value not found in Configuration Parameters"},
        {31, "Invalid value in Configuration Parameters", "Invalid value in Configuration Parameters"},
        {32, "This file already exists", "File already exists"},
        {41, "Invalid parameter", "Invalid parameter"},
        {46, "Bad boolean value", "Invalid logical value"},
        {87, "The e-mail couldn't be sent", "The e-mail couldn't be sent"},
        {570, "&Yes", ""},
        {610, "Overwrite file", "Overwrite existing file"},
        {1003, "Bad paper size", "Bad paper size"},
        {1120, "Invalid object handle", ""},
        {3718, "Abort", "Stop"},
        {15015, "Invalid CD-ROM", ""},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(BuiltInErrorText(c.id), c.builtIn) << c.id;
        EXPECT_EQ(GetCatalogueText(c.id), c.catalogue) << c.id;
    }
}

TEST(MessageCatalogueTest, InstalledAsTheErrorTextsItReplacesTheBuiltInTable) {
    const TErrorTextFunc previous = ErrorTextCallback;
    ErrorTextCallback = GetCatalogueText;
    EXPECT_EQ(GetErrorText(77, "", ".", false), "Disk full.");
    EXPECT_EQ(GetErrorText(600, "", ".", false), "Error 600.");
    EXPECT_EQ(GetErrorText(1027, "/pics/a.png", "", false), "Can't load image : /pics/a.png");
    EXPECT_EQ(GetErrorText(1202, "", "", false),
              "System resources unsufficient for this operation.\r\nIf possible, close all unused applications "
              "and retry.");
    ErrorTextCallback = previous;
}

TEST(MessageCatalogueTest, FileSizeTextInKilobytesThenMegabytes) {
    TScratchFolder folder;
    const std::pair<size_t, std::string> cases[] = {
        {0, "0 KB"},
        {511, "0 KB"},
        {512, "1 KB"},  // a half rounds away from zero
        {1536, "2 KB"},
        {1048576, "1024 KB"},
        {1048576 + 1024, "1.0 MB"},
        {1572864, "1.5 MB"},
    };
    for (const auto& [size, text] : cases) {
        const std::string path = folder.Path("f" + std::to_string(size));
        WriteFile(path, std::string(size, 'x'));
        EXPECT_EQ(FileSizeText(path), text) << size;
    }
    EXPECT_EQ(FileSizeText(folder.Path("missing")), "0 KB");
}

TEST(MessageCatalogueTest, ComparisonsOrderBySign) {
    EXPECT_EQ(CompareInts(3, 3, 1), 0);
    EXPECT_EQ(CompareInts(2, 3, 1), -1);
    EXPECT_EQ(CompareInts(2, 3, -1), 1);
    EXPECT_EQ(CompareInts(int64_t(1) << 40, 0, 1), 1);
    EXPECT_EQ(CompareUpperTexts("abc", "ABC", 1), 0);
    EXPECT_EQ(CompareUpperTexts("abc", "ABD", 1), -1);
    EXPECT_EQ(CompareUpperTexts("b", "A", -1), -1);
    // Upper-case forms compared code by code: "_" (95) comes after "A" (65) and before "a" would.
    EXPECT_EQ(CompareUpperTexts("_", "a", 1), 1);
}

}  // namespace
