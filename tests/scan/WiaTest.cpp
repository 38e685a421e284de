// Acquisition by device, item and property from SANE's virtual scanner, compared with what
// scanimage lists and reads from the same configuration.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>

#include "SaneTestDevice.h"
#include "imaging/acquire/KVTWainParams.h"
#include "imaging/acquire/KVWia.h"
#include "imaging/acquire/KVWiaDataCallback.h"
#include "imaging/acquire/ScannerProvider.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "imaging/io/KestovaIO.h"
#include "platform/SaneDevice.h"
#include "platform/Twain.h"

namespace {

// --- scanimage's listing of a device's options

struct TListedOption {
    std::string name, constraint, value;
    bool inactive = false;
};
struct TListedGroup {
    std::string title;
    std::vector<TListedOption> options;
};

std::string OptionNameOf(const std::string& flag) {
    static const std::map<std::string, std::string> geometry = {{"-l", "tl-x"}, {"-t", "tl-y"}, {"-x", "br-x"}, {"-y", "br-y"}};
    const auto at = geometry.find(flag);
    return at != geometry.end() ? at->second : flag.substr(2);
}

// "    --name[=(yes|no)] constraint [value] [flag]..." under "  Group title:".
std::vector<TListedGroup> ParseListing(const std::string& listing) {
    std::vector<TListedGroup> groups;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() > 3 && line.compare(0, 2, "  ") == 0 && line[2] != ' ' && line.back() == ':') {
            groups.push_back({line.substr(2, line.size() - 3), {}});
            continue;
        }
        if (groups.empty() || line.compare(0, 5, "    -") != 0) continue;
        TListedOption option;
        std::string rest = line.substr(4);
        while (!rest.empty() && rest.back() == ']') {
            const size_t open = rest.rfind(" [");
            if (open == std::string::npos) break;
            const std::string group = rest.substr(open + 2, rest.size() - open - 3);
            if (group == "inactive") option.inactive = true;
            else if (group != "advanced" && group != "hardware" && group != "read-only") option.value = group;
            rest.erase(open);
        }
        const size_t end = rest.find_first_of(" [");
        option.name = OptionNameOf(rest.substr(0, end));
        rest = end == std::string::npos ? "" : rest.substr(end);
        if (rest.compare(0, 2, "[=") == 0) rest.erase(0, rest.find(']') + 1);
        option.constraint = rest.empty() ? "" : rest.substr(1);
        groups.back().options.push_back(option);
    }
    return groups;
}

std::string Number(double value, bool fixed) {
    char text[64];
    if (fixed) std::snprintf(text, sizeof text, "%g", value);
    else std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return text;
}

// scanimage's words for an option's constraint.
std::string ConstraintText(const TSaneOption& o) {
    static const char* units[] = {"", "pel", "bit", "mm", "dpi", "%", "us"};
    const bool fixed = o.Kind == TSaneValueKind::Fixed;
    const std::string unit = o.Unit >= 0 && o.Unit < 7 ? units[o.Unit] : "";
    const std::string array = o.Count > 1 ? ",..." : "";
    std::string text;
    switch (o.Constraint) {
    case TSaneConstraint::StringList:
        for (const std::string& s : o.Strings) text += (text.empty() ? "" : "|") + s;
        return text;
    case TSaneConstraint::NumberList:
        for (double v : o.Numbers) text += (text.empty() ? "" : "|") + Number(v, fixed);
        return text + unit + array;
    case TSaneConstraint::Range:
        text = Number(o.Min, fixed) + ".." + Number(o.Max, fixed) + unit + array;
        return o.Step != 0 ? text + " (in steps of " + Number(o.Step, fixed) + ")" : text;
    default: break;
    }
    if (o.Kind == TSaneValueKind::Bool || o.Kind == TSaneValueKind::Button) return "";
    return std::string(o.Kind == TSaneValueKind::String ? "<string>" : fixed ? "<float>" : "<int>") + array;
}

std::string ValueText(const TKVWiaValue& value, const TSaneOption& o) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* i = std::get_if<int>(&value)) return o.Kind == TSaneValueKind::Bool ? (*i ? "yes" : "no") : std::to_string(*i);
    if (const auto* d = std::get_if<double>(&value)) return Number(*d, true);
    return "(no single value)";
}

// --- Properties by option name

// Connects device 0 when none is.
uint32_t PropertyId(TKVWia& wia, const std::string& name) {
    if (!wia.RootItem() && !wia.ConnectDevice(0)) return 0;
    std::vector<TKVWiaItem*> items{wia.RootItem()};
    for (const auto& child : wia.RootItem()->Children) items.push_back(child.get());
    for (TKVWiaItem* item : items)
        for (uint32_t id : item->Properties) {
            TSaneOption info;
            if (wia.GetPropertyInfo(id, info) && info.Name == name) return id;
        }
    ADD_FAILURE() << "no property " << name;
    return 0;
}

bool Set(TKVWia& wia, const std::string& name, const TKVWiaValue& value) {
    return wia.SetItemProperty(PropertyId(wia, name), value);
}

// The value, or the text "unreadable".
TKVWiaValue Get(TKVWia& wia, const std::string& name) {
    TKVWiaValue value;
    return wia.GetItemProperty(PropertyId(wia, name), value) ? value : TKVWiaValue(std::string("unreadable"));
}

// --- Pixels against scanimage's

// Gray pictures arrive as 24-bit pixels of three equal samples, line-art as one bit (1 white);
// sixteen-bit samples keep their high byte.
::testing::AssertionResult SameAsScanimage(TKVBitmap& bitmap, const TPnm& pnm) {
    if (pnm.width == 0 || bitmap.GetWidth() != pnm.width || bitmap.GetHeight() != pnm.height)
        return ::testing::AssertionFailure() << "size " << bitmap.GetWidth() << "x" << bitmap.GetHeight() << ", scanimage "
                                             << pnm.width << "x" << pnm.height;
    int differences = 0;
    for (int y = 0; y < pnm.height; ++y) {
        const uint8_t* row = bitmap.GetScanline(y);
        for (int x = 0; x < pnm.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int expected = pnm.At(x, y, pnm.channels == 3 ? c : 0) >> (pnm.maxValue > 255 ? 8 : 0);
                const int ours = bitmap.GetPixelFormat() == kv1Bit ? (row[x / 8] >> (7 - x % 8)) & 1 : row[x * 3 + 2 - c];
                if (ours != expected && differences++ < 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << " sample " << c << ": " << ours << " != " << expected;
            }
    }
    if (differences != 0) return ::testing::AssertionFailure() << differences << " samples differ";
    return ::testing::AssertionSuccess();
}

// A bitmap holding one recognisable pixel, to show that a failed transfer left it alone.
void MarkBitmap(TKVBitmap& bitmap) {
    bitmap.Allocate(3, 2, kv24RGB);
    bitmap.GetScanline(1)[2 * 3] = 77;
}

bool StillMarked(TKVBitmap& bitmap) {
    return bitmap.GetWidth() == 3 && bitmap.GetHeight() == 2 && bitmap.GetPixelFormat() == kv24RGB &&
           bitmap.GetScanline(1)[2 * 3] == 77;
}

struct InstalledDialog {
    explicit InstalledDialog(TSaneDeviceDialog dialog) { SetSaneDeviceDialog(dialog); }
    ~InstalledDialog() { SetSaneDeviceDialog(nullptr); }
};

// --- Devices

TEST(WiaDevices, AreWhatScanimageLists) {
    TSaneTestDevice device;
    const std::string fields = RunTool("scanimage -f '%d|%v|%m|%t%n'", false).output;
    const std::string plain = RunTool("scanimage -L", false).output;
    std::smatch version;
    const std::string versions = RunTool("scanimage -V", false).output;
    ASSERT_TRUE(std::regex_search(versions, version, std::regex(R"(backend version (\S+))")));
    TKVWia wia(nullptr);
    std::istringstream lines(fields);
    std::string line;
    int index = 0;
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::stringstream parts(line);
        for (std::string part; std::getline(parts, part, '|');) f.push_back(part);
        ASSERT_EQ(f.size(), 4u) << line;
        const TKVWiaDeviceInfo* info = wia.GetDevice(index++);
        ASSERT_NE(info, nullptr) << line;
        EXPECT_EQ(info->ID, f[0]);
        EXPECT_EQ(info->Name, f[1] + " " + f[2]);
        EXPECT_EQ(info->VendorDescription, f[1]);
        EXPECT_EQ(info->DeviceType, KVWiaDeviceTypeOf(f[3]));
        EXPECT_EQ(info->DriverVersion, version[1]);
        EXPECT_EQ(info->ServerName, "local");
        EXPECT_EQ(info->PortName, f[0].substr(f[0].find(':') + 1));
        // scanimage -L says the same in its sentence.
        EXPECT_TRUE(Contains(plain, "device `" + info->ID + "' is a " + info->Name + " " + f[3])) << plain;
    }
    EXPECT_EQ(index, 2);
    EXPECT_EQ(wia.GetDevice(index), nullptr);
    EXPECT_EQ(wia.GetDevice(-1), nullptr);
}

TEST(WiaDevices, KindsFollowSanesDeviceTypes) {
    const std::pair<const char*, int> cases[] = {
        {"flatbed scanner", 0}, {"sheetfed scanner", 0}, {"film scanner", 0}, {"handheld scanner", 0},
        {"multi-function peripheral", 0}, {"virtual device", 0}, {"still camera", 1}, {"Camera", 1},
        {"video camera", 2}, {"frame grabber", 2}, {"webcam", 2}, {"", 0}};
    for (const auto& [type, kind] : cases) EXPECT_EQ(KVWiaDeviceTypeOf(type), kind) << type;
}

TEST(WiaDevices, ConnectByIdOrChoice) {
    TSaneTestDevice device;
    TKVWia wia(nullptr);
    EXPECT_FALSE(wia.ConnectDeviceByID("test:7"));
    EXPECT_EQ(wia.RootItem(), nullptr);
    EXPECT_FALSE(wia.ConnectDeviceByID("test"));  // exact names only
    ASSERT_TRUE(wia.ConnectDeviceByID("test:1"));
    EXPECT_EQ(wia.RootItem()->Name, wia.GetDevice(1)->Name);
    EXPECT_TRUE(wia.TakePicture);  // a scanner

    static std::vector<std::string> shown;
    static int answer = 0;
    InstalledDialog dialog([](const std::vector<TSaneDeviceInfo>& devices) {
        shown.clear();
        for (const TSaneDeviceInfo& d : devices) shown.push_back(d.Name);
        return answer;
    });
    answer = -1;
    EXPECT_FALSE(wia.SelectDevice());
    EXPECT_EQ(shown, (std::vector<std::string>{"test:0", "test:1"}));
    EXPECT_EQ(wia.RootItem(), nullptr);  // choosing again let go of the device before
    answer = 1;
    EXPECT_TRUE(wia.SelectDevice());
    EXPECT_NE(wia.RootItem(), nullptr);
    answer = 2;  // past the list
    EXPECT_FALSE(wia.SelectDevice());
}

// The scanner library is shared: a TWAIN session that comes and goes leaves a connected device
// working, and a device that goes leaves an open TWAIN source working.
TEST(WiaDevices, OutliveTwainSessionsAndTheirsOutliveThem) {
    TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}});
    const TPnm oracle = ParsePnm(device.Scanimage("--test-picture 'Color pattern' --format=pnm"));
    TKVBitmap bitmap;
    {
        TKVWia wia(nullptr);
        wia.Bitmap = &bitmap;
        ASSERT_TRUE(wia.ConnectDevice(0)) << wia.LastErrorText();
        TKVTWainParams params(nullptr);
        EXPECT_EQ(params.SourceCount(), 2);
        ASSERT_TRUE(wia.Transfer()) << wia.LastErrorText();
        EXPECT_TRUE(SameAsScanimage(bitmap, oracle));
    }
    TW_IDENTITY app{}, source{};
    ASSERT_EQ(DSM_Entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    ASSERT_EQ(DSM_Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
    {
        TKVWia wia(nullptr);
        ASSERT_TRUE(wia.ConnectDevice(1)) << wia.LastErrorText();
    }
    TW_USERINTERFACE ui{0, 1, nullptr};
    ASSERT_EQ(DSM_Entry(&app, &source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    TW_EVENT event{nullptr, MSG_NULL};
    ASSERT_EQ(DSM_Entry(&app, &source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(DSM_Entry(&app, &source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
    ASSERT_NE(dib, nullptr);
    EXPECT_GT(dib->Bytes.size(), 40u + 1024u);
    TwainFree(dib);
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(DSM_Entry(&app, &source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(DSM_Entry(&app, &source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(DSM_Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    EXPECT_EQ(DSM_Entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
}

TEST(WiaDevices, WithoutAnyEveryCallFails) {
    TSaneTestDevice device({}, false);
    TKVWia wia(nullptr);
    TKVBitmap bitmap;
    MarkBitmap(bitmap);
    wia.Bitmap = &bitmap;
    EXPECT_EQ(wia.GetDevice(0), nullptr);
    EXPECT_FALSE(wia.ConnectDevice(0));
    EXPECT_FALSE(wia.SelectDevice());
    EXPECT_FALSE(wia.SetItemPropertyInt(WIA_IPA_TYMED, TYMED_CALLBACK));
    EXPECT_FALSE(wia.Transfer());
    EXPECT_FALSE(wia.LastErrorText().empty());
    EXPECT_TRUE(StillMarked(bitmap));
}

// --- Items and properties

TEST(WiaItems, AreTheOptionGroupsScanimageLists) {
    TSaneTestDevice device;
    TKVWia wia(nullptr);
    ASSERT_TRUE(wia.ConnectDevice(0));
    // The test options become active and readable once asked for: a property set that changes
    // what the device offers.
    ASSERT_TRUE(Set(wia, "enable-test-options", 1));
    const std::vector<TListedGroup> groups = ParseListing(device.Scanimage("-A --enable-test-options=yes"));
    TKVWiaItem* root = wia.RootItem();
    EXPECT_TRUE(root->ItemType[kvwiRoot] && root->ItemType[kvwiFolder] && root->ItemType[kvwiDevice]);
    EXPECT_FALSE(root->ItemType[kvwiImage]);
    EXPECT_TRUE(root->Properties.empty());  // every option of this device is in a group
    ASSERT_EQ(root->Children.size(), groups.size());
    EXPECT_EQ(TKVWia::FirstImageItem(root), root->Children[0].get());
    int compared = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        TKVWiaItem& item = *root->Children[g];
        EXPECT_EQ(item.Name, groups[g].title);
        EXPECT_TRUE(item.ItemType[kvwiImage] && item.ItemType[kvwiTransfer] && item.ItemType[kvwiAny]);
        ASSERT_EQ(item.Properties.size(), groups[g].options.size()) << item.Name;
        for (size_t i = 0; i < item.Properties.size(); ++i) {
            const TListedOption& listed = groups[g].options[i];
            TSaneOption info;
            ASSERT_TRUE(wia.GetPropertyInfo(item.Properties[i], info));
            EXPECT_EQ(info.Name, listed.name);
            EXPECT_EQ(info.Active, !listed.inactive) << listed.name;
            EXPECT_EQ(ConstraintText(info), listed.constraint) << listed.name;
            TKVWiaValue value;
            const bool read = wia.GetItemProperty(item.Properties[i], value, &item);
            EXPECT_EQ(read, info.Active && info.Readable && info.Kind != TSaneValueKind::Button) << listed.name;
            if (read && info.Count == 1 && !listed.value.empty()) {
                EXPECT_EQ(ValueText(value, info), listed.value) << listed.name;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 30);
    // An array option reads as its values.
    const TKVWiaValue gamma = Get(wia, "gamma-table");
    ASSERT_TRUE(std::holds_alternative<std::vector<double>>(gamma));
    const auto& table = std::get<std::vector<double>>(gamma);
    EXPECT_GT(table.size(), 1u);
    EXPECT_TRUE(std::all_of(table.begin(), table.end(), [](double v) { return v >= 0 && v <= 255; }));
    // Set whole, within the range.
    std::vector<double> ramp(table.size(), 255);
    EXPECT_TRUE(Set(wia, "gamma-table", ramp));
    EXPECT_EQ(Get(wia, "gamma-table"), TKVWiaValue(ramp));
    ramp.back() = 256;
    EXPECT_FALSE(Set(wia, "gamma-table", ramp));
    ramp.pop_back();
    EXPECT_FALSE(Set(wia, "gamma-table", ramp));
    // A button is pressed by any value and has none to read.
    TKVWiaValue value;
    EXPECT_FALSE(wia.GetItemProperty(PropertyId(wia, "button"), value));
    EXPECT_TRUE(Set(wia, "button", 1));
}

TEST(WiaItems, TypesFollowTheFlags) {
    const std::pair<uint32_t, std::vector<TKVWiaItemKind>> cases[] = {
        {0x0, {}},
        {0x1, {kvwiImage, kvwiAny}},
        {0x4C, {kvwiFolder, kvwiRoot, kvwiDevice, kvwiAny}},
        {0x24002, {kvwiFile, kvwiTransfer, kvwiVideoFile, kvwiAny}},
        {0x80000000, {kvwiRemoved, kvwiAny}},
        {0x40000, {}},  // no flag of its own, and outside the known ones
    };
    for (const auto& [flags, kinds] : cases) {
        TKVWiaItemType expected;
        for (TKVWiaItemKind kind : kinds) expected.set(kind);
        EXPECT_EQ(KVWiaItemTypeOf(flags), expected) << std::hex << flags;
    }
}

TEST(WiaProperties, AreWrittenOnlyWithinTheirConstraints) {
    TSaneTestDevice device;
    TKVWia wia(nullptr);
    ASSERT_TRUE(wia.ConnectDevice(0));
    struct Case {
        const char* name;
        TKVWiaValue value;
        bool written;
    };
    const Case cases[] = {
        {"resolution", 5000, false}, {"resolution", 0.5, false}, {"resolution", 100, true},
        {"resolution", std::string("100"), false}, {"resolution", std::vector<double>{100, 100}, false},
        {"mode", std::string("Sepia"), false}, {"mode", 2, false}, {"mode", std::string("Color"), true},
        {"mode", std::string("{B96B3CAA-0728-11D3-9D7B-0000F81EF32E}"), false},
        {"depth", 7, false}, {"depth", 16, true},
        {"three-pass", 1, true}, {"three-pass", 2, false},  // active in colour; a switch is 0 or 1
        {"hand-scanner", 0.5, false}, {"read-limit-size", 100, false},  // inactive until read-limit
        {"tl-x", -1, false}, {"tl-x", 10, true},
    };
    for (const Case& c : cases) {
        const TKVWiaValue before = Get(wia, c.name);
        EXPECT_EQ(Set(wia, c.name, c.value), c.written) << c.name;
        if (!c.written) {
            EXPECT_EQ(Get(wia, c.name), before) << c.name;
        }
    }
    EXPECT_EQ(Get(wia, "resolution"), TKVWiaValue(100.0));
    EXPECT_EQ(Get(wia, "mode"), TKVWiaValue(std::string("Color")));
    // Numbers that are no option.
    TKVWiaValue value;
    EXPECT_FALSE(wia.SetItemPropertyInt(0, 1));
    EXPECT_FALSE(wia.SetItemPropertyInt(9999, 1));
    EXPECT_FALSE(wia.GetItemProperty(9999, value));
    // An item of another tree is not this device's.
    TKVWiaItem stranger;
    EXPECT_FALSE(wia.SetItemPropertyInt(PropertyId(wia, "depth"), 8, &stranger));
}

TEST(WiaProperties, TheFormatTakesAGuidsText) {
    TSaneTestDevice device;
    TKVWia wia(nullptr);
    struct Case {
        TKVWiaValue value;
        bool written;
        TGUID after;
    };
    const Case cases[] = {
        {std::string("{B96B3CAA-0728-11D3-9D7B-0000F81EF32E}"), true, WiaImgFmt_MEMORYBMP},
        {std::string("{b96b3cab-0728-11d3-9d7b-0000f81ef32e}"), true, WiaImgFmt_BMP},
        {WiaImgFmt_MEMORYBMP, true, WiaImgFmt_MEMORYBMP},
        // A format the device cannot deliver, and texts that are no GUID.
        {std::string("{B96B3CAE-0728-11D3-9D7B-0000F81EF32E}"), false, WiaImgFmt_MEMORYBMP},
        {std::string("{B96B3CAB-0728-11D3-9D7B-0000F81EF32E}x"), false, WiaImgFmt_MEMORYBMP},
        {std::string("{B96B3CAB-0728-11D3-9D7B-0000F81EF32G}"), false, WiaImgFmt_MEMORYBMP},
        {std::string("{B96B3CAB+0728-11D3-9D7B-0000F81EF32E}"), false, WiaImgFmt_MEMORYBMP},
        {std::string(""), false, WiaImgFmt_MEMORYBMP},
        {5, false, WiaImgFmt_MEMORYBMP},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wia.SetItemProperty(WIA_IPA_FORMAT, c.value), c.written);
        TKVWiaValue now;
        ASSERT_TRUE(wia.GetItemProperty(WIA_IPA_FORMAT, now));
        // Held as a GUID, not as text.
        ASSERT_TRUE(std::holds_alternative<TGUID>(now));
        EXPECT_EQ(std::get<TGUID>(now), c.after) << KVGUIDToString(std::get<TGUID>(now));
    }
}

// --- Transfers

struct PixelCase {
    const char* name;
    const char* mode;
    int depth;
    int resolution;
    const char* picture;
    uint8_t transferFormat;
};

class WiaTransfer : public ::testing::TestWithParam<PixelCase> {};

TEST_P(WiaTransfer, GivesScanimagesPixelsForThePropertiesSet) {
    const PixelCase& c = GetParam();
    TSaneTestDevice device;
    TKVWia wia(nullptr);
    TKVBitmap bitmap;
    wia.Bitmap = &bitmap;
    wia.TransferFormat = c.transferFormat;
    // Device 0 is connected by the first property written.
    ASSERT_TRUE(wia.SetItemPropertyInt(WIA_IPA_TYMED, TYMED_CALLBACK));
    ASSERT_NE(wia.RootItem(), nullptr);
    ASSERT_TRUE(Set(wia, "mode", std::string(c.mode)));
    ASSERT_TRUE(Set(wia, "depth", c.depth));
    ASSERT_TRUE(wia.SetItemPropertyInt(PropertyId(wia, "resolution"), c.resolution));
    ASSERT_TRUE(Set(wia, "test-picture", std::string(c.picture)));
    EXPECT_EQ(Get(wia, "resolution"), TKVWiaValue(double(c.resolution)));
    ASSERT_TRUE(wia.Transfer()) << wia.LastErrorText();
    EXPECT_EQ(bitmap.GetPixelFormat(), c.depth == 1 ? kv1Bit : kv24RGB);
    EXPECT_EQ(wia.XResolution, c.resolution);
    EXPECT_EQ(wia.YResolution, c.resolution);
    const TPnm oracle = ParsePnm(device.Scanimage(std::string("--mode ") + c.mode + " --depth " + std::to_string(c.depth) +
                                                  " --resolution " + std::to_string(c.resolution) + " --test-picture '" +
                                                  c.picture + "' --format=pnm"));
    EXPECT_TRUE(SameAsScanimage(bitmap, oracle));
}

INSTANTIATE_TEST_SUITE_P(
    ModesAndFormats, WiaTransfer,
    ::testing::Values(PixelCase{"Gray50", "Gray", 8, 50, "Color pattern", 0},
                      PixelCase{"Color75Memory", "Color", 8, 75, "Color pattern", 1},
                      PixelCase{"LineArt60", "Gray", 1, 60, "Grid", 0},
                      PixelCase{"LineArt45Memory", "Gray", 1, 45, "Grid", 1},
                      PixelCase{"Gray16At40Memory", "Gray", 16, 40, "Color pattern", 1},
                      PixelCase{"Color16At30", "Color", 16, 30, "Color pattern", 0},
                      // A JPEG transfer is refused silently and the device's own format is sent.
                      PixelCase{"Color50AskedForJpeg", "Color", 8, 50, "Color pattern", 2}),
    [](const ::testing::TestParamInfo<PixelCase>& info) { return std::string(info.param.name); });

TEST(WiaTransferPages, OfUnknownLengthGetTheirRealHeight) {
    TSaneTestDevice device;
    TKVWia wia(nullptr);
    TKVBitmap bitmap;
    wia.Bitmap = &bitmap;
    ASSERT_TRUE(Set(wia, "hand-scanner", 1));
    ASSERT_TRUE(Set(wia, "test-picture", std::string("Color pattern")));
    for (uint8_t format : {0, 1}) {
        wia.TransferFormat = format;
        ASSERT_TRUE(wia.Transfer()) << wia.LastErrorText();
        EXPECT_TRUE(SameAsScanimage(bitmap, ParsePnm(device.Scanimage("--hand-scanner=yes --test-picture 'Color pattern' --format=pnm"))));
    }
}

TEST(WiaTransferPages, ReportProgressBandByBand) {
    TSaneTestDevice device;
    TKVWia wia(nullptr);
    TKVBitmap bitmap;
    wia.Bitmap = &bitmap;
    ASSERT_TRUE(Set(wia, "read-limit", 1));
    ASSERT_TRUE(Set(wia, "read-limit-size", 500));
    std::vector<int> percents;
    wia.OnProgress = [&](int percent) {
        percents.push_back(percent);
        return true;
    };
    ASSERT_TRUE(wia.Transfer()) << wia.LastErrorText();
    // 59 rows of 79 bytes in reads of 500 bytes: a band every 6 or 7 rows.
    ASSERT_GE(percents.size(), 10u);
    EXPECT_EQ(percents.front(), 0);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_GT(std::count_if(percents.begin(), percents.end(), [](int p) { return p > 0 && p < 100; }), 2);
    EXPECT_TRUE(SameAsScanimage(bitmap, ParsePnm(device.Scanimage("--format=pnm"))));
}

TEST(WiaTransferPages, CancelledMidPageAddNothingAndLeaveNoFile) {
    const TScratchFolder folder;
    TSaneTestDevice device;
    TKVWia wia(nullptr);
    TKVBitmap bitmap;
    MarkBitmap(bitmap);
    wia.Bitmap = &bitmap;
    wia.SaveFileName = folder.Path("page.bmp");
    ASSERT_TRUE(Set(wia, "read-limit", 1));
    ASSERT_TRUE(Set(wia, "read-limit-size", 500));
    int pages = 0;
    wia.OnAcquiredParams = [&](TKVWia&, TKVBitmap&, TIOParamsVals*&) { ++pages; };
    int lastPercent = -1;
    wia.OnProgress = [&](int percent) {
        lastPercent = percent;
        return percent == 0 || percent >= 100 || percent < 30;
    };
    EXPECT_FALSE(wia.Transfer());
    EXPECT_GE(lastPercent, 30);
    EXPECT_LT(lastPercent, 100);
    EXPECT_TRUE(wia.LastErrorText().empty()) << wia.LastErrorText();  // a cancel is no error
    EXPECT_TRUE(StillMarked(bitmap));
    EXPECT_EQ(pages, 0);
    EXPECT_TRUE(folder.Files().empty());
    EXPECT_TRUE(device.TempFiles().empty());
    // The device is ready for the next page at once.
    wia.OnProgress = nullptr;
    ASSERT_TRUE(wia.Transfer()) << wia.LastErrorText();
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"page.bmp"});
    EXPECT_TRUE(SameAsScanimage(bitmap, ParsePnm(device.Scanimage("--format=pnm"))));
}

TEST(WiaTransferPages, AreSavedAsPictureFiles) {
    const TScratchFolder folder;
    TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}, {"mode", "Color"}});
    TKVWia wia(nullptr);
    TKVBitmap bitmap;
    wia.Bitmap = &bitmap;
    const TPnm oracle = ParsePnm(device.Scanimage("--format=pnm"));
    for (uint8_t format : {0, 1}) {
        wia.TransferFormat = format;
        wia.SaveFileName = folder.Path("page" + std::to_string(format) + ".bmp");
        ASSERT_TRUE(wia.Transfer()) << wia.LastErrorText();
        const TRgbImage saved = ReadWithImageMagick(wia.SaveFileName);
        ASSERT_EQ(saved.width, oracle.width) << wia.SaveFileName;
        ASSERT_EQ(saved.height, oracle.height);
        int differences = 0;
        for (int y = 0; y < oracle.height; ++y)
            for (int x = 0; x < oracle.width; ++x)
                for (int c = 0; c < 3; ++c) differences += saved.At(x, y)[c] != oracle.At(x, y, c);
        EXPECT_EQ(differences, 0) << wia.SaveFileName;
    }
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"page0.bmp", "page1.bmp"}));
}

TEST(WiaTransferPages, TellTheirParameters) {
    TSaneTestDevice device(TSaneSettings{{"resolution", "72.0"}});
    TKVWia wia(nullptr);
    TKVBitmap bitmap;
    TIOParamsVals asked(nullptr), owners(nullptr);
    wia.Bitmap = &bitmap;
    wia.OwnerParams = &owners;
    TKVBitmap* seen = nullptr;
    wia.OnAcquiredParams = [&](TKVWia& sender, TKVBitmap& page, TIOParamsVals*& record) {
        EXPECT_EQ(&sender, &wia);
        seen = &page;
        record = &asked;
    };
    ASSERT_TRUE(Set(wia, "mode", std::string("Color")));
    ASSERT_TRUE(wia.Transfer()) << wia.LastErrorText();
    EXPECT_EQ(seen, &bitmap);
    const TPnm oracle = ParsePnm(device.Scanimage("--mode Color --format=pnm"));
    for (TIOParamsVals* record : {&asked, &owners}) {
        EXPECT_EQ(record->DpiX(), 72);
        EXPECT_EQ(record->DpiY(), 72);
        EXPECT_EQ(record->Width, oracle.width);
        EXPECT_EQ(record->Height, oracle.height);
        EXPECT_EQ(record->BitsPerSample, 8);
        EXPECT_EQ(record->SamplesPerPixel, 3);
    }
    EXPECT_EQ(wia.XResolution, 72);
}

TEST(WiaTransferPages, ComeFromTheFeederEachApart) {
    TSaneTestDevice device(TSaneSettings{{"resolution", "20.0"}});
    TKVWia wia(nullptr);
    TKVBitmap bitmap;
    wia.Bitmap = &bitmap;
    std::vector<int> heights;
    wia.OnAcquiredParams = [&](TKVWia&, TKVBitmap& page, TIOParamsVals*&) { heights.push_back(page.GetHeight()); };
    // The feeder's ten sheets, each the size of one page rather than of all pages so far.
    ASSERT_TRUE(Set(wia, "source", std::string("Automatic Document Feeder")));
    ASSERT_TRUE(wia.Transfer(nullptr, true)) << wia.LastErrorText();
    TKVWiaValue medium;
    ASSERT_TRUE(wia.GetItemProperty(WIA_IPA_TYMED, medium));
    EXPECT_EQ(medium, TKVWiaValue(TYMED_MULTIPAGE_CALLBACK));
    const TPnm oracle = ParsePnm(device.Scanimage("--resolution 20 --format=pnm"));
    EXPECT_EQ(heights, std::vector<int>(10, oracle.height));
    EXPECT_TRUE(SameAsScanimage(bitmap, oracle));
    // A flatbed gives its one page even when more are asked for.
    heights.clear();
    ASSERT_TRUE(Set(wia, "source", std::string("Flatbed")));
    ASSERT_TRUE(wia.Transfer(nullptr, true)) << wia.LastErrorText();
    EXPECT_EQ(heights.size(), 1u);
    ASSERT_TRUE(wia.GetItemProperty(WIA_IPA_TYMED, medium));
    EXPECT_EQ(medium, TKVWiaValue(TYMED_CALLBACK));
}

TEST(WiaCommands, TakingAPictureIsNoSaneCommand) {
    TSaneTestDevice device;
    TKVWia wia(nullptr);
    TKVWiaItem* item = reinterpret_cast<TKVWiaItem*>(&wia);
    EXPECT_FALSE(wia.DeviceCommand(WIA_CMD_TAKE_PICTURE, item));
    EXPECT_EQ(item, nullptr);
    ASSERT_TRUE(wia.ConnectDevice(0));
    EXPECT_TRUE(wia.TakePicture);
    EXPECT_FALSE(wia.DeviceCommand(WIA_CMD_TAKE_PICTURE, item));
    EXPECT_EQ(item, nullptr);
    // The transfer asks for a picture, is refused, and takes the first image item instead.
    TKVBitmap bitmap;
    wia.Bitmap = &bitmap;
    ASSERT_TRUE(wia.Transfer()) << wia.LastErrorText();
    EXPECT_TRUE(SameAsScanimage(bitmap, ParsePnm(device.Scanimage("--format=pnm"))));
}

TEST(WiaCommands, ATransferNeedsABitmap) {
    TSaneTestDevice device;
    TKVWia wia(nullptr);
    EXPECT_FALSE(wia.Transfer());
    EXPECT_FALSE(wia.LastErrorText().empty());
}

// --- Through the input/output component

struct InstalledScanner {
    InstalledScanner() { InstallScannerProvider(); }
    ~InstalledScanner() { SetAcquireProviderFactory(nullptr); }
};

TEST(WiaComponent, ACancelThroughTheComponentAddsNoPage) {
    TSaneTestDevice device;
    InstalledScanner installed;
    TKestovaIO io;
    ASSERT_TRUE(io.SelectAcquireSource(1));
    std::vector<int> percents;
    io.OnProgress = [&](TObject*, int percent) {
        percents.push_back(percent);
        if (percent > 0) io.AbortFlag = true;
    };
    EXPECT_FALSE(io.Acquire(1));
    EXPECT_TRUE(io.WorkBitmap().IsEmpty());
    EXPECT_EQ(io.AcquireErrorText(), "");
    ASSERT_FALSE(percents.empty());
    EXPECT_NE(percents.back(), 0);
    // Without the cancel the page arrives.
    io.OnProgress = nullptr;
    ASSERT_TRUE(io.Acquire(1)) << io.AcquireErrorText();
    EXPECT_TRUE(SameAsScanimage(io.WorkBitmap(), ParsePnm(device.Scanimage("--format=pnm"))));
    EXPECT_EQ(io.Params().DpiX(), 50);
}

}  // namespace
