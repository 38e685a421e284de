#pragma once
// The component's dispatch table: the drivers of the built-in formats, in the order their content
// tests are tried. A built-in type without a reader or writer here cannot be loaded or saved in
// this build.
#include <span>

#include "imaging/io/KVFormatDriver.h"

// In content-test order.
std::span<const TKVFormatDriver* const> FormatDrivers();
// nullptr for a type without a driver.
const TKVFormatDriver* FindFormatDriver(int fileType);
// True when pictures of the type can be loaded: by a driver, or by the read hook of a format
// added to the registry.
bool CanLoadFormat(int fileType);
