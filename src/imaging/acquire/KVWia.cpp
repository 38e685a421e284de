#include "imaging/acquire/KVWia.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "imaging/acquire/KVWiaDataCallback.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "platform/Files.h"
#include "platform/PictureLimits.h"
#include "platform/SaneDevice.h"

const TGUID WIA_CMD_TAKE_PICTURE{0xAF933CAC, 0xACAD, 0x11D2, {0xA0, 0x93, 0x00, 0xC0, 0x4F, 0x72, 0xDC, 0x3C}};

namespace {

constexpr uint32_t FlagImage = 0x1, FlagFolder = 0x4, FlagRoot = 0x8, FlagDevice = 0x40, FlagTransfer = 0x4000;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The host of a device reached through the network ("net:host:backend:device", the host maybe
// in brackets), and the device's name on it; a local device keeps its name after its backend.
void PortAndServer(const std::string& id, TKVWiaDeviceInfo& info) {
    const size_t colon = id.find(':');
    const std::string rest = colon == std::string::npos ? std::string() : id.substr(colon + 1);
    info.ServerName = "local";
    info.PortName = rest;
    if (id.compare(0, colon, "net") != 0 || rest.empty()) return;
    const size_t hostEnd = rest[0] == '[' ? rest.find("]:") + 1 : rest.find(':');
    if (hostEnd == 0 || hostEnd == std::string::npos) return;
    info.ServerName = rest.substr(0, hostEnd);
    info.PortName = rest.substr(hostEnd + 1);
}

// A GUID's text, 38 characters of it exactly, is taken as the GUID; other text stays text.
TKVWiaValue Converted(const TKVWiaValue& value) {
    const auto* text = std::get_if<std::string>(&value);
    if (!text || text->size() != 38 || (*text)[0] != '{' || (*text)[37] != '}') return value;
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? (*text)[i] != '-' : !std::isxdigit(static_cast<unsigned char>((*text)[i]))) return value;
    }
    return KVStringToGUID(*text);
}

bool AsNumbers(const TKVWiaValue& value, std::vector<double>& numbers) {
    if (const auto* i = std::get_if<int>(&value)) numbers = {double(*i)};
    else if (const auto* d = std::get_if<double>(&value)) numbers = {*d};
    else if (const auto* list = std::get_if<std::vector<double>>(&value)) numbers = *list;
    else return false;
    return true;
}

bool Holds(const TKVWiaItem* tree, const TKVWiaItem* item) {
    if (tree == item) return true;
    return std::any_of(tree->Children.begin(), tree->Children.end(), [&](const auto& child) { return Holds(child.get(), item); });
}

// A page's data may not exceed what the largest picture needs as a 24-bit bitmap.
int64_t MaxPageBytes() { return PictureLimits().maxPixels * 4 + (int64_t(1) << 20); }

// A page's rows as a top-down device-independent bitmap: 1-bit, 8-bit gray or 24-bit, sixteen-
// bit samples cut to their high byte, with a file header before it for a BMP file.
class TDibLayout {
public:
    TDibLayout(const TSaneFrame& frame, bool fileHeader, double xDpi, double yDpi)
        : frame_(frame), fileHeader_(fileHeader), xDpi_(xDpi), yDpi_(yDpi) {
        bits_ = frame.Depth == 1 ? 1 : frame.Format == TSaneFrame::Rgb ? 24 : 8;
        colours_ = bits_ == 1 ? 2 : bits_ == 8 ? 256 : 0;
        Stride = (int64_t(frame.PixelsPerLine) * bits_ + 31) / 32 * 4;
        HeaderBytes = (fileHeader ? 14 : 0) + 40 + colours_ * 4;
    }

    int Bits() const { return bits_; }

    std::vector<uint8_t> Header(int64_t rows) const {
        std::vector<uint8_t> h;
        const auto imageBytes = static_cast<uint32_t>(Stride * rows);
        if (fileHeader_) {
            h = {'B', 'M'};
            PutU32LE(h, static_cast<uint32_t>(HeaderBytes) + imageBytes);
            PutU32LE(h, 0);
            PutU32LE(h, static_cast<uint32_t>(HeaderBytes));
        }
        PutU32LE(h, 40);
        PutU32LE(h, static_cast<uint32_t>(frame_.PixelsPerLine));
        PutU32LE(h, static_cast<uint32_t>(-rows));  // negative: rows from the top
        PutU16LE(h, 1);
        PutU16LE(h, static_cast<uint32_t>(bits_));
        PutU32LE(h, 0);
        PutU32LE(h, imageBytes);
        PutU32LE(h, static_cast<uint32_t>(std::lround(xDpi_ / 0.0254)));
        PutU32LE(h, static_cast<uint32_t>(std::lround(yDpi_ / 0.0254)));
        PutU32LE(h, static_cast<uint32_t>(colours_));
        PutU32LE(h, 0);
        for (int i = 0; i < colours_; ++i) {
            const auto level = static_cast<uint8_t>(colours_ == 2 ? i * 255 : i);
            h.insert(h.end(), {level, level, level, 0});
        }
        return h;
    }

    // One row of the device (BytesPerLine bytes) into one row of the bitmap (Stride bytes).
    void ConvertRow(const uint8_t* src, uint8_t* dst) const {
        const int width = frame_.PixelsPerLine;
        if (bits_ == 1) {
            // The device's set bit is black, the bitmap's is the palette's white.
            for (int i = 0; i < (width + 7) / 8; ++i) dst[i] = static_cast<uint8_t>(~src[i]);
            return;
        }
        const int samples = bits_ == 24 ? 3 : 1;
        for (int x = 0; x < width; ++x)
            for (int s = 0; s < samples; ++s) {
                const size_t at = size_t(x) * samples + s;
                uint8_t v = src[at];
                if (frame_.Depth == 16) {
                    uint16_t wide;
                    std::memcpy(&wide, src + at * 2, 2);
                    v = static_cast<uint8_t>(wide >> 8);
                }
                dst[size_t(x) * samples + (samples == 3 ? 2 - s : 0)] = v;
            }
    }

    int64_t Stride = 0, HeaderBytes = 0;

private:
    TSaneFrame frame_;
    bool fileHeader_;
    double xDpi_, yDpi_;
    int bits_ = 8, colours_ = 0;
};

// The page's data header and bands: rows as they complete, each band placed after the rows
// before it; a page whose length was not known, or that ended early, gets its header again.
bool SendRows(TSaneDevice& device, const TSaneFrame& frame, const TDibLayout& layout, TWiaDataCallBack& callback,
              std::string& error) {
    const int64_t known = frame.Lines;
    // Sizes are checked before anything is allocated for them; a row holds at most six bytes a
    // pixel and some padding.
    error = PictureSizeProblem(frame.PixelsPerLine, std::max<int64_t>(known, 1), layout.Bits(), -1);
    if (error.empty() && frame.BytesPerLine > int64_t(frame.PixelsPerLine) * 6 + 65536)
        error = "The device announces rows longer than its pixels need.";
    if (!error.empty()) return false;
    const std::vector<uint8_t> first = layout.Header(std::max<int64_t>(known, 0));
    if (!callback.BandedDataCallback(TKVWiaMessage::Data, 0, 0, first.data(), int64_t(first.size()))) return false;
    const auto rowBytes = static_cast<size_t>(frame.BytesPerLine);
    std::vector<uint8_t> pending, buffer(std::max<size_t>(rowBytes, 65536)), band;
    int64_t rows = 0;
    int emptyReads = 0;
    for (;;) {
        if (known >= 0 && rows >= known) break;
        int got = 0;
        const TSaneDevice::TRead read = device.Read(buffer.data(), int(buffer.size()), got);
        if (read == TSaneDevice::TRead::Failed) {
            error = device.ErrorText();
            return false;
        }
        if (read == TSaneDevice::TRead::End) break;
        // A device that answers with nothing for ever has stopped.
        if (got == 0 && ++emptyReads > 100000) {
            error = "The device stopped sending the page.";
            return false;
        }
        if (got == 0) continue;
        emptyReads = 0;
        pending.insert(pending.end(), buffer.begin(), buffer.begin() + got);
        int64_t complete = int64_t(pending.size() / rowBytes);
        if (known >= 0) complete = std::min(complete, known - rows);
        if (complete == 0) continue;
        if (known < 0) {
            const std::string problem = PictureSizeProblem(frame.PixelsPerLine, rows + complete, layout.Bits(), -1);
            if (!problem.empty()) {
                error = problem;
                return false;
            }
        }
        band.assign(static_cast<size_t>(complete * layout.Stride), 0);
        for (int64_t r = 0; r < complete; ++r)
            layout.ConvertRow(pending.data() + r * rowBytes, band.data() + r * layout.Stride);
        pending.erase(pending.begin(), pending.begin() + complete * int64_t(rowBytes));
        const int64_t offset = layout.HeaderBytes + rows * layout.Stride;
        rows += complete;
        const int percent = known > 0 ? int(rows * 100 / known) : 0;
        if (!callback.BandedDataCallback(TKVWiaMessage::Data, percent, offset, band.data(), int64_t(band.size())))
            return false;
    }
    if (rows == 0) {
        error = "The device sent no picture.";
        return false;
    }
    // The device ends its page only when read past its last row.
    int got = 0;
    for (int reads = 0; reads < 256 && device.Read(buffer.data(), int(buffer.size()), got) == TSaneDevice::TRead::Data; ++reads) {
    }
    if (rows == known) return true;
    const std::vector<uint8_t> last = layout.Header(rows);
    return callback.BandedDataCallback(TKVWiaMessage::Data, 100, 0, last.data(), int64_t(last.size()));
}

bool SendPage(TSaneDevice& device, const TSaneFrame& frame, const TGUID& format, bool multiPage, double xDpi, double yDpi,
              TWiaDataCallBack& callback, std::string& error) {
    const TDibLayout layout(frame, format == WiaImgFmt_BMP, xDpi, yDpi);
    TKVWiaDataHeader header;
    header.Format = format;
    header.BufferSize =
        frame.Lines >= 0 ? int32_t(std::min<int64_t>(INT32_MAX, layout.HeaderBytes + layout.Stride * frame.Lines)) : 0;
    header.PageCount = multiPage ? 0 : 1;
    const std::vector<uint8_t> bytes = KVWiaHeaderBytes(header);
    if (!callback.BandedDataCallback(TKVWiaMessage::DataHeader, 0, 0, bytes.data(), int64_t(bytes.size()))) return false;
    return SendRows(device, frame, layout, callback, error);
}

// What a bitmap's reading tells of the page.
void CopyParams(TIOParamsVals& from, TIOParamsVals& to) {
    to.SetDpiX(from.DpiX());
    to.SetDpiY(from.DpiY());
    to.BitsPerSample = from.BitsPerSample;
    to.SamplesPerPixel = from.SamplesPerPixel;
    to.Width = from.Width;
    to.Height = from.Height;
}

}  // namespace

uint8_t KVWiaDeviceTypeOf(const std::string& saneType) {
    const std::string type = Lower(saneType);
    if (Contains(type, "video") || Contains(type, "frame grabber") || Contains(type, "webcam")) return 2;
    return Contains(type, "camera") ? 1 : 0;
}

TKVWiaItemType KVWiaItemTypeOf(uint32_t flags) {
    static const std::pair<TKVWiaItemKind, uint32_t> members[] = {
        {kvwiImage, 0x1}, {kvwiFile, 0x2}, {kvwiFolder, 0x4}, {kvwiRoot, 0x8}, {kvwiAnalyse, 0x10},
        {kvwiAudio, 0x20}, {kvwiDevice, 0x40}, {kvwiDeleted, 0x80}, {kvwiDisconnected, 0x100},
        {kvwiHorizontalPanorama, 0x200}, {kvwiVerticalPanorama, 0x400}, {kvwiBurstFirst, 0x800},
        {kvwiBurst, 0x1000}, {kvwiStorage, 0x2000}, {kvwiTransfer, 0x4000}, {kvwiGenerated, 0x8000},
        {kvwiHasAttachments, 0x10000}, {kvwiVideoFile, 0x20000}, {kvwiRemoved, 0x80000000}};
    TKVWiaItemType type;
    for (const auto& [kind, flag] : members)
        if (flags & flag) type.set(kind);
    if (flags & 0x8003FFFF) type.set(kvwiAny);
    return type;
}

TKVWia::TKVWia(TObject* owner) : Owner(owner) {}

TKVWia::~TKVWia() { Disconnect(); }

void TKVWia::FillDevices() {
    if (devicesFilled_) return;
    const TSaneSession session;
    if (!session.Ok()) {
        lastError_ = "The scanner library could not be started.";
        return;
    }
    devicesFilled_ = true;
    for (const TSaneDeviceInfo& sane : SaneDevices(session)) {
        TKVWiaDeviceInfo info;
        info.ID = sane.Name;
        info.Name = sane.Vendor.empty() || sane.Model.empty() ? sane.Vendor + sane.Model : sane.Vendor + " " + sane.Model;
        info.DeviceType = KVWiaDeviceTypeOf(sane.Type);
        info.DriverVersion = TSaneSession::Version();
        info.VendorDescription = sane.Vendor;
        PortAndServer(sane.Name, info);
        devices_.push_back(info);
    }
}

TKVWiaDeviceInfo* TKVWia::GetDevice(int index) {
    FillDevices();
    return index >= 0 && static_cast<size_t>(index) < devices_.size() ? &devices_[static_cast<size_t>(index)] : nullptr;
}

void TKVWia::Disconnect() {
    root_.reset();
    device_.reset();
    session_.reset();
}

bool TKVWia::ConnectDevice(int index) {
    Disconnect();
    lastError_.clear();
    const TKVWiaDeviceInfo* info = GetDevice(index);
    if (!info) {
        if (lastError_.empty()) lastError_ = "There is no such device.";
        return false;
    }
    auto session = std::make_unique<TSaneSession>();
    auto device = std::make_unique<TSaneDevice>();
    if (!device->Open(*session, info->ID)) {
        lastError_ = device->ErrorText();
        return false;
    }
    session_ = std::move(session);
    device_ = std::move(device);
    TakePicture = info->DeviceType != 1;
    // Options before the first group belong to the device itself; without any group the device
    // is its own image.
    root_ = std::make_unique<TKVWiaItem>();
    root_->Name = info->Name;
    root_->Format = WiaImgFmt_BMP;
    TKVWiaItem* current = root_.get();
    const int count = device_->OptionCount();
    for (int i = 1; i < count; ++i) {
        TSaneOption option;
        if (!device_->Describe(i, option)) continue;
        if (option.Kind != TSaneValueKind::Group) {
            current->Properties.push_back(static_cast<uint32_t>(i));
            continue;
        }
        auto group = std::make_unique<TKVWiaItem>();
        group->Name = option.Title;
        group->ItemType = KVWiaItemTypeOf(FlagImage | FlagTransfer);
        group->Format = WiaImgFmt_BMP;
        current = group.get();
        root_->Children.push_back(std::move(group));
    }
    root_->ItemType = KVWiaItemTypeOf(FlagFolder | FlagRoot | FlagDevice |
                                      (root_->Children.empty() ? FlagImage | FlagTransfer : 0));
    return true;
}

bool TKVWia::ConnectDeviceByID(const std::string& id) {
    FillDevices();
    const auto at = std::find_if(devices_.begin(), devices_.end(), [&](const TKVWiaDeviceInfo& d) { return d.ID == id; });
    if (at != devices_.end()) return ConnectDevice(static_cast<int>(at - devices_.begin()));
    Disconnect();
    lastError_ = "There is no such device.";
    return false;
}

bool TKVWia::SelectDevice() {
    Disconnect();
    lastError_.clear();
    std::string chosen;
    {
        const TSaneSession session;
        const std::vector<TSaneDeviceInfo> list = SaneDevices(session);
        const int index = ChooseSaneDevice(list);
        if (index < 0) return false;
        chosen = list[static_cast<size_t>(index)].Name;
    }
    return ConnectDeviceByID(chosen);
}

TKVWiaItem* TKVWia::FirstImageItem(TKVWiaItem* item) {
    if (!item || item->ItemType[kvwiImage]) return item;
    if (!item->ItemType[kvwiFolder]) return nullptr;
    for (const auto& child : item->Children)
        if (TKVWiaItem* found = FirstImageItem(child.get())) return found;
    return nullptr;
}

bool TKVWia::Connected() { return root_ || ConnectDevice(0); }

TKVWiaItem* TKVWia::Resolve(TKVWiaItem* item) {
    if (!Connected()) return nullptr;
    if (item) return Holds(root_.get(), item) ? item : nullptr;
    return FirstImageItem(root_.get());
}

bool TKVWia::SetItemProperty(uint32_t id, const TKVWiaValue& value, TKVWiaItem* item) {
    TKVWiaItem* target = Resolve(item);
    if (!target) return false;
    const TKVWiaValue converted = Converted(value);
    if (id == WIA_IPA_FORMAT) {
        // The device delivers its pages as bitmaps; the file form and the memory form are offered.
        const auto* format = std::get_if<TGUID>(&converted);
        if (!format || !(*format == WiaImgFmt_BMP || *format == WiaImgFmt_MEMORYBMP)) return false;
        target->Format = *format;
        return true;
    }
    std::vector<double> numbers;
    if (id == WIA_IPA_TYMED) {
        // More than one page is for a feeder; a flatbed would scan its one page again and again.
        const bool valid = AsNumbers(converted, numbers) && numbers.size() == 1 &&
                           (numbers[0] == TYMED_CALLBACK || (numbers[0] == TYMED_MULTIPAGE_CALLBACK && SaneFeederSelected(*device_)));
        if (valid) target->Medium = static_cast<int32_t>(numbers[0]);
        return valid;
    }
    TSaneOption option;
    if (!device_->Describe(static_cast<int>(std::min<uint32_t>(id, INT32_MAX)), option)) return false;
    switch (option.Kind) {
    case TSaneValueKind::String: {
        const auto* text = std::get_if<std::string>(&converted);
        return text && device_->SetText(option.Index, *text);
    }
    case TSaneValueKind::Button: return device_->Press(option.Index);
    case TSaneValueKind::Group: return false;
    default: return AsNumbers(converted, numbers) && device_->SetNumbers(option.Index, numbers);
    }
}

bool TKVWia::SetItemPropertyInt(uint32_t id, int value, TKVWiaItem* item) { return SetItemProperty(id, value, item); }

bool TKVWia::GetItemProperty(uint32_t id, TKVWiaValue& value, TKVWiaItem* item) {
    TKVWiaItem* target = Resolve(item);
    if (!target) return false;
    if (id == WIA_IPA_FORMAT || id == WIA_IPA_TYMED) {
        value = id == WIA_IPA_FORMAT ? TKVWiaValue(target->Format) : TKVWiaValue(int(target->Medium));
        return true;
    }
    TSaneOption option;
    if (!device_->Describe(static_cast<int>(std::min<uint32_t>(id, INT32_MAX)), option)) return false;
    if (option.Kind == TSaneValueKind::String) {
        std::string text;
        if (!device_->GetText(option.Index, text)) return false;
        value = text;
        return true;
    }
    std::vector<double> numbers;
    if (!device_->GetNumbers(option.Index, numbers)) return false;
    if (numbers.size() != 1) value = numbers;
    else if (option.Kind == TSaneValueKind::Fixed) value = numbers[0];
    else value = static_cast<int>(numbers[0]);
    return true;
}

bool TKVWia::GetPropertyInfo(uint32_t id, TSaneOption& info) {
    return Connected() && device_->Describe(static_cast<int>(std::min<uint32_t>(id, INT32_MAX)), info);
}

bool TKVWia::DeviceCommand(const TGUID&, TKVWiaItem*& newItem) {
    newItem = nullptr;
    return false;
}

bool TKVWia::Transfer(TKVWiaItem* item, bool multiPage) {
    lastError_.clear();
    item = Resolve(item);
    if (!item) {
        if (lastError_.empty()) lastError_ = root_ ? "The device has no picture to transfer." : "There is no device.";
        return false;
    }
    if (!Bitmap) {
        lastError_ = "No bitmap was given to receive the picture.";
        return false;
    }
    if (!multiPage || !SetItemPropertyInt(WIA_IPA_TYMED, TYMED_MULTIPAGE_CALLBACK, item))
        SetItemPropertyInt(WIA_IPA_TYMED, TYMED_CALLBACK, item);
    TKVWiaItem* taken = nullptr;
    if (TakePicture && DeviceCommand(WIA_CMD_TAKE_PICTURE, taken) && taken) item = taken;
    // A format the device refuses leaves its own.
    if (TransferFormat == 1) SetItemProperty(WIA_IPA_FORMAT, KVGUIDToString(WiaImgFmt_MEMORYBMP), item);
    else if (TransferFormat == 2) SetItemProperty(WIA_IPA_FORMAT, KVGUIDToString(WiaImgFmt_JPEG), item);
    TWiaDataCallBack callback([this](const TKVWiaDataHeader& header, const std::vector<uint8_t>& data) {
        return TransferComplete(header, data);
    }, OnProgress, MaxPageBytes());
    return SendPages(item->Medium == TYMED_MULTIPAGE_CALLBACK, callback, item->Format);
}

bool TKVWia::SendPages(bool multiPage, TWiaDataCallBack& callback, const TGUID& format) {
    // Devices refuse option reads while they scan.
    const double xDpi = SaneResolution(*device_, false), yDpi = SaneResolution(*device_, true);
    TSaneFrame frame;
    if (!device_->Start(frame)) {
        lastError_ = device_->ErrorText();
        return false;
    }
    for (;;) {
        if (!SendPage(*device_, frame, format, multiPage, xDpi, yDpi, callback, lastError_)) {
            device_->Cancel();
            return false;
        }
        const bool next = multiPage && device_->Start(frame);
        if (!callback.BandedDataCallback(next ? TKVWiaMessage::NewPage : TKVWiaMessage::Termination, 100, 0, nullptr, 0)) {
            device_->Cancel();
            return false;
        }
        if (!next) break;
    }
    device_->Cancel();
    return true;
}

// The page is read into a bitmap of its own and replaces the target only once whole.
bool TKVWia::TransferComplete(const TKVWiaDataHeader& header, const std::vector<uint8_t>& data) {
    TIOParamsVals record(nullptr);
    TKVBitmap page;
    try {
        if (!KVWiaReadPage(header, data, page, record)) {
            lastError_ = "The device's data are no picture that can be read.";
            return false;
        }
        if (!SaveFileName.empty()) SaveData(header, data);
    } catch (const Exception& e) {
        lastError_ = e.Message();
        return false;
    }
    Bitmap->Assign(&page);
    TIOParamsVals* asked = nullptr;
    if (OnAcquiredParams) OnAcquiredParams(*this, *Bitmap, asked);
    if (asked) CopyParams(record, *asked);
    XResolution = record.DpiX();
    YResolution = record.DpiY();
    if (OwnerParams) CopyParams(record, *OwnerParams);
    return true;
}

// The page's data as a file a picture program opens: a memory bitmap gets its file header.
void TKVWia::SaveData(const TKVWiaDataHeader& header, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> fileHeader;
    if (header.Format == WiaImgFmt_MEMORYBMP) {
        const TByteReader r(data.data(), int64_t(data.size()));
        const uint32_t infoSize = r.U32LEAt(0), bits = r.U16LEAt(14), compression = r.U32LEAt(16);
        uint32_t colours = r.U32LEAt(32);
        if (colours == 0 && bits <= 8) colours = 1u << bits;
        const uint32_t masks = infoSize == 40 && compression == 3 ? 12 : 0;
        fileHeader = {'B', 'M'};
        PutU32LE(fileHeader, static_cast<uint32_t>(14 + data.size()));
        PutU32LE(fileHeader, 0);
        PutU32LE(fileHeader, 14 + infoSize + masks + colours * 4);
    }
    TAtomicFile file(SaveFileName);
    file.Stream().WriteBuffer(fileHeader.data(), int64_t(fileHeader.size()));
    file.Stream().WriteBuffer(data.data(), int64_t(data.size()));
    file.Commit();
}
