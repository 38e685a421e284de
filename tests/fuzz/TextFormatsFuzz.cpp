// The utility library's date, number and period formats on arbitrary format texts and values, and
// file times from the whole 64-bit range. The first byte picks the routine, the next eight are the
// value, the rest is the format.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/Exception.h"
#include "tzlib/DateTime.h"
#include "tzlib/TextFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    double value;
    int64_t seconds;
    std::memcpy(&value, data + 1, sizeof value);
    std::memcpy(&seconds, data + 1, sizeof seconds);
    const std::string format(reinterpret_cast<const char*>(data) + 9, size - 9);
    try {
        switch (data[0] % 3) {
            case 0: FormatDateTime(format, value); break;
            case 1: FormatNumber(format, value); break;
            default: UnixTimeToDateTime({static_cast<time_t>(seconds), 0}); break;
        }
    } catch (const Exception&) {
    }
    return 0;
}
