#include "tzlib/DateTime.h"

#include <langinfo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/Exception.h"

namespace {

constexpr int64_t UnixEpochDay = 25569;  // 1 January 1970 as a date

// Days since 1 January 1970 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
    static constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

std::string TwoDigits(int n) { return {static_cast<char>('0' + n / 10 % 10), static_cast<char>('0' + n % 10)}; }

std::string FourDigits(int n) { return TwoDigits(n / 100) + TwoDigits(n % 100); }

// The text between the first conversion of a strftime format and the next one.
std::string SeparatorOf(const char* format, const char* fallback) {
    const std::string f = format ? format : "";
    size_t i = 0;
    while (i < f.size() && f[i] == '%') {
        ++i;
        while (i < f.size() && std::strchr("EO-_0^#", f[i])) ++i;  // modifiers
        ++i;
    }
    const size_t end = f.find('%', i);
    const std::string separator = i < f.size() ? f.substr(i, end - i) : "";
    return separator.empty() ? fallback : separator;
}

struct TTimeOfDay {
    int hour, minute, second;
};

// As the class library decodes a time: rounded to the millisecond, then cut to the second, so
// that 0.3 s before midnight is still 23:59:59 of the same day.
TTimeOfDay TimeOf(TDateTime date) {
    const double fraction = date - std::floor(date);
    const int64_t milliseconds = std::min<int64_t>(std::llround(fraction * 86400000), 86399999);
    const int64_t seconds = milliseconds / 1000;
    return {static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60)};
}

std::string Strftime(const char* format, TDateTime date) {
    int year, month, day;
    if (!TryDecodeDate(date, year, month, day)) return {};
    const TTimeOfDay time = TimeOf(date);
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = time.hour;
    tm.tm_min = time.minute;
    tm.tm_sec = time.second;
    tm.tm_wday = DayOfWeek(date) - 1;
    tm.tm_yday = static_cast<int>(std::floor(date) - EncodeDate(year, 1, 1));
    tm.tm_isdst = -1;
    char buffer[256];
    const size_t length = std::strftime(buffer, sizeof buffer, format, &tm);
    return std::string(buffer, length);
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Bytes of the UTF-8 character that begins at the position: the lead byte and the continuation
// bytes it announces and that are there; a byte that leads nothing stands alone.
size_t Utf8CharacterLength(const std::string& text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t announced = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    size_t length = 1;
    while (length < announced && at + length < text.size() &&
           (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80)
        ++length;
    return length;
}

// The length of the token at the position, at least one byte: a run of one ASCII letter in any
// case, or one whole character.
size_t TokenLength(const std::string& format, size_t at) {
    if (static_cast<unsigned char>(format[at]) >= 0x80) return Utf8CharacterLength(format, at);
    const char c = LowerAscii(format[at]);
    size_t end = at + 1;
    while (end < format.size() && LowerAscii(format[end]) == c) ++end;
    return end - at;
}

}  // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
    if (year < MinDateYear || year > MaxDateYear || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    date = static_cast<double>(DaysFromCivil(year, month, day) + UnixEpochDay);
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime date;
    if (!TryEncodeDate(year, month, day, date))
        throw EConvertError("Invalid date " + std::to_string(year) + "-" + std::to_string(month) + "-" +
                            std::to_string(day));
    return date;
}

bool TryDecodeDate(TDateTime date, int& year, int& month, int& day) {
    static const double First = DaysFromCivil(MinDateYear, 1, 1) + UnixEpochDay;
    static const double Last = DaysFromCivil(MaxDateYear, 12, 31) + UnixEpochDay;
    if (!(date >= First && date < Last + 1)) return false;  // also refuses NaN
    CivilFromDays(static_cast<int64_t>(std::floor(date)) - UnixEpochDay, year, month, day);
    return true;
}

int DayOfWeek(TDateTime date) {
    const auto z = static_cast<int64_t>(std::floor(date));
    return static_cast<int>(((z % 7 + 7) % 7 + 6) % 7 + 1);
}

TDateTime Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return UnixTimeToDateTime(now);
}

TDateTime UnixTimeToDateTime(const timespec& time) {
    std::tm local{};
    // A file time can claim any year; tm_year + 1900 must not overflow, nor the date leave its range.
    if (!localtime_r(&time.tv_sec, &local) || local.tm_year < MinDateYear - 1900 || local.tm_year > MaxDateYear - 1900)
        throw EConvertError("Time outside the years " + std::to_string(MinDateYear) + " to " +
                            std::to_string(MaxDateYear));
    const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + time.tv_nsec / 1e9;
    return static_cast<double>(DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                               UnixEpochDay) +
           seconds / 86400;
}

std::string DateSeparator() { return SeparatorOf(nl_langinfo(D_FMT), "/"); }

std::string TimeSeparator() { return SeparatorOf(nl_langinfo(T_FMT), ":"); }

std::string FormatDateTime(const std::string& format, TDateTime date) {
    int year, month, day;
    if (!TryDecodeDate(date, year, month, day)) throw EConvertError("Invalid date");
    const TTimeOfDay time = TimeOf(date);
    const int weekday = DayOfWeek(date) - 1;

    std::string out;
    bool afterHour = false;  // "m" after an hour, separators between, means minutes
    for (size_t i = 0; i < format.size();) {
        const char c = LowerAscii(format[i]);
        if (c == '"' || c == '\'') {
            const size_t close = format.find(format[i], i + 1);
            out += format.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
            i = close == std::string::npos ? format.size() : close + 1;
            continue;
        }
        const size_t n = TokenLength(format, i);
        switch (c) {
            case 'd':
                if (n == 1) out += std::to_string(day);
                else if (n == 2) out += TwoDigits(day);
                else out += nl_langinfo(static_cast<nl_item>((n == 3 ? ABDAY_1 : DAY_1) + weekday));
                break;
            case 'm':
                if (afterHour && n <= 2) out += n == 1 ? std::to_string(time.minute) : TwoDigits(time.minute);
                else if (n == 1) out += std::to_string(month);
                else if (n == 2) out += TwoDigits(month);
                else out += nl_langinfo(static_cast<nl_item>((n == 3 ? ABMON_1 : MON_1) + month - 1));
                break;
            case 'y':
                out += n <= 2 ? TwoDigits(year % 100) : FourDigits(year);
                break;
            case 'h':
                out += n == 1 ? std::to_string(time.hour) : TwoDigits(time.hour);
                break;
            case 'n': out += n == 1 ? std::to_string(time.minute) : TwoDigits(time.minute); break;
            case 's': out += n == 1 ? std::to_string(time.second) : TwoDigits(time.second); break;
            case '/':
                for (size_t k = 0; k < n; ++k) out += DateSeparator();
                break;
            case ':':
                for (size_t k = 0; k < n; ++k) out += TimeSeparator();
                break;
            default: out += format.substr(i, n); break;
        }
        if (c >= 'a' && c <= 'z') afterHour = c == 'h';
        i += n;
    }
    return out;
}

std::string DateToStr(TDateTime date) { return Strftime("%x", date); }

std::string DateTimeToStr(TDateTime date) { return Strftime("%x %X", date); }
