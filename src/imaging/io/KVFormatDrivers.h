#pragma once
// The component's dispatch table: the drivers of the built-in formats, one record per type, and
// the order in which their content tests are tried. A built-in type without a reader or writer
// here cannot be loaded or saved in this build.
#include <span>

#include "imaging/io/KVFormatDriver.h"

std::span<const TKVFormatDriver* const> FormatDrivers();

// One content test and the type it tells.
struct TKVContentTest {
    int FileType = 0;
    TKVFormatDriver::TTest Test = nullptr;
};
// The content tests in the order they are tried: every driver's own, and camera raw files whose
// head names a container of their own before the looser tests that such a head could pass.
std::span<const TKVContentTest> ContentTests();
// nullptr for a type without a driver.
const TKVFormatDriver* FindFormatDriver(int fileType);
// True when pictures of the type can be loaded: by a driver, or by the read hook of a format
// added to the registry.
bool CanLoadFormat(int fileType);
