#include "platform/Twain.h"

#include <algorithm>
#include <cmath>
#include <cstring>

TW_HANDLE TwainAlloc(size_t size) {
    auto* block = new TW_MEMBLOCK;
    block->Bytes.assign(size, 0);
    return block;
}

void TwainFree(TW_HANDLE handle) { delete handle; }

namespace {

void SetText(char (&field)[34], const std::string& text) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min(text.size(), sizeof field - 1));
}

}  // namespace

TW_IDENTITY TwainIdentity(TW_UINT32 id, const std::string& manufacturer, const std::string& family,
                          const std::string& product, const std::string& versionInfo) {
    TW_IDENTITY identity{};
    identity.Id = id;
    identity.Version.MajorNum = 1;
    identity.Version.Language = TWLG_USA;
    identity.Version.Country = TWCY_USA;
    SetText(identity.Version.Info, versionInfo);
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 9;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    SetText(identity.Manufacturer, manufacturer);
    SetText(identity.ProductFamily, family);
    SetText(identity.ProductName, product);
    return identity;
}

TW_FIX32 TwainToFix32(double value) {
    const auto bits = static_cast<int32_t>(std::lround(value * 65536.0));
    return {static_cast<TW_INT16>(bits >> 16), static_cast<TW_UINT16>(bits & 0xFFFF)};
}

double TwainFromFix32(TW_FIX32 value) { return value.Whole + value.Frac / 65536.0; }

namespace {

size_t ItemSize(TW_UINT16 itemType) {
    switch (itemType) {
    case TWTY_INT8:
    case TWTY_UINT8: return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL: return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32: return 4;
    default: return 0;
    }
}

// An item as its value; items of ONEVALUE and RANGE containers sit in 32-bit fields whose low
// bytes hold the item.
double ItemValue(TW_UINT16 itemType, const uint8_t* p) {
    switch (itemType) {
    case TWTY_INT8: return static_cast<int8_t>(p[0]);
    case TWTY_UINT8: return p[0];
    case TWTY_INT16: { int16_t v; std::memcpy(&v, p, 2); return v; }
    case TWTY_UINT16: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    case TWTY_BOOL: { uint16_t v; std::memcpy(&v, p, 2); return v != 0 ? 1 : 0; }
    case TWTY_INT32: { int32_t v; std::memcpy(&v, p, 4); return v; }
    case TWTY_UINT32: { uint32_t v; std::memcpy(&v, p, 4); return v; }
    case TWTY_FIX32: { TW_FIX32 v; std::memcpy(&v, p, 4); return TwainFromFix32(v); }
    default: return 0;
    }
}

void PutItem(TW_UINT16 itemType, double value, uint8_t* p) {
    switch (itemType) {
    case TWTY_INT8:
    case TWTY_UINT8: p[0] = static_cast<uint8_t>(std::lround(value)); break;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL: {
        const auto v = static_cast<uint16_t>(std::lround(value));
        std::memcpy(p, &v, 2);
        break;
    }
    case TWTY_FIX32: {
        const TW_FIX32 v = TwainToFix32(value);
        std::memcpy(p, &v, 4);
        break;
    }
    default: {
        const auto v = static_cast<uint32_t>(std::llround(value));
        std::memcpy(p, &v, 4);
    }
    }
}

uint32_t Field32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

bool ReadItems(const std::vector<uint8_t>& bytes, size_t offset, TW_UINT16 itemType, uint32_t count,
               TTwainValues& values) {
    const size_t size = ItemSize(itemType);
    if (size == 0 || count > (bytes.size() - offset) / size) return false;
    for (uint32_t i = 0; i < count; ++i) values.Items.push_back(ItemValue(itemType, &bytes[offset + i * size]));
    return true;
}

}  // namespace

bool TwainReadContainer(TW_UINT16 conType, TW_HANDLE container, TTwainValues& values) {
    values = {};
    if (!container) return false;
    const std::vector<uint8_t>& bytes = container->Bytes;
    values.ConType = conType;
    auto fits = [&](size_t size) { return bytes.size() >= size; };
    switch (conType) {
    case TWON_ONEVALUE: {
        if (!fits(sizeof(TW_ONEVALUE))) return false;
        std::memcpy(&values.ItemType, bytes.data(), 2);
        if (ItemSize(values.ItemType) == 0) return false;
        values.Current = ItemValue(values.ItemType, &bytes[offsetof(TW_ONEVALUE, Item)]);
        values.Items.push_back(values.Current);
        values.HasCurrent = true;
        return true;
    }
    case TWON_RANGE: {
        if (!fits(sizeof(TW_RANGE))) return false;
        std::memcpy(&values.ItemType, bytes.data(), 2);
        if (ItemSize(values.ItemType) == 0) return false;
        values.Min = ItemValue(values.ItemType, &bytes[offsetof(TW_RANGE, MinValue)]);
        values.Max = ItemValue(values.ItemType, &bytes[offsetof(TW_RANGE, MaxValue)]);
        values.Step = ItemValue(values.ItemType, &bytes[offsetof(TW_RANGE, StepSize)]);
        values.Default = ItemValue(values.ItemType, &bytes[offsetof(TW_RANGE, DefaultValue)]);
        values.Current = ItemValue(values.ItemType, &bytes[offsetof(TW_RANGE, CurrentValue)]);
        values.HasCurrent = true;
        return true;
    }
    case TWON_ARRAY: {
        if (!fits(sizeof(TW_ARRAY_HEADER))) return false;
        std::memcpy(&values.ItemType, bytes.data(), 2);
        return ReadItems(bytes, sizeof(TW_ARRAY_HEADER), values.ItemType,
                         Field32(&bytes[offsetof(TW_ARRAY_HEADER, NumItems)]), values);
    }
    case TWON_ENUMERATION: {
        if (!fits(sizeof(TW_ENUMERATION_HEADER))) return false;
        std::memcpy(&values.ItemType, bytes.data(), 2);
        if (!ReadItems(bytes, sizeof(TW_ENUMERATION_HEADER), values.ItemType,
                       Field32(&bytes[offsetof(TW_ENUMERATION_HEADER, NumItems)]), values))
            return false;
        const uint32_t current = Field32(&bytes[offsetof(TW_ENUMERATION_HEADER, CurrentIndex)]);
        const uint32_t defaultIndex = Field32(&bytes[offsetof(TW_ENUMERATION_HEADER, DefaultIndex)]);
        values.HasCurrent = current < values.Items.size();
        if (values.HasCurrent) values.Current = values.Items[current];
        if (defaultIndex < values.Items.size()) values.Default = values.Items[defaultIndex];
        return true;
    }
    default: return false;
    }
}

TW_HANDLE TwainOneValue(TW_UINT16 itemType, double value) {
    TW_HANDLE handle = TwainAlloc(sizeof(TW_ONEVALUE));
    std::memcpy(handle->Bytes.data(), &itemType, 2);
    PutItem(itemType, value, &handle->Bytes[offsetof(TW_ONEVALUE, Item)]);
    return handle;
}

TW_HANDLE TwainEnumeration(TW_UINT16 itemType, const std::vector<double>& items, TW_UINT32 currentIndex,
                           TW_UINT32 defaultIndex) {
    const size_t size = ItemSize(itemType);
    TW_HANDLE handle = TwainAlloc(sizeof(TW_ENUMERATION_HEADER) + items.size() * size);
    TW_ENUMERATION_HEADER header{itemType, static_cast<TW_UINT32>(items.size()), currentIndex, defaultIndex};
    std::memcpy(handle->Bytes.data(), &header, sizeof header);
    for (size_t i = 0; i < items.size(); ++i)
        PutItem(itemType, items[i], &handle->Bytes[sizeof header + i * size]);
    return handle;
}

TW_HANDLE TwainRange(TW_UINT16 itemType, double min, double max, double step, double defaultValue,
                     double current) {
    TW_HANDLE handle = TwainAlloc(sizeof(TW_RANGE));
    std::memcpy(handle->Bytes.data(), &itemType, 2);
    uint8_t* p = handle->Bytes.data();
    PutItem(itemType, min, p + offsetof(TW_RANGE, MinValue));
    PutItem(itemType, max, p + offsetof(TW_RANGE, MaxValue));
    PutItem(itemType, step, p + offsetof(TW_RANGE, StepSize));
    PutItem(itemType, defaultValue, p + offsetof(TW_RANGE, DefaultValue));
    PutItem(itemType, current, p + offsetof(TW_RANGE, CurrentValue));
    return handle;
}

TW_HANDLE TwainOneText(const std::string& text) {
    TW_HANDLE handle = TwainAlloc(2 + 256);
    const TW_UINT16 itemType = TWTY_STR255;
    std::memcpy(handle->Bytes.data(), &itemType, 2);
    std::memcpy(handle->Bytes.data() + 2, text.data(), std::min<size_t>(text.size(), 255));
    return handle;
}

std::string TwainReadText(TW_HANDLE container) {
    if (!container || container->Bytes.size() < 2) return {};
    const char* text = reinterpret_cast<const char*>(container->Bytes.data() + 2);
    return {text, strnlen(text, container->Bytes.size() - 2)};
}
