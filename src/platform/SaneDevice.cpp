#include "platform/SaneDevice.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace {

std::mutex sessionLock;
int sessions = 0;
SANE_Int versionCode = 0;
TSaneDeviceDialog deviceDialog = nullptr;
std::map<std::string, std::vector<TSaneChoice>> rememberedChoices;

SANE_Handle Handle(void* handle) { return static_cast<SANE_Handle>(handle); }

std::string Text(SANE_String_Const text) { return text ? text : ""; }

double WordValue(SANE_Value_Type type, SANE_Word word) { return type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : word; }

bool IsNumberKind(TSaneValueKind kind) {
    return kind == TSaneValueKind::Bool || kind == TSaneValueKind::Int || kind == TSaneValueKind::Fixed;
}

// The word the device stores for a value of the option, or false when the value does not fit
// the option's kind and constraint.
bool WordOf(const TSaneOption& option, double value, SANE_Word& word) {
    if (!std::isfinite(value)) return false;
    switch (option.Kind) {
    case TSaneValueKind::Bool:
        if (value != 0 && value != 1) return false;
        word = value != 0 ? SANE_TRUE : SANE_FALSE;
        return true;
    case TSaneValueKind::Int:
        if (std::abs(value) > 2147483647.0) return false;
        word = static_cast<SANE_Word>(std::lround(value));
        break;
    case TSaneValueKind::Fixed:
        if (std::abs(value) >= 32768.0) return false;
        word = SANE_FIX(value);
        break;
    default: return false;
    }
    const double stored = option.Kind == TSaneValueKind::Fixed ? SANE_UNFIX(word) : word;
    if (option.Constraint == TSaneConstraint::Range)
        return stored >= option.Min - 1e-9 && stored <= option.Max + 1e-9;
    if (option.Constraint == TSaneConstraint::NumberList)
        return std::any_of(option.Numbers.begin(), option.Numbers.end(),
                           [&](double allowed) { return std::abs(allowed - stored) < 1e-4; });
    return true;
}

TSaneFrame::TFormat FormatOf(SANE_Frame format) {
    switch (format) {
    case SANE_FRAME_GRAY: return TSaneFrame::Gray;
    case SANE_FRAME_RGB: return TSaneFrame::Rgb;
    case SANE_FRAME_RED: return TSaneFrame::Red;
    case SANE_FRAME_GREEN: return TSaneFrame::Green;
    case SANE_FRAME_BLUE: return TSaneFrame::Blue;
    default: return TSaneFrame::Unsupported;
    }
}

TSaneFrame FrameOf(const SANE_Parameters& p) {
    TSaneFrame frame;
    frame.Format = FormatOf(p.format);
    frame.BytesPerLine = p.bytes_per_line;
    frame.PixelsPerLine = p.pixels_per_line;
    frame.Lines = p.lines < 0 ? -1 : p.lines;
    frame.Depth = p.depth;
    frame.Last = p.last_frame != SANE_FALSE;
    return frame;
}

}  // namespace

TSaneSession::TSaneSession() {
    std::lock_guard guard(sessionLock);
    if (sessions == 0 && sane_init(&versionCode, nullptr) != SANE_STATUS_GOOD) return;
    ++sessions;
    ok_ = true;
}

TSaneSession::~TSaneSession() {
    if (!ok_) return;
    std::lock_guard guard(sessionLock);
    if (--sessions == 0) sane_exit();
}

std::string TSaneSession::Version() {
    std::lock_guard guard(sessionLock);
    return std::to_string(SANE_VERSION_MAJOR(versionCode)) + "." + std::to_string(SANE_VERSION_MINOR(versionCode)) + "." +
           std::to_string(SANE_VERSION_BUILD(versionCode));
}

std::vector<TSaneDeviceInfo> SaneDevices(const TSaneSession& session) {
    std::vector<TSaneDeviceInfo> devices;
    const SANE_Device** list = nullptr;
    if (!session.Ok() || sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list) return devices;
    for (; *list; ++list)
        devices.push_back({Text((*list)->name), Text((*list)->vendor), Text((*list)->model), Text((*list)->type)});
    return devices;
}

void SetSaneDeviceDialog(TSaneDeviceDialog dialog) {
    std::lock_guard guard(sessionLock);
    deviceDialog = dialog;
}

void RememberSaneChoices(const std::string& device, const std::vector<TSaneChoice>& choices) {
    std::lock_guard guard(sessionLock);
    std::vector<TSaneChoice>& kept = rememberedChoices[device];
    for (const TSaneChoice& choice : choices) {
        std::erase_if(kept, [&](const TSaneChoice& earlier) { return earlier.Option == choice.Option; });
        kept.push_back(choice);
    }
}

void ForgetSaneChoices() {
    std::lock_guard guard(sessionLock);
    rememberedChoices.clear();
}

int ChooseSaneDevice(const std::vector<TSaneDeviceInfo>& devices) {
    TSaneDeviceDialog dialog = nullptr;
    {
        std::lock_guard guard(sessionLock);
        dialog = deviceDialog;
    }
    if (devices.empty()) return -1;
    const int chosen = dialog ? dialog(devices) : 0;
    return chosen >= 0 && static_cast<size_t>(chosen) < devices.size() ? chosen : -1;
}

bool TSaneDevice::Open(const TSaneSession& session, const std::string& name) {
    Close();
    error_.clear();
    if (!session.Ok()) {
        error_ = "The scanner library could not be started.";
        return false;
    }
    SANE_Handle handle = nullptr;
    const SANE_Status status = sane_open(name.c_str(), &handle);
    if (status != SANE_STATUS_GOOD) return Fail(status);
    handle_ = handle;
    name_ = name;
    std::vector<TSaneChoice> choices;
    {
        std::lock_guard guard(sessionLock);
        if (const auto kept = rememberedChoices.find(name); kept != rememberedChoices.end()) choices = kept->second;
    }
    // A choice the device no longer takes (another option made it inactive) is passed over.
    for (const TSaneChoice& choice : choices) Apply(FindOption(choice.Option), choice);
    return true;
}

void TSaneDevice::Close() {
    if (midFrame_) Cancel();
    if (handle_) sane_close(Handle(handle_));
    handle_ = nullptr;
    name_.clear();
}

int TSaneDevice::OptionCount() {
    SANE_Int count = 0;
    if (!handle_ || sane_control_option(Handle(handle_), 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
        return 0;
    return std::max(count, 0);
}

bool TSaneDevice::Describe(int index, TSaneOption& option) {
    if (!handle_ || index <= 0 || index >= OptionCount()) return false;
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(Handle(handle_), index);
    if (!d) return false;
    option = {};
    option.Index = index;
    option.Name = Text(d->name);
    option.Title = Text(d->title);
    option.Description = Text(d->desc);
    option.Unit = d->unit;
    option.Active = SANE_OPTION_IS_ACTIVE(d->cap);
    option.Readable = (d->cap & SANE_CAP_SOFT_DETECT) != 0;
    option.Settable = SANE_OPTION_IS_SETTABLE(d->cap);
    option.Automatic = (d->cap & SANE_CAP_AUTOMATIC) != 0;
    switch (d->type) {
    case SANE_TYPE_BOOL: option.Kind = TSaneValueKind::Bool; break;
    case SANE_TYPE_INT: option.Kind = TSaneValueKind::Int; break;
    case SANE_TYPE_FIXED: option.Kind = TSaneValueKind::Fixed; break;
    case SANE_TYPE_STRING: option.Kind = TSaneValueKind::String; break;
    case SANE_TYPE_BUTTON: option.Kind = TSaneValueKind::Button; break;
    default: option.Kind = TSaneValueKind::Group; break;
    }
    if (IsNumberKind(option.Kind)) option.Count = std::max<SANE_Int>(d->size, 0) / SANE_Int(sizeof(SANE_Word));
    else if (option.Kind == TSaneValueKind::String) {
        option.Count = 1;
        option.TextSize = std::max<SANE_Int>(d->size, 0);
    }
    if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range && IsNumberKind(option.Kind)) {
        option.Constraint = TSaneConstraint::Range;
        option.Min = WordValue(d->type, d->constraint.range->min);
        option.Max = WordValue(d->type, d->constraint.range->max);
        option.Step = WordValue(d->type, d->constraint.range->quant);
    } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list && IsNumberKind(option.Kind)) {
        option.Constraint = TSaneConstraint::NumberList;
        for (SANE_Int i = 1; i <= d->constraint.word_list[0]; ++i)
            option.Numbers.push_back(WordValue(d->type, d->constraint.word_list[i]));
    } else if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST && d->constraint.string_list &&
               option.Kind == TSaneValueKind::String) {
        option.Constraint = TSaneConstraint::StringList;
        for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s) option.Strings.emplace_back(*s);
    }
    return true;
}

int TSaneDevice::FindOption(const std::string& name) {
    const int count = OptionCount();
    int inactive = -1;
    for (int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(Handle(handle_), i);
        if (!d || !d->name || name != d->name) continue;
        if (SANE_OPTION_IS_ACTIVE(d->cap)) return i;
        if (inactive < 0) inactive = i;
    }
    return inactive;
}

bool TSaneDevice::GetNumbers(int index, std::vector<double>& values, bool inactiveToo) {
    TSaneOption option;
    if (!Describe(index, option) || !IsNumberKind(option.Kind) || option.Count <= 0 ||
        !(option.Active || inactiveToo) || !option.Readable)
        return false;
    std::vector<SANE_Word> words(static_cast<size_t>(option.Count));
    if (sane_control_option(Handle(handle_), index, SANE_ACTION_GET_VALUE, words.data(), nullptr) != SANE_STATUS_GOOD)
        return false;
    const SANE_Value_Type type = option.Kind == TSaneValueKind::Fixed ? SANE_TYPE_FIXED : SANE_TYPE_INT;
    values.clear();
    for (SANE_Word word : words) values.push_back(WordValue(type, word));
    return true;
}

bool TSaneDevice::GetText(int index, std::string& value, bool inactiveToo) {
    const SANE_Option_Descriptor* d = handle_ && index > 0 && index < OptionCount()
                                          ? sane_get_option_descriptor(Handle(handle_), index) : nullptr;
    if (!d || d->type != SANE_TYPE_STRING || d->size <= 0 || !(SANE_OPTION_IS_ACTIVE(d->cap) || inactiveToo) ||
        !(d->cap & SANE_CAP_SOFT_DETECT))
        return false;
    // One byte more than the device may write keeps the text ended whatever it writes.
    std::vector<char> text(static_cast<size_t>(d->size) + 1, '\0');
    if (sane_control_option(Handle(handle_), index, SANE_ACTION_GET_VALUE, text.data(), nullptr) != SANE_STATUS_GOOD)
        return false;
    value.assign(text.data(), strnlen(text.data(), static_cast<size_t>(d->size)));
    return true;
}

bool TSaneDevice::SetNumbers(int index, const std::vector<double>& values) {
    TSaneOption option;
    if (!Describe(index, option) || !IsNumberKind(option.Kind) || !option.Active || !option.Settable ||
        values.size() != static_cast<size_t>(option.Count))
        return false;
    std::vector<SANE_Word> words(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        if (!WordOf(option, values[i], words[i])) return false;
    return Write(index, SANE_ACTION_SET_VALUE, words.data());
}

bool TSaneDevice::SetText(int index, const std::string& value) {
    const SANE_Option_Descriptor* d = handle_ && index > 0 && index < OptionCount()
                                          ? sane_get_option_descriptor(Handle(handle_), index) : nullptr;
    if (!d || d->type != SANE_TYPE_STRING || !SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap) ||
        value.size() >= static_cast<size_t>(std::max<SANE_Int>(d->size, 0)) || value.find('\0') != std::string::npos)
        return false;
    if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST && d->constraint.string_list) {
        bool listed = false;
        for (const SANE_String_Const* s = d->constraint.string_list; *s && !listed; ++s) listed = value == *s;
        if (!listed) return false;
    }
    std::vector<char> text(static_cast<size_t>(d->size), '\0');
    std::memcpy(text.data(), value.data(), value.size());
    return Write(index, SANE_ACTION_SET_VALUE, text.data());
}

bool TSaneDevice::SetAutomatic(int index) {
    TSaneOption option;
    if (!Describe(index, option) || !option.Automatic || !option.Active || !option.Settable) return false;
    return Write(index, SANE_ACTION_SET_AUTO, nullptr);
}

bool TSaneDevice::Press(int index) {
    TSaneOption option;
    if (!Describe(index, option) || option.Kind != TSaneValueKind::Button || !option.Active || !option.Settable) return false;
    return Write(index, SANE_ACTION_SET_VALUE, nullptr);
}

bool TSaneDevice::Apply(int index, const TSaneChoice& choice) {
    TSaneOption option;
    if (!Describe(index, option)) return false;
    if (choice.Automatic) return SetAutomatic(index);
    if (option.Kind == TSaneValueKind::String) return SetText(index, choice.Text);
    return IsNumberKind(option.Kind) && SetNumbers(index, choice.Numbers);
}

bool TSaneDevice::Write(int index, int action, void* value) {
    SANE_Int info = 0;
    const SANE_Status status = sane_control_option(Handle(handle_), index, static_cast<SANE_Action>(action), value, &info);
    reshaped_ = status == SANE_STATUS_GOOD && (info & (SANE_INFO_INEXACT | SANE_INFO_RELOAD_OPTIONS)) != 0;
    return status == SANE_STATUS_GOOD;
}

bool TSaneDevice::Fail(int status) {
    status_ = status;
    error_ = sane_strstatus(static_cast<SANE_Status>(status));
    return false;
}

bool TSaneDevice::Parameters(TSaneFrame& frame) {
    SANE_Parameters p{};
    if (!handle_ || sane_get_parameters(Handle(handle_), &p) != SANE_STATUS_GOOD) return false;
    frame = FrameOf(p);
    return true;
}

bool TSaneDevice::StartFrame(TSaneFrame& frame) {
    error_.clear();
    if (!handle_) return false;
    SANE_Status status = sane_start(Handle(handle_));
    SANE_Parameters p{};
    if (status == SANE_STATUS_GOOD) status = sane_get_parameters(Handle(handle_), &p);
    if (status != SANE_STATUS_GOOD) {
        sane_cancel(Handle(handle_));
        return Fail(status);
    }
    frame = FrameOf(p);
    midFrame_ = true;
    return true;
}

bool TSaneDevice::Start(TSaneFrame& frame) {
    if (!StartFrame(frame)) return false;
    // Pages in one frame only: three-pass colour stays unread.
    const bool depthKnown = frame.Depth == 1 || frame.Depth == 8 || frame.Depth == 16;
    const bool gray = frame.Last && frame.Format == TSaneFrame::Gray && depthKnown;
    const bool rgb = frame.Last && frame.Format == TSaneFrame::Rgb && (frame.Depth == 8 || frame.Depth == 16);
    // Rows must hold the pixels they announce.
    const int64_t rowBits = int64_t(frame.PixelsPerLine) * frame.Depth * (rgb ? 3 : 1);
    if ((gray || rgb) && frame.PixelsPerLine > 0 && (rowBits + 7) / 8 <= frame.BytesPerLine) return true;
    frame.Format = TSaneFrame::Unsupported;
    Cancel();
    error_ = "The device delivers its pages in a form that cannot be read.";
    return false;
}

TSaneDevice::TRead TSaneDevice::Read(uint8_t* buffer, int size, int& got) {
    got = 0;
    if (!handle_ || size <= 0) return TRead::Failed;
    SANE_Int n = 0;
    const SANE_Status status = sane_read(Handle(handle_), buffer, size, &n);
    if (status == SANE_STATUS_EOF) {
        midFrame_ = false;
        return TRead::End;
    }
    if (status != SANE_STATUS_GOOD) {
        Fail(status);
        return TRead::Failed;
    }
    got = std::clamp<SANE_Int>(n, 0, size);
    return TRead::Data;
}

void TSaneDevice::Cancel() {
    if (!handle_) return;
    // Backends that read through a thread of their own kill it asynchronously on a cancel; a reader
    // killed while it is still starting can die holding the C library's loader lock, and the next
    // library load or unload hangs. A moment lets a reader that has only just begun get going.
    if (std::exchange(midFrame_, false)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sane_cancel(Handle(handle_));
}

double SaneResolution(TSaneDevice& device, bool vertical) {
    std::vector<double> value;
    const char* axis = vertical ? SANE_NAME_SCAN_Y_RESOLUTION : SANE_NAME_SCAN_X_RESOLUTION;
    if (device.GetNumbers(device.FindOption(axis), value) || device.GetNumbers(device.FindOption(SANE_NAME_SCAN_RESOLUTION), value))
        return value.empty() ? 0 : value[0];
    return 0;
}

bool IsSaneFeeder(const std::string& source) {
    std::string lower = source;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("feeder") != std::string::npos || lower.find("adf") != std::string::npos;
}

bool SaneFeederSelected(TSaneDevice& device) {
    std::string source;
    return device.GetText(device.FindOption(SANE_NAME_SCAN_SOURCE), source) && IsSaneFeeder(source);
}
