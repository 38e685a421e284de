#include "imaging/acquire/KVTWain.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>

#include "imaging/acquire/VideoFrame.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFormatDetect.h"
#include "imaging/io/KVFormatDrivers.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"
#include "platform/TempFiles.h"

namespace {

void Log(const std::string& message) {
    if (KVTWainLogName.empty()) return;
    std::ifstream exists(KVTWainLogName);
    if (!exists) return;
    std::ofstream log(KVTWainLogName, std::ios::app);
    const std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    log << stamp << " : " << message << '\n';
}

// The outcome line of a step: "  step : Ok" or "  step : FAILED!".
bool Outcome(const char* step, bool ok) {
    Log(std::string("  ") + step + (ok ? " : Ok" : " : FAILED!"));
    return ok;
}

void Invert1Bit(TKVBitmap& bitmap) {
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        for (int i = 0; i < (bitmap.GetWidth() + 7) / 8; ++i) row[i] = static_cast<uint8_t>(~row[i]);
    }
}

// A private file for the source to write, removed when it goes out of scope.
class TempTransferFile {
public:
    TempTransferFile() {
        const char* folder = std::getenv("TMPDIR");
        std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/mordale-scan." +
                              std::to_string(getpid()) + ".XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) return;
        close(fd);
        name_ = pattern;
        ticket_ = RememberTempFile(name_);
    }
    ~TempTransferFile() {
        if (name_.empty()) return;
        std::remove(name_.c_str());
        ForgetTempFile(ticket_);
    }
    TempTransferFile(const TempTransferFile&) = delete;
    TempTransferFile& operator=(const TempTransferFile&) = delete;
    const std::string& Name() const { return name_; }

private:
    std::string name_;
    int ticket_ = 0;
};

// One strip of a page of unknown length, kept until the page's length is known.
struct StoredStrip {
    TW_IMAGEMEMXFER record;
    std::vector<uint8_t> data;
};

class Session {
public:
    explicit Session(TKVTWainParams& params)
        : params_(params), app_(TwainIdentity(0, " ", " ", " ", " ")), mode_(params.TransferMode()) {}
    ~Session() {
        CloseSource();
        CloseManager();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void TakeIdentity() {
        app_ = TwainIdentity(0, params_.AppManufacturer, params_.AppProductFamily, params_.AppProductName,
                             params_.AppVersionInfo);
    }

    bool OpenManager() {
        Log("KVTW_OpenSourceManager");
        params_.Connection.ManagerLoaded = true;
        state_ = 2;
        if (!Outcome("KVTW_OpenSourceManager", Mgr(DAT_PARENT, MSG_OPENDSM, nullptr))) return false;
        state_ = 3;
        return true;
    }

    void CloseManager() {
        if (state_ != 3) return;
        Log("KVTW_CloseSourceManager");
        if (Outcome("KVTW_CloseSourceManager", Mgr(DAT_PARENT, MSG_CLOSEDSM, nullptr))) state_ = 2;
    }

    // Enumerates into the list; stops at the end or at the first failure.
    void ListSources(std::vector<TW_IDENTITY>& list) {
        TW_IDENTITY identity{};
        for (TW_UINT16 msg = MSG_GETFIRST; Mgr(DAT_IDENTITY, msg, &identity); msg = MSG_GETNEXT) {
            if (identity.ProductName[0] != 0) list.push_back(identity);
            identity = {};
        }
    }

    bool UserSelect(std::string& name) {
        TW_IDENTITY identity{};
        if (!Mgr(DAT_IDENTITY, MSG_USERSELECT, &identity)) return false;
        name.assign(identity.ProductName, strnlen(identity.ProductName, sizeof identity.ProductName));
        return true;
    }

    // The caller has filled the parameter object's source list: filling it here would open a
    // second manager session inside this one.
    bool OpenSource() {
        Log("KVTW_OpenSource");
        if (state_ != 3) return Outcome("KVTW_OpenSource", false);
        const std::string wanted = params_.GetSourceName(params_.SelectedSource());
        source_ = {};
        if (!wanted.empty()) {
            TW_IDENTITY identity{};
            for (TW_UINT16 msg = MSG_GETFIRST; Mgr(DAT_IDENTITY, msg, &identity); msg = MSG_GETNEXT) {
                source_ = identity;
                if (wanted == identity.ProductName) break;
                identity = {};
            }
            if (wanted != source_.ProductName) {
                Record(TWRC_FAILURE, TWCC_NODS, false);
                return Outcome("KVTW_OpenSource", false);
            }
        }
        if (!Outcome("KVTW_OpenSource", Mgr(DAT_IDENTITY, MSG_OPENDS, &source_))) return false;
        state_ = 4;
        return true;
    }

    void CloseSource() {
        if (state_ >= 6) AbortAllPendingTransfers();
        if (state_ == 5) DisableSource();
        if (state_ != 4) return;
        Log("KVTW_CloseSource");
        if (Outcome("KVTW_CloseSource", Mgr(DAT_IDENTITY, MSG_CLOSEDS, &source_))) state_ = 3;
    }

    bool EnableSource() {
        Log("KVTW_EnableSource");
        TW_USERINTERFACE ui{static_cast<TW_BOOL>(params_.VisibleDialog), 1, nullptr};
        Log("  KVTW_EnableSource : ShowUI=" + std::to_string(ui.ShowUI) + " ModalUI=1");
        if (!Outcome("KVTW_EnableSource", DS(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui))) return false;
        state_ = 5;
        return true;
    }

    void DisableSource() {
        Log("KVTW_DisableSource");
        TW_USERINTERFACE ui{};
        if (state_ == 5 && Outcome("KVTW_DisableSource", DS(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui)))
            state_ = 4;
    }

    void AbortAllPendingTransfers() {
        Log("KVTW_AbortAllPendingXfers");
        TW_PENDINGXFERS pending{};
        if (state_ == 7 && DS(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending))
            state_ = pending.Count != 0 ? 6 : 5;
        if (state_ == 6 && DS(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending)) state_ = 5;
    }

    // Writes the user's settings into the source; single failures do not stop the negotiation.
    void SetCapabilities();
    void GetCapabilities(bool setFirst);

    // Runs the source until an image arrived, the source asks to be closed or has nothing to say.
    void EventLoop(TKVBitmap& bitmap, const TKVTWainPageCallback& onPage, bool nativePixelFormat,
                   TKVProgressRec& progress, TIOParamsVals* ioParams);

    // A source in compatibility mode is asked nothing but a file transfer.
    void AskPages(int count) {
        if (!params_.CompatibilityMode) SetOne(CAP_XFERCOUNT, TWTY_INT16, count);
    }
    bool Acquired() const { return acquired_; }
    bool InvertBW() const { return invertBW_; }

private:
    bool Call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        lastRC_ = DSM_Entry(&app_, dest, dg, dat, msg, data);
        if (lastRC_ != TWRC_SUCCESS && lastRC_ != TWRC_ENDOFLIST && lastRC_ != TWRC_XFERDONE) {
            TW_STATUS status{};
            const TW_UINT16 code =
                DSM_Entry(&app_, state_ >= 4 ? dest : nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status) == TWRC_SUCCESS
                    ? status.ConditionCode : TWCC_BUMMER;
            Record(lastRC_, code, dest != nullptr);
        }
        return lastRC_ == TWRC_SUCCESS;
    }
    bool Mgr(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) { return Call(nullptr, DG_CONTROL, dat, msg, data); }
    bool DS(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) { return Call(&source_, dg, dat, msg, data); }

    // A cancel, or a failure that comes without a condition, has no reason to tell: the text of
    // condition 0 says the operation worked.
    void Record(TW_UINT16 rc, TW_UINT16 condition, bool fromSource) {
        params_.LastError = rc;
        params_.LastErrorText = condition == TWCC_SUCCESS ? std::string() : KVTW_ConditionText(condition);
        Log((fromSource ? "KVTW_DS : " : "KVTW_Mgr : ") + KVTW_ConditionText(condition));
    }

    // Capability helpers.
    // The capability's container, freed by the caller; false when the source has none to give.
    bool GetCapability(TW_CAPABILITY& capability) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", capability.Cap);
        Log(std::string("GetCapability : $") + hex);
        capability.ConType = TWON_DONTCARE16;
        capability.hContainer = nullptr;
        return Outcome("GetCapability", DS(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability));
    }
    bool GetValues(TW_UINT16 cap, TTwainValues& values) {
        TW_CAPABILITY capability{cap, TWON_DONTCARE16, nullptr};
        if (!GetCapability(capability)) return false;
        const bool read = TwainReadContainer(capability.ConType, capability.hContainer, values);
        TwainFree(capability.hContainer);
        return read;
    }
    bool Set(TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE container) {
        TTwainValues ignored;
        if (!GetValues(cap, ignored)) {
            TwainFree(container);
            return false;
        }
        TW_CAPABILITY capability{cap, conType, container};
        const bool set = DS(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
        TwainFree(container);
        return set;
    }
    bool SetOne(TW_UINT16 cap, TW_UINT16 itemType, double value) {
        const char* writer = itemType == TWTY_BOOL    ? "SetOnBoolCapability"
                             : itemType == TWTY_FIX32 ? "SetOneDoubleAsFIX32Capability"
                                                      : "SetOneUINT16Capability";
        Log(writer);
        return Outcome(writer, Set(cap, TWON_ONEVALUE, TwainOneValue(itemType, value)));
    }
    template <typename T>
    bool SetList(TW_UINT16 cap, TW_UINT16 itemType, TKVValueList<T>& list);
    template <typename T>
    bool ReadList(TW_UINT16 cap, TKVValueList<T>& list);
    bool ReadOne(TW_UINT16 cap, double& value) {
        TTwainValues values;
        if (!GetValues(cap, values) || values.ConType != TWON_ONEVALUE) return false;
        value = values.Current;
        return true;
    }
    bool ReadBool(TW_UINT16 cap, bool& value) {
        double v = 0;
        if (!ReadOne(cap, v)) return false;
        value = v != 0;
        return true;
    }
    void MakeInches() {
        TTwainValues units;
        if (GetValues(ICAP_UNITS, units) && units.HasCurrent && units.Current != TWUN_INCHES)
            SetOne(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
    }

    // Transfers.
    bool ImageInfo(TW_IMAGEINFO& info);
    // The bitmap sized and formatted for the image; false for an image without width or length.
    bool Prepare(const TW_IMAGEINFO& info, TKVBitmap& bitmap, bool nativePixelFormat);
    void FillParams(const TW_IMAGEINFO& info, TIOParamsVals* ioParams);
    // The image into the bitmap in the session's mode; true when it arrived whole.
    bool TransferImage(TKVBitmap& bitmap, bool nativePixelFormat, TKVProgressRec& progress, TIOParamsVals* ioParams);
    bool NativeTransfer(TKVBitmap& bitmap);
    bool MemoryTransfer(TKVBitmap& bitmap, TW_IMAGEINFO info, bool nativePixelFormat, TKVProgressRec& progress,
                        TIOParamsVals* ioParams);
    bool FileTransfer(TKVBitmap& bitmap);
    // The source's caption of the image; empty when it has none.
    std::string Caption();

    TKVTWainParams& params_;
    TW_IDENTITY app_, source_{};
    int state_ = 1;
    TW_UINT16 lastRC_ = TWRC_SUCCESS;
    TKVTransferMode mode_;
    TKVTransferMode imageMode_ = TKVTransferMode::Native;
    bool acquired_ = false, invertBW_ = false;
};

template <typename T>
bool Session::SetList(TW_UINT16 cap, TW_UINT16 itemType, TKVValueList<T>& list) {
    const char* writer = itemType == TWTY_FIX32 ? "SetDoubleAsFIX32Capability" : "SetIntegerAsUINT16Capability";
    Log(writer);
    bool result = true;
    const uint8_t flags = list.ChangeFlags();
    if (flags & kvlItemsChanged) {
        std::vector<double> items;
        for (int i = 0; i < list.Count(); ++i) items.push_back(list.GetItem(i));
        const int current = std::max(0, list.IndexOf(list.CurrentValue()));
        result = Set(cap, TWON_ENUMERATION, TwainEnumeration(itemType, items, static_cast<TW_UINT32>(current), 0));
    }
    if (flags & kvlCurrentChanged) result = Set(cap, TWON_ONEVALUE, TwainOneValue(itemType, list.CurrentValue()));
    if (flags & kvlRangeChanged)
        result = Set(cap, TWON_RANGE, TwainRange(itemType, list.RangeMin(), list.RangeMax(), list.RangeStep(), 0,
                                                 list.CurrentValue()));
    return Outcome(writer, result);
}

template <typename T>
bool Session::ReadList(TW_UINT16 cap, TKVValueList<T>& list) {
    TW_CAPABILITY capability{cap, TWON_DONTCARE16, nullptr};
    if (!GetCapability(capability)) return false;
    const bool read = KVTW_ContainerToList(cap, capability.ConType, capability.hContainer, list);
    TwainFree(capability.hContainer);
    return read;
}

void Session::SetCapabilities() {
    Log("KVTW_SetCapabilities");
    if (params_.CompatibilityMode) {
        // A source transfers a file only when its mechanism says so: the one setting made.
        mode_ = TKVTransferMode::File;
        SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE);
        return;
    }
    MakeInches();
    TTwainValues flavour;
    SetOne(ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_CHOCOLATE);
    invertBW_ = GetValues(ICAP_PIXELFLAVOR, flavour) && flavour.HasCurrent && flavour.Current == TWPF_VANILLA;
    if (params_.UndefinedImageSize) SetOne(ICAP_UNDEFINEDIMAGESIZE, TWTY_BOOL, 1);
    for (auto [cap, list] : {std::pair{ICAP_CONTRAST, &params_.Contrast}, std::pair{ICAP_BRIGHTNESS, &params_.Brightness},
                             std::pair{ICAP_THRESHOLD, &params_.Threshold}})
        if (list->ChangeFlags() != 0) SetList(cap, TWTY_FIX32, *list);
    if (params_.Rotation != 0) SetOne(ICAP_ROTATION, TWTY_FIX32, params_.Rotation);
    SetList(ICAP_XRESOLUTION, TWTY_FIX32, params_.XResolution);
    SetList(ICAP_YRESOLUTION, TWTY_FIX32, params_.YResolution);
    SetList(ICAP_XSCALING, TWTY_FIX32, params_.XScaling);
    SetList(ICAP_YSCALING, TWTY_FIX32, params_.YScaling);
    if (params_.PixelType.CurrentValue() > TWPT_RGB) params_.PixelType.SetCurrentValue(TWPT_RGB);
    bool typeWritten = SetList(ICAP_PIXELTYPE, TWTY_UINT16, params_.PixelType);
    SetList(ICAP_BITDEPTH, TWTY_UINT16, params_.BitDepth);
    TTwainValues planar, type;
    if (GetValues(ICAP_PLANARCHUNKY, planar) && planar.HasCurrent && planar.Current != TWPC_CHUNKY && typeWritten &&
        GetValues(ICAP_PIXELTYPE, type) && type.HasCurrent && type.Current == TWPT_RGB)
        typeWritten = SetOne(ICAP_PLANARCHUNKY, TWTY_UINT16, TWPC_CHUNKY);
    TTwainValues mechanisms, mechanism;
    if (mode_ == TKVTransferMode::Memory) {
        const bool offered = typeWritten && GetValues(ICAP_XFERMECH, mechanisms) &&
                             std::find(mechanisms.Items.begin(), mechanisms.Items.end(), TWSX_MEMORY) != mechanisms.Items.end();
        const bool memory = offered && SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY) &&
                            GetValues(ICAP_XFERMECH, mechanism) && mechanism.HasCurrent && mechanism.Current == TWSX_MEMORY;
        if (!memory) mode_ = TKVTransferMode::Native;
    }
    if (mode_ != TKVTransferMode::Memory) SetOne(ICAP_XFERMECH, TWTY_UINT16, mode_ == TKVTransferMode::File ? TWSX_FILE : TWSX_NATIVE);
    SetOne(CAP_FEEDERENABLED, TWTY_BOOL, params_.FeederEnabled);
    if (params_.FeederEnabled) SetOne(CAP_AUTOFEED, TWTY_BOOL, params_.AutoFeed);
    if (params_.Orientation.ChangeFlags() != 0) SetList(ICAP_ORIENTATION, TWTY_UINT16, params_.Orientation);
    if (params_.StandardSize.ChangeFlags() != 0) SetList(ICAP_SUPPORTEDSIZES, TWTY_UINT16, params_.StandardSize);
    SetOne(CAP_INDICATORS, TWTY_BOOL, params_.ProgressIndicators);
    SetOne(CAP_DUPLEXENABLED, TWTY_BOOL, params_.DuplexEnabled);
    if (params_.AcquireFrameEnabled) {
        TW_IMAGELAYOUT layout{};
        TW_FIX32* edges[] = {&layout.Frame.Left, &layout.Frame.Top, &layout.Frame.Right, &layout.Frame.Bottom};
        for (size_t i = 0; i < 4; ++i) *edges[i] = TwainToFix32(params_.AcquireFrame[i]);
        DS(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
    }
}

void Session::GetCapabilities(bool setFirst) {
    if (setFirst) SetCapabilities();
    std::vector<std::pair<TKVList*, uint8_t>> saved;
    for (TKVList* list : std::initializer_list<TKVList*>{&params_.XResolution, &params_.YResolution, &params_.XScaling,
                                                         &params_.YScaling, &params_.PixelType, &params_.BitDepth,
                                                         &params_.Orientation, &params_.Contrast, &params_.Brightness,
                                                         &params_.StandardSize, &params_.Threshold})
        saved.emplace_back(list, list->ChangeFlags());
    if (!params_.CompatibilityMode) MakeInches();
    if (!ReadList(ICAP_XRESOLUTION, params_.XResolution)) params_.XResolution.Clear();
    if (!ReadList(ICAP_YRESOLUTION, params_.YResolution)) params_.YResolution.Clear();
    if (!params_.CompatibilityMode) {
        for (auto [cap, list] : {std::pair{ICAP_XSCALING, &params_.XScaling}, std::pair{ICAP_YSCALING, &params_.YScaling}})
            if (!ReadList(cap, *list)) {
                list->Clear();
                list->Add(1.0);
                list->SetCurrentValue(1.0);
            }
        for (auto [cap, list] : {std::pair{ICAP_CONTRAST, &params_.Contrast}, std::pair{ICAP_BRIGHTNESS, &params_.Brightness},
                                 std::pair{ICAP_THRESHOLD, &params_.Threshold}})
            if (!ReadList(cap, *list)) list->Clear();
        double value = 0;
        params_.Rotation = ReadOne(ICAP_ROTATION, value) ? static_cast<int>(value) : 0;
        if (!ReadList(ICAP_PIXELTYPE, params_.PixelType)) params_.PixelType.Clear();
        if (!ReadList(ICAP_BITDEPTH, params_.BitDepth)) params_.BitDepth.Clear();
        params_.Gamma = ReadOne(ICAP_GAMMA, value) ? value : 2.2;
        params_.PhysicalHeight = ReadOne(ICAP_PHYSICALHEIGHT, value) ? value : 0;
        params_.PhysicalWidth = ReadOne(ICAP_PHYSICALWIDTH, value) ? value : 0;
        for (auto [cap, flag] : {std::pair{CAP_FEEDERENABLED, &params_.FeederEnabled}, std::pair{CAP_AUTOFEED, &params_.AutoFeed},
                                 std::pair{CAP_FEEDERLOADED, &params_.FeederLoaded},
                                 std::pair{CAP_UICONTROLLABLE, &params_.UIControllable},
                                 std::pair{CAP_DUPLEXENABLED, &params_.DuplexEnabled},
                                 std::pair{CAP_PAPERDETECTABLE, &params_.PaperDetectable}})
            if (!ReadBool(cap, *flag)) *flag = false;
        params_.Duplex = ReadOne(CAP_DUPLEX, value) && value != 0;
        if (!ReadList(ICAP_ORIENTATION, params_.Orientation)) {
            params_.Orientation.Clear();
            params_.Orientation.Add(0);
        }
        if (!ReadList(ICAP_SUPPORTEDSIZES, params_.StandardSize)) params_.StandardSize.Clear();
        if (!ReadBool(CAP_INDICATORS, params_.ProgressIndicators)) params_.ProgressIndicators = true;
        TW_IMAGELAYOUT layout{};
        if (params_.AcquireFrameEnabled && DS(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout)) {
            const TW_FIX32 edges[] = {layout.Frame.Left, layout.Frame.Top, layout.Frame.Right, layout.Frame.Bottom};
            for (size_t i = 0; i < 4; ++i) params_.AcquireFrame[i] = TwainFromFix32(edges[i]);
        }
    }
    for (auto [list, flags] : saved) list->SetChangeFlags(setFirst ? flags : 0);
}

// --- Transfers

TKVPixelFormat FormatOf(int bitsPerPixel, bool nativePixelFormat) {
    if (bitsPerPixel == 1) return kv1Bit;
    if (!nativePixelFormat) return kv24RGB;
    switch (bitsPerPixel) {
    case 8: return kv8Gray;
    case 16: return kv16Gray;
    case 48: return kvRGB48;
    default: return kv24RGB;
    }
}

bool Session::ImageInfo(TW_IMAGEINFO& info) {
    info = {};
    if (!DS(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info)) {
        Log("KVTW_XferReady.ImageInfo : not available!");
        return false;
    }
    imageMode_ = mode_;
    if (mode_ != TKVTransferMode::File && (info.PixelType > TWPT_RGB || info.Planar || info.Compression != 0))
        imageMode_ = TKVTransferMode::Native;
    return true;
}

bool Session::Prepare(const TW_IMAGEINFO& info, TKVBitmap& bitmap, bool nativePixelFormat) {
    if (info.ImageWidth < 0 || info.ImageLength < 0) return true;
    if (info.ImageWidth == 0 || info.ImageLength == 0) return false;
    if (!PictureSizeProblem(info.ImageWidth, info.ImageLength, info.BitsPerPixel, -1).empty()) return false;
    const TKVPixelFormat format = FormatOf(info.BitsPerPixel, nativePixelFormat);
    if (bitmap.GetWidth() != info.ImageWidth || bitmap.GetHeight() != info.ImageLength || bitmap.GetPixelFormat() != format)
        bitmap.Allocate(info.ImageWidth, info.ImageLength, format);
    return true;
}

void Session::FillParams(const TW_IMAGEINFO& info, TIOParamsVals* ioParams) {
    if (!ioParams) return;
    if (info.BitsPerPixel >= 1 && info.BitsPerPixel <= 8) {
        ioParams->BitsPerSample = info.BitsPerPixel;
        ioParams->SamplesPerPixel = 1;
    } else if (info.BitsPerPixel == 24 || info.BitsPerPixel == 48) {
        ioParams->BitsPerSample = info.BitsPerPixel / 3;
        ioParams->SamplesPerPixel = 3;
    }
    ioParams->SetDpiX(static_cast<int>(std::lround(TwainFromFix32(info.XResolution))));
    ioParams->SetDpiY(static_cast<int>(std::lround(TwainFromFix32(info.YResolution))));
    ioParams->Width = info.ImageWidth;
    ioParams->Height = info.ImageLength;
}

bool Session::NativeTransfer(TKVBitmap& bitmap) {
    TW_HANDLE handle = nullptr;
    const bool done = DS(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle) || lastRC_ == TWRC_XFERDONE;
    std::unique_ptr<TW_MEMBLOCK> owned(handle);
    state_ = lastRC_ == TWRC_XFERDONE || lastRC_ == TWRC_CANCEL ? 7 : 6;
    if (!done || lastRC_ != TWRC_XFERDONE || !owned) return false;
    try {
        KVDecodeVideoFrame(owned->Bytes, bitmap);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool Session::FileTransfer(TKVBitmap& bitmap) {
    TempTransferFile file;
    TW_SETUPFILEXFER setup{};
    if (file.Name().empty() || file.Name().size() >= sizeof setup.FileName ||
        !DS(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &setup))
        return false;
    std::memset(setup.FileName, 0, sizeof setup.FileName);
    std::memcpy(setup.FileName, file.Name().data(), file.Name().size());
    if (setup.Format != TWFF_TIFF && setup.Format != TWFF_BMP && setup.Format != TWFF_JFIF && setup.Format != TWFF_PNG)
        setup.Format = TWFF_BMP;
    setup.VRefNum = 0;
    if (!DS(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup)) return false;
    DS(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
    state_ = lastRC_ == TWRC_XFERDONE || lastRC_ == TWRC_CANCEL ? 7 : 6;
    return lastRC_ == TWRC_XFERDONE && KVTW_LoadTransferFile(file.Name(), bitmap);
}

bool Session::MemoryTransfer(TKVBitmap& bitmap, TW_IMAGEINFO info, bool nativePixelFormat, TKVProgressRec& progress,
                             TIOParamsVals* ioParams) {
    const bool undefined = info.ImageWidth < 0 || info.ImageLength < 0;
    TW_SETUPMEMXFER setup{};
    if (!DS(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) || setup.Preferred == 0 || setup.Preferred > (64u << 20))
        return false;
    std::vector<uint8_t> buffer(setup.Preferred, 0);
    std::vector<StoredStrip> stored;
    int64_t storedBytes = 0;
    const int64_t storedLimit = PictureLimits().maxPixels * 6;
    for (;;) {
        TW_IMAGEMEMXFER strip{};
        strip.Compression = TWON_DONTCARE16;
        strip.BytesPerRow = strip.Columns = strip.Rows = strip.XOffset = strip.YOffset = strip.BytesWritten = TWON_DONTCARE32;
        strip.Memory = {TWMF_APPOWNS | TWMF_HANDLE, setup.Preferred, buffer.data()};
        DS(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
        if (lastRC_ == TWRC_SUCCESS || lastRC_ == TWRC_XFERDONE) {
            state_ = 7;
            Log("CopyBuffer compression=" + std::to_string(strip.Compression) + " BytesPerRow=" +
                std::to_string(strip.BytesPerRow) + " Columns=" + std::to_string(strip.Columns) + " Rows=" +
                std::to_string(strip.Rows) + " XOffset=" + std::to_string(strip.XOffset) + " YOffset=" +
                std::to_string(strip.YOffset) + " BytesWritten=" + std::to_string(strip.BytesWritten));
            if (!undefined) {
                KVTW_CopyBuffer(strip, buffer.size(), info.BitsPerPixel, nativePixelFormat, bitmap);
            } else {
                const int64_t bytes = std::min<int64_t>(int64_t(strip.BytesPerRow) * strip.Rows, int64_t(buffer.size()));
                storedBytes += bytes;
                if (storedBytes > storedLimit) return false;
                stored.push_back({strip, std::vector<uint8_t>(buffer.begin(), buffer.begin() + bytes)});
            }
            if (lastRC_ == TWRC_XFERDONE) break;
            if (!undefined) progress.Report(static_cast<int>((int64_t(strip.YOffset) + strip.Rows)));
            if (progress.Aborted()) return false;
            continue;
        }
        // Cancel, failure and codes the protocol does not give here all end the image unfinished.
        state_ = lastRC_ == TWRC_CANCEL ? 7 : state_;
        return false;
    }
    if (undefined) {
        // The page is complete, so the source now knows its length.
        if (!ImageInfo(info) || info.ImageWidth <= 0 || info.ImageLength <= 0 || !Prepare(info, bitmap, nativePixelFormat))
            return false;
        FillParams(info, ioParams);
        for (StoredStrip& s : stored) {
            s.record.Memory.TheMem = s.data.data();
            KVTW_CopyBuffer(s.record, s.data.size(), info.BitsPerPixel, nativePixelFormat, bitmap);
        }
    }
    return true;
}

std::string Session::Caption() {
    TW_CAPABILITY capability{CAP_CAPTION, TWON_DONTCARE16, nullptr};
    if (params_.CompatibilityMode || !GetCapability(capability)) return {};
    std::string text = TwainReadText(capability.hContainer);
    TwainFree(capability.hContainer);
    return text;
}

bool Session::TransferImage(TKVBitmap& bitmap, bool nativePixelFormat, TKVProgressRec& progress, TIOParamsVals* ioParams) {
    TW_IMAGEINFO info;
    if (!ImageInfo(info) || !Prepare(info, bitmap, nativePixelFormat)) return false;
    FillParams(info, ioParams);
    bool whole = false;
    switch (imageMode_) {
    case TKVTransferMode::Native: whole = NativeTransfer(bitmap); break;
    case TKVTransferMode::File: whole = FileTransfer(bitmap); break;
    case TKVTransferMode::Memory: {
        TKVProgressRec strips = progress;
        strips.PercentFactor = info.ImageLength > 0 ? 100.0 / info.ImageLength : 0;
        whole = MemoryTransfer(bitmap, info, nativePixelFormat, strips, ioParams);
        break;
    }
    }
    // The caption belongs to the image just transferred, so it is read before the transfer ends.
    if (whole && ioParams) ioParams->TiffImageDescription = Caption();
    return whole;
}

void Session::EventLoop(TKVBitmap& bitmap, const TKVTWainPageCallback& onPage, bool nativePixelFormat,
                        TKVProgressRec& progress, TIOParamsVals* ioParams) {
    while (state_ >= 5 && !acquired_) {
        TW_EVENT event{nullptr, MSG_NULL};
        if (DSM_Entry(&app_, &source_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) != TWRC_DSEVENT) return;
        if (event.TWMessage == MSG_CLOSEDSREQ) return;
        if (event.TWMessage != MSG_XFERREADY) continue;
        state_ = 6;
        if (!onPage) {
            Log("KVTW_XferReady");
            bool whole = TransferImage(bitmap, nativePixelFormat, progress, ioParams);
            if (whole && bitmap.GetPixelFormat() == kv1Bit && invertBW_) Invert1Bit(bitmap);
            acquired_ = whole;
            if (!whole && ioParams) ioParams->Width = ioParams->Height = 0;
            AbortAllPendingTransfers();
            Log("  KVTW_XferReady : end");
            return;
        }
        // Every page the feeder holds, each in a bitmap of its own.
        Log("KVTW_XferReadyMulti");
        while (state_ == 6 && !progress.Aborted()) {
            TKVBitmap page;
            if (!TransferImage(page, nativePixelFormat, progress, ioParams)) break;
            if (page.GetPixelFormat() == kv1Bit && invertBW_) Invert1Bit(page);
            onPage(page, ioParams);
            acquired_ = true;
            TW_PENDINGXFERS pending{};
            if (state_ == 7 && DS(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending)) state_ = pending.Count != 0 ? 6 : 5;
        }
        AbortAllPendingTransfers();
        Log("  KVTW_XferReadyMulti : end");
        return;
    }
}

}  // namespace

std::string KVTW_ConditionText(unsigned code) {
    static const char* const texts[] = {
        "Operation worked.",
        "General failure. Unload Source immediately.",
        "Not enough memory to complete operation.",
        "Source Manager unable to find the specified Source.",
        "Source is connected to maximum supported number of applications.",
        "Source or Source Manager reported an error to the user and handled the error; no application action required.",
        "Capability not supported by Source or operation (get,set) is not supported on capability, or capability had "
        "dependencies on other capabilities and cannot be operated upon at this time",
        nullptr,
        nullptr,
        "Unrecognized operation triplet.",
        "Data parameter out of supported range.",
        "Illegal operation for current Source Manager Source state.",
        "Unknown destination in DSM_Entry.",
        "Capability not supported by Source.",
        "Operation not supported on capability.",
        "Capability has dependencies on other capabilities and cannot be operated upon at this time.",
        "File System operation is denied (file is protected).",
        "Operation failed because file already exists.",
        "File not found.",
        "Operation failed because directory is not empty.",
        "Transfer failed because of a feeder error",
        "Transfer failed because of a feeder error",
    };
    if (code < std::size(texts) && texts[code]) return texts[code];
    return "Unknown Condition " + std::to_string(code);
}

void KVTW_CopyBuffer(const TW_IMAGEMEMXFER& strip, size_t bufferSize, int bitsPerPixel, bool nativePixelFormat,
                     TKVBitmap& bitmap) {
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    if (!strip.Memory.TheMem || strip.BytesPerRow == 0 || strip.XOffset >= uint32_t(std::max(width, 0))) return;
    // Only rows wholly inside the strip's buffer, only columns inside both the row and the bitmap.
    const uint64_t rowsInBuffer = bufferSize / strip.BytesPerRow;
    const uint64_t rows = std::min<uint64_t>(strip.Rows, rowsInBuffer);
    const uint64_t columnsInRow = uint64_t(strip.BytesPerRow) * 8 / uint64_t(std::max(bitsPerPixel, 1));
    const int columns = static_cast<int>(std::min<uint64_t>({strip.Columns, columnsInRow, uint64_t(width - strip.XOffset)}));
    const int x0 = static_cast<int>(strip.XOffset);
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    const auto* source = static_cast<const uint8_t*>(strip.Memory.TheMem);
    for (uint64_t i = 0; i < rows; ++i) {
        const uint64_t y = uint64_t(strip.YOffset) + i;
        if (y >= uint64_t(height)) break;
        const uint8_t* src = source + i * strip.BytesPerRow;
        uint8_t* dst = bitmap.GetScanline(static_cast<int>(y));
        switch (bitsPerPixel) {
        case 1:
            if (format != kv1Bit) return;
            for (int x = 0; x < columns; ++x) {
                const bool set = src[x >> 3] & (0x80 >> (x & 7));
                const int bit = x0 + x;
                if (set) dst[bit >> 3] |= static_cast<uint8_t>(0x80 >> (bit & 7));
                else dst[bit >> 3] &= static_cast<uint8_t>(~(0x80 >> (bit & 7)));
            }
            break;
        case 8:
            for (int x = 0; x < columns; ++x) {
                if (nativePixelFormat && format == kv8Gray) dst[x0 + x] = src[x];
                else if (format == kv24RGB) std::memset(dst + (x0 + x) * 3, src[x], 3);
            }
            break;
        case 16:
            for (int x = 0; x < columns; ++x) {
                if (nativePixelFormat && format == kv16Gray) std::memcpy(dst + (x0 + x) * 2, src + x * 2, 2);
                else if (format == kv24RGB) std::memset(dst + (x0 + x) * 3, src[x * 2 + 1], 3);
            }
            break;
        case 24:
            if (format != kv24RGB) return;
            for (int x = 0; x < columns; ++x) {
                dst[(x0 + x) * 3] = src[x * 3 + 2];
                dst[(x0 + x) * 3 + 1] = src[x * 3 + 1];
                dst[(x0 + x) * 3 + 2] = src[x * 3];
            }
            break;
        case 48:
            for (int x = 0; x < columns; ++x) {
                if (nativePixelFormat && format == kvRGB48) std::memcpy(dst + (x0 + x) * 6, src + x * 6, 6);
                else if (format == kv24RGB)
                    for (int s = 0; s < 3; ++s) dst[(x0 + x) * 3 + 2 - s] = src[x * 6 + s * 2 + 1];
            }
            break;
        default: return;
        }
    }
}

template <typename T>
bool KVTW_ContainerToList(TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE container, TKVValueList<T>& list) {
    TTwainValues values;
    if (!TwainReadContainer(conType, container, values)) return false;
    list.Clear();
    auto convert = [](double v) { return static_cast<T>(v); };
    if (values.ConType == TWON_ONEVALUE && (cap == ICAP_XRESOLUTION || cap == ICAP_YRESOLUTION) && values.Current < 0)
        values.Current = values.Items[0] = 300;
    for (double v : values.Items) list.Add(convert(v));
    if (values.ConType == TWON_RANGE) {
        list.SetRangeMin(convert(values.Min));
        list.SetRangeMax(convert(values.Max));
        list.SetRangeStep(convert(values.Step));
    }
    if (values.HasCurrent) list.SetCurrentValue(convert(values.Current));
    return true;
}
template bool KVTW_ContainerToList(TW_UINT16, TW_UINT16, TW_HANDLE, TKVDoubleList&);
template bool KVTW_ContainerToList(TW_UINT16, TW_UINT16, TW_HANDLE, TKVIntegerList&);

bool KVTW_LoadTransferFile(const std::string& fileName, TKVBitmap& bitmap) {
    try {
        TFileStream stream(fileName, fmOpenRead);
        const TKVFormatDriver* driver = FindFormatDriver(DetectStreamFormat(stream));
        if (!driver || !driver->Read) return false;
        std::atomic<bool> abort{false};
        TKVProgressRec progress;
        progress.AbortFlag = &abort;
        TIOParamsVals params(nullptr);
        driver->Read(stream, bitmap, params, progress);
        return !abort && bitmap.GetWidth() > 0 && bitmap.GetHeight() > 0;
    } catch (const std::exception&) {
        return false;
    }
}

bool KVTW_SelectImageSource(std::string& name, TKVTWainParams& params) {
    Session session(params);
    return session.OpenManager() && session.UserSelect(name);
}

void KVTW_GetSourceList(std::vector<TW_IDENTITY>& list, TKVTWainParams& params) {
    list.clear();
    Session session(params);
    if (session.OpenManager()) session.ListSources(list);
}

bool KVTW_Acquire(TKVBitmap& bitmap, const TKVTWainPageCallback& onPage, TKVTWainParams& params,
                  bool nativePixelFormat, TKVProgressRec& progress, TIOParamsVals* ioParams) {
    Log("KVTW_Acquire");
    if (params.CompatibilityMode) params.FileTransfer = true;
    params.FillSourceList();
    Session session(params);
    session.TakeIdentity();
    if (!session.OpenManager() || !session.OpenSource()) return false;
    session.SetCapabilities();
    // A single acquisition asks for one page, so a feeder takes no sheet past it.
    session.AskPages(onPage ? -1 : 1);
    if (!session.EnableSource()) return false;
    session.EventLoop(bitmap, onPage, nativePixelFormat, progress, ioParams);
    Log("  KVTW_Acquire : end");
    return session.Acquired();
}

bool KVTW_GetCapabilities(TKVTWainParams& params, bool setFirst) {
    if (params.CompatibilityMode) params.FileTransfer = true;
    params.FillSourceList();
    Session session(params);
    if (!session.OpenManager() || !session.OpenSource()) return false;
    session.GetCapabilities(setFirst);
    return true;
}

void KVTW_FreeResources(TKVTWainConnection& connection) { connection.ManagerLoaded = false; }
