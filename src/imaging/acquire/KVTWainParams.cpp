#include "imaging/acquire/KVTWainParams.h"

#include <cctype>
#include <cstring>

#include "imaging/acquire/KVTWain.h"

TKVTWainParams::TKVTWainParams(TObject* owner, bool multiImageOwner) : Owner(owner), multiImageOwner_(multiImageOwner) {
    Reset();
}

TKVTWainParams::~TKVTWainParams() { KVTW_FreeResources(Connection); }

void TKVTWainParams::Reset() {
    Sources.clear();
    selectedSource_ = 0;
    sourcesFilled_ = capabilitiesRead_ = false;
    VisibleDialog = true;
    for (TKVDoubleList* list : {&XResolution, &YResolution, &XScaling, &YScaling, &Contrast, &Brightness, &Threshold})
        list->Clear();
    for (TKVIntegerList* list : {&PixelType, &BitDepth, &Orientation, &StandardSize}) list->Clear();
    Gamma = 2.2;
    PhysicalWidth = PhysicalHeight = 0;
    FeederEnabled = DuplexEnabled = AutoFeed = multiImageOwner_;
    ProgressIndicators = true;
    AcquireFrame = {};
    BufferedTransfer = true;
    FileTransfer = AcquireFrameEnabled = UndefinedImageSize = CompatibilityMode = false;
    Rotation = 0;
    AppVersionInfo.clear();
    AppManufacturer.clear();
    AppProductFamily.clear();
    AppProductName.clear();
    LastError = 0;
    LastErrorText.clear();
}

void TKVTWainParams::FillSourceList() {
    if (sourcesFilled_) return;
    KVTW_GetSourceList(Sources, *this);
    sourcesFilled_ = true;
}

void TKVTWainParams::FillCapabilities() {
    if (capabilitiesRead_) return;
    FillSourceList();
    KVTW_GetCapabilities(*this, false);
    capabilitiesRead_ = true;
}

int TKVTWainParams::SourceCount() {
    FillSourceList();
    return static_cast<int>(Sources.size());
}

std::string TKVTWainParams::GetSourceName(int index) {
    FillSourceList();
    if (index < 0 || index >= static_cast<int>(Sources.size())) return {};
    const char* name = Sources[static_cast<size_t>(index)].ProductName;
    return {name, strnlen(name, sizeof Sources[0].ProductName)};
}

bool TKVTWainParams::SelectSourceByName(const std::string& name) {
    FillSourceList();
    auto startsWith = [&](const std::string& product) {
        if (product.size() < name.size()) return false;
        for (size_t i = 0; i < name.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(product[i])) != std::tolower(static_cast<unsigned char>(name[i])))
                return false;
        return true;
    };
    for (int i = 0; i < static_cast<int>(Sources.size()); ++i)
        if (startsWith(GetSourceName(i))) {
            if (i != selectedSource_) SetSelectedSource(i);
            return true;
        }
    return false;
}

void TKVTWainParams::SetSelectedSource(int index) {
    if (index == selectedSource_) return;
    selectedSource_ = index;
    capabilitiesRead_ = false;
    FillCapabilities();
}

TKVTransferMode TKVTWainParams::TransferMode() const {
    if (FileTransfer || CompatibilityMode) return TKVTransferMode::File;
    return BufferedTransfer ? TKVTransferMode::Memory : TKVTransferMode::Native;
}

double TKVTWainParams::GetAcquireFrame(int index) {
    FillCapabilities();
    return index >= 0 && index < 4 ? AcquireFrame[static_cast<size_t>(index)] : 0;
}
