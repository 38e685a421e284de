#pragma once
// The class library's date-time: days since 30 December 1899 (a Saturday), the time of day as
// the fraction, in local time.
#include <ctime>
#include <string>

using TDateTime = double;

constexpr int MinDateYear = 1;
constexpr int MaxDateYear = 9999;

// False for a day that does not exist or a year outside 1 to 9999.
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
// Raises EConvertError for a day that does not exist.
TDateTime EncodeDate(int year, int month, int day);
// False for a date outside the years 1 to 9999.
bool TryDecodeDate(TDateTime date, int& year, int& month, int& day);
// 1 for Sunday to 7 for Saturday.
int DayOfWeek(TDateTime date);

TDateTime Now();
// Raises EConvertError for a time outside the years 1 to 9999.
TDateTime UnixTimeToDateTime(const timespec& time);

// The locale's separators: "/" in "dd/mm/yyyy", ":" in "hh:nn:ss".
std::string DateSeparator();
std::string TimeSeparator();

// Formats with d, dd, ddd, dddd, m, mm, mmm, mmmm, yy, yyyy, h, hh, n, nn, s, ss; "/" and ":"
// print the locale's separators; text in single or double quotes is printed as written.
std::string FormatDateTime(const std::string& format, TDateTime date);
// The locale's short date; short date and long time.
std::string DateToStr(TDateTime date);
std::string DateTimeToStr(TDateTime date);
