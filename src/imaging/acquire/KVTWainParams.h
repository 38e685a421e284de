#pragma once
// A component's scanner settings: the installed sources and the selected one, the selected
// source's capabilities (read on first use), what acquisition asks of the source, the transfer
// mode and the result of the last scanner call.
#include <array>
#include <string>
#include <vector>

#include "imaging/core/KVLists.h"
#include "platform/Twain.h"

// What the scanner layer keeps between sessions of one component.
struct TKVTWainConnection {
    bool ManagerLoaded = false;
};

enum class TKVTransferMode { Native = 0, Memory = 1, File = 2 };

class TKVTWainParams : public TObject {
public:
    // A multi-image owner starts with feeder, automatic feed and duplex on.
    explicit TKVTWainParams(TObject* owner, bool multiImageOwner = false);
    ~TKVTWainParams() override;
    TKVTWainParams(const TKVTWainParams&) = delete;
    TKVTWainParams& operator=(const TKVTWainParams&) = delete;

    void Reset();
    void FillSourceList();
    void FillCapabilities();
    // The product name of the source, empty past the list.
    std::string GetSourceName(int index);
    int SourceCount();
    // The first source whose product name begins with the text, letter case ignored.
    bool SelectSourceByName(const std::string& name);
    void SetSelectedSource(int index);
    int SelectedSource() const { return selectedSource_; }
    TKVTransferMode TransferMode() const;

    TKVDoubleList& GetXResolution() { FillCapabilities(); return XResolution; }
    TKVDoubleList& GetYResolution() { FillCapabilities(); return YResolution; }
    TKVDoubleList& GetXScaling() { FillCapabilities(); return XScaling; }
    TKVDoubleList& GetYScaling() { FillCapabilities(); return YScaling; }
    TKVDoubleList& GetContrast() { FillCapabilities(); return Contrast; }
    TKVDoubleList& GetBrightness() { FillCapabilities(); return Brightness; }
    TKVDoubleList& GetThreshold() { FillCapabilities(); return Threshold; }
    int GetRotation() { FillCapabilities(); return Rotation; }
    TKVIntegerList& GetPixelType() { FillCapabilities(); return PixelType; }
    TKVIntegerList& GetBitDepth() { FillCapabilities(); return BitDepth; }
    TKVIntegerList& GetOrientation() { FillCapabilities(); return Orientation; }
    TKVIntegerList& GetStandardSize() { FillCapabilities(); return StandardSize; }
    bool GetFeederEnabled() { FillCapabilities(); return FeederEnabled; }
    bool GetAutoFeed() { FillCapabilities(); return AutoFeed; }
    bool GetDuplexEnabled() { FillCapabilities(); return DuplexEnabled; }
    bool GetAcquireFrameEnabled() { FillCapabilities(); return AcquireFrameEnabled; }
    bool GetProgressIndicators() { FillCapabilities(); return ProgressIndicators; }
    // 0 left, 1 top, 2 right, 3 bottom; 0 for other indexes.
    double GetAcquireFrame(int index);
    bool GetUndefinedImageSize() const { return UndefinedImageSize; }
    bool GetBufferedTransfer() const { return BufferedTransfer; }
    bool GetFileTransfer() const { return FileTransfer; }
    void SetFileTransfer(bool value) { FileTransfer = value; }

    TObject* Owner;
    bool VisibleDialog = true;
    TKVDoubleList XResolution, YResolution, XScaling, YScaling, Contrast, Brightness, Threshold;
    TKVIntegerList PixelType, BitDepth, Orientation, StandardSize;
    double Gamma = 2.2, PhysicalWidth = 0, PhysicalHeight = 0;
    bool FeederEnabled = false, ProgressIndicators = true, BufferedTransfer = true, FileTransfer = false;
    bool DuplexEnabled = false, AcquireFrameEnabled = false, UndefinedImageSize = false, AutoFeed = false;
    bool FeederLoaded = false, Duplex = false, PaperDetectable = false, UIControllable = false;
    std::array<double, 4> AcquireFrame{};
    int Rotation = 0;
    std::string AppVersionInfo, AppManufacturer, AppProductFamily, AppProductName;
    bool CompatibilityMode = false;
    TKVTWainConnection Connection;
    int LastError = 0;
    std::string LastErrorText;
    // The installed sources, in the manager's order.
    std::vector<TW_IDENTITY> Sources;

private:
    bool multiImageOwner_;
    int selectedSource_ = 0;
    bool sourcesFilled_ = false, capabilitiesRead_ = false;
};
