#include "platform/SaneDevice.h"

#include <sane/sane.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace {

std::mutex sessionLock;
int sessions = 0;
SANE_Int versionCode = 0;
TSaneDeviceDialog deviceDialog = nullptr;

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
    if (status != SANE_STATUS_GOOD) {
        error_ = sane_strstatus(status);
        return false;
    }
    handle_ = handle;
    return true;
}

void TSaneDevice::Close() {
    if (handle_) sane_close(Handle(handle_));
    handle_ = nullptr;
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
    switch (d->type) {
    case SANE_TYPE_BOOL: option.Kind = TSaneValueKind::Bool; break;
    case SANE_TYPE_INT: option.Kind = TSaneValueKind::Int; break;
    case SANE_TYPE_FIXED: option.Kind = TSaneValueKind::Fixed; break;
    case SANE_TYPE_STRING: option.Kind = TSaneValueKind::String; break;
    case SANE_TYPE_BUTTON: option.Kind = TSaneValueKind::Button; break;
    default: option.Kind = TSaneValueKind::Group; break;
    }
    if (IsNumberKind(option.Kind)) option.Count = std::max<SANE_Int>(d->size, 0) / SANE_Int(sizeof(SANE_Word));
    else if (option.Kind == TSaneValueKind::String) option.Count = 1;
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
    for (int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(Handle(handle_), i);
        if (d && d->name && name == d->name) return i;
    }
    return -1;
}

bool TSaneDevice::GetNumbers(int index, std::vector<double>& values) {
    TSaneOption option;
    if (!Describe(index, option) || !IsNumberKind(option.Kind) || option.Count <= 0 || !option.Active || !option.Readable)
        return false;
    std::vector<SANE_Word> words(static_cast<size_t>(option.Count));
    if (sane_control_option(Handle(handle_), index, SANE_ACTION_GET_VALUE, words.data(), nullptr) != SANE_STATUS_GOOD)
        return false;
    const SANE_Value_Type type = option.Kind == TSaneValueKind::Fixed ? SANE_TYPE_FIXED : SANE_TYPE_INT;
    values.clear();
    for (SANE_Word word : words) values.push_back(WordValue(type, word));
    return true;
}

bool TSaneDevice::GetText(int index, std::string& value) {
    const SANE_Option_Descriptor* d = handle_ && index > 0 && index < OptionCount()
                                          ? sane_get_option_descriptor(Handle(handle_), index) : nullptr;
    if (!d || d->type != SANE_TYPE_STRING || d->size <= 0 || !SANE_OPTION_IS_ACTIVE(d->cap) ||
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
    return sane_control_option(Handle(handle_), index, SANE_ACTION_SET_VALUE, words.data(), nullptr) == SANE_STATUS_GOOD;
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
    return sane_control_option(Handle(handle_), index, SANE_ACTION_SET_VALUE, text.data(), nullptr) == SANE_STATUS_GOOD;
}

bool TSaneDevice::Press(int index) {
    TSaneOption option;
    if (!Describe(index, option) || option.Kind != TSaneValueKind::Button || !option.Active || !option.Settable) return false;
    return sane_control_option(Handle(handle_), index, SANE_ACTION_SET_VALUE, nullptr, nullptr) == SANE_STATUS_GOOD;
}

bool TSaneDevice::Start(TSaneFrame& frame) {
    error_.clear();
    if (!handle_) return false;
    SANE_Status status = sane_start(Handle(handle_));
    SANE_Parameters p{};
    if (status == SANE_STATUS_GOOD) status = sane_get_parameters(Handle(handle_), &p);
    if (status != SANE_STATUS_GOOD) {
        sane_cancel(Handle(handle_));
        error_ = sane_strstatus(status);
        return false;
    }
    frame = {};
    frame.BytesPerLine = p.bytes_per_line;
    frame.PixelsPerLine = p.pixels_per_line;
    frame.Lines = p.lines < 0 ? -1 : p.lines;
    frame.Depth = p.depth;
    // Pages in one frame only: three-pass colour stays unread.
    const bool depthKnown = p.depth == 1 || p.depth == 8 || p.depth == 16;
    if (p.last_frame && p.format == SANE_FRAME_GRAY && depthKnown) frame.Format = TSaneFrame::Gray;
    else if (p.last_frame && p.format == SANE_FRAME_RGB && (p.depth == 8 || p.depth == 16)) frame.Format = TSaneFrame::Rgb;
    // Rows must hold the pixels they announce.
    const int64_t rowBits = int64_t(p.pixels_per_line) * p.depth * (frame.Format == TSaneFrame::Rgb ? 3 : 1);
    if (frame.Format != TSaneFrame::Unsupported && p.pixels_per_line > 0 && (rowBits + 7) / 8 <= p.bytes_per_line)
        return true;
    sane_cancel(Handle(handle_));
    error_ = "The device delivers its pages in a form that cannot be read.";
    return false;
}

TSaneDevice::TRead TSaneDevice::Read(uint8_t* buffer, int size, int& got) {
    got = 0;
    if (!handle_ || size <= 0) return TRead::Failed;
    SANE_Int n = 0;
    const SANE_Status status = sane_read(Handle(handle_), buffer, size, &n);
    if (status == SANE_STATUS_EOF) return TRead::End;
    if (status != SANE_STATUS_GOOD) {
        error_ = sane_strstatus(status);
        return TRead::Failed;
    }
    got = std::clamp<SANE_Int>(n, 0, size);
    return TRead::Data;
}

void TSaneDevice::Cancel() {
    if (handle_) sane_cancel(Handle(handle_));
}
