#pragma once
// Acquisition from a device by its items and properties: the devices SANE knows with their
// information, a connected device's items (one per option group) whose properties are the
// device's options, and a page moved in bands with progress and cancel into a bitmap.
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "imaging/core/KVCoreUtils.h"
#include "platform/Classes.h"

class TKVBitmap;
class TIOParamsVals;
class TSaneSession;
class TSaneDevice;
struct TSaneOption;
struct TKVWiaDataHeader;
class TWiaDataCallBack;

struct TKVWiaDeviceInfo {
    std::string Name, ID;
    uint8_t DeviceType = 0;  // 0 scanner, 1 camera, 2 video device
    std::string DriverVersion, PortName, ServerName, VendorDescription;
};

// The kind of device a SANE type text names.
uint8_t KVWiaDeviceTypeOf(const std::string& saneType);

// Members of an item's type, one per type flag, and Any for an item with any flag set.
enum TKVWiaItemKind {
    kvwiFree, kvwiImage, kvwiFile, kvwiFolder, kvwiRoot, kvwiAnalyse, kvwiAudio, kvwiDevice, kvwiDeleted,
    kvwiDisconnected, kvwiHorizontalPanorama, kvwiVerticalPanorama, kvwiBurstFirst, kvwiBurst, kvwiStorage,
    kvwiTransfer, kvwiGenerated, kvwiHasAttachments, kvwiVideoFile, kvwiRemoved, kvwiAny, kvwiKindCount
};
using TKVWiaItemType = std::bitset<kvwiKindCount>;
TKVWiaItemType KVWiaItemTypeOf(uint32_t flags);

// Item properties of the transfer itself; every other property is a device option by number.
constexpr uint32_t WIA_IPA_FORMAT = 4106, WIA_IPA_TYMED = 4108;
constexpr int32_t TYMED_CALLBACK = 128, TYMED_MULTIPAGE_CALLBACK = 512;
extern const TGUID WIA_CMD_TAKE_PICTURE;

// A property's value: a number or text, a GUID, or the values of an array option.
using TKVWiaValue = std::variant<int, double, std::string, TGUID, std::vector<double>>;

class TKVWiaItem {
public:
    std::string Name;  // the device's name for the root, else the option group's title
    TKVWiaItemType ItemType;
    std::vector<std::unique_ptr<TKVWiaItem>> Children;
    // The options of the item's group, by property ID.
    std::vector<uint32_t> Properties;
    // The transfer's medium and data format.
    int32_t Medium = TYMED_CALLBACK;
    TGUID Format;
};

class TKVWia {
public:
    // Percent done; false stops the transfer.
    using TProgress = std::function<bool(int percent)>;
    // Asked after each page for a parameter record to fill; leaving it nullptr asks for none.
    using TAcquiredParams = std::function<void(TKVWia& sender, TKVBitmap& bitmap, TIOParamsVals*& params)>;

    explicit TKVWia(TObject* owner);
    ~TKVWia();
    TKVWia(const TKVWia&) = delete;
    TKVWia& operator=(const TKVWia&) = delete;

    // The device list is read on first use and kept; nullptr past its end.
    TKVWiaDeviceInfo* GetDevice(int index);
    bool ConnectDevice(int index);
    bool ConnectDeviceByID(const std::string& id);
    // Shows the device choice and connects the chosen device.
    bool SelectDevice();
    // The connected device's root item, nullptr when none is connected.
    TKVWiaItem* RootItem() const { return root_.get(); }
    // The item itself when it is an image, else the first image among a folder's children.
    static TKVWiaItem* FirstImageItem(TKVWiaItem* item);

    // Properties of the item (the first image item when none is given): device 0 is connected
    // when none is. A value is written only within the option's constraint.
    bool SetItemProperty(uint32_t id, const TKVWiaValue& value, TKVWiaItem* item = nullptr);
    bool SetItemPropertyInt(uint32_t id, int value, TKVWiaItem* item = nullptr);
    bool GetItemProperty(uint32_t id, TKVWiaValue& value, TKVWiaItem* item = nullptr);
    // What the option behind a property is and accepts now; false for the transfer properties.
    bool GetPropertyInfo(uint32_t id, TSaneOption& info);

    // A command to the device; no SANE device takes commands, so each answers false.
    bool DeviceCommand(const TGUID& command, TKVWiaItem*& newItem);

    // One page of the item (the first image item when none is given) into Bitmap, or with
    // multiPage every page of the device's feeder, each handed to OnAcquiredParams; true when all
    // arrived. A cancel through OnProgress stops at once and adds nothing.
    bool Transfer(TKVWiaItem* item = nullptr, bool multiPage = false);

    const std::string& LastErrorText() const { return lastError_; }

    TObject* Owner;
    // The owner component's parameter record, which receives each page's parameters.
    TIOParamsVals* OwnerParams = nullptr;
    TAcquiredParams OnAcquiredParams;
    TProgress OnProgress;
    bool TakePicture = true;
    // When set, each page's data are also written to this file as a BMP file, each page
    // replacing the one before; a page that fails or is cancelled writes nothing.
    std::string SaveFileName;
    // 0 the device's own format, 1 a memory bitmap, 2 JPEG.
    uint8_t TransferFormat = 0;
    TKVBitmap* Bitmap = nullptr;
    int XResolution = 0, YResolution = 0;

private:
    void FillDevices();
    void Disconnect();
    bool Connected();
    TKVWiaItem* Resolve(TKVWiaItem* item);
    bool SendPages(bool multiPage, TWiaDataCallBack& callback, const TGUID& format);
    bool TransferComplete(const TKVWiaDataHeader& header, const std::vector<uint8_t>& data);
    void SaveData(const TKVWiaDataHeader& header, const std::vector<uint8_t>& data);

    std::vector<TKVWiaDeviceInfo> devices_;
    bool devicesFilled_ = false;
    std::unique_ptr<TSaneSession> session_;
    std::unique_ptr<TSaneDevice> device_;
    std::unique_ptr<TKVWiaItem> root_;
    std::string lastError_;
};
