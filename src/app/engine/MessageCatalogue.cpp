#include "app/engine/MessageCatalogue.h"

#include <algorithm>
#include <cctype>

#include "app/engine/MakerInfo.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/TextFormats.h"

namespace {

struct TCatalogueEntry {
    uint16_t id;
    const char* text;
};

// The ids the application words as the utility library's own table does take their texts from it.
constexpr uint16_t LibraryWorded[] = {2, 3, 4, 11, 12, 17, 28, 29, 31, 41, 87, 501, 502, 1003};

// The application's own wording where it differs from the library's (which programs without a
// catalogue show), and the ids the library's table does not hold.
constexpr TCatalogueEntry OwnTexts[] = {
    {5, "Can't open File"},
    {6, "Invalid Function call"},
    {8, "Bad integer Value"},
    {9, "Can't create File"},
    {10, "File empty"},
    {25, "Invalid File Name"},
    {26, "Invalid Date-time"},
    {27, "Invalid numeric Value"},
    {32, "File already exists"},
    {33, "Invalid Name"},
    {34, "Name already exists"},
    {35, "Name not found"},
    {42, "Invalid format"},
    {43, "Illegal character"},
    {46, "Invalid logical value"},
    {48, "Please enter a Value"},
    {49, "Please enter a Name"},
    {50, "Create File"},
    {51, "Can't delete"},
    {52, "Can't continue"},
    {59, "Can't create key in Configuration Parameters"},
    {65, "Can't save"},
    {68, "Can't write to Windows Registry.//You must have the privilege of System Administrator for this operation."},
    {77, "Disk full"},
    {79, "Can't connect to Internet"},
    {80, "Website doesn't respond"},
    {610, "Overwrite existing file"},
    {620, "Select a Folder"},
    {621, "Selected Folder"},
    {1002, "Can't resize sheet"},
    {1025, "No Printer installed"},
    {1026, "Image file type not supported"},
    {1027, "Can't load image"},
    {1029, "Can't access printer driver"},
    {1105, "Invalid method call"},
    {1202, "System resources unsufficient for this operation.//If possible, close all unused applications and retry."},
    {1234, "Can't save image"},
    {1254, "Picture too large"},
    {1314, "Internet browser not found"},
    {1341, "The Microsoft \"HTML Help\" viewer is not installed on your computer.//This software is necessary to "
           "access documentation.//It can be downloaded from Microsoft's website."},
    {1343, "Can't change printer settings"},
    {3708, "Warning! These options will be taken into account by all applications using the same printer driver"},
    {3709, "Can't change paper bin: this option is defined in document properties"},
    {3710, "Can't change orientation: this option is defined in document properties"},
    {3711, "Can't change paper size: this option is defined in document properties"},
    {3718, "Stop"},
    {5781, "This is not a valid URL"},
    {15156, ConnectingText},
};

std::string UpperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

}  // namespace

std::string GetCatalogueText(uint16_t id) {
    for (const TCatalogueEntry& entry : OwnTexts)
        if (entry.id == id) return entry.text;
    if (std::ranges::find(LibraryWorded, id) != std::end(LibraryWorded)) return BuiltInErrorText(id);
    return {};
}

std::string FileSizeText(const std::string& fileName) {
    const double kilobytes = static_cast<double>(GetFileSizeByName(fileName)) / 1024;
    if (kilobytes > 1024) return FormatFloat("0.0", kilobytes / 1024) + " MB";
    return FormatFloat("0", kilobytes) + " KB";
}

int CompareInts(int64_t a, int64_t b, int sign) {
    if (a == b) return 0;
    return a < b ? -sign : sign;
}

int CompareUpperTexts(const std::string& a, const std::string& b, int sign) {
    const int order = UpperCase(a).compare(UpperCase(b));
    return order == 0 ? 0 : order < 0 ? -sign : sign;
}
