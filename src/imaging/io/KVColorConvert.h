#pragma once
// The row colour converter the drivers convert rows between colour spaces with: through the
// record's colour profiles when colour management is on, otherwise by the library's formulas.
#include <atomic>
#include <cstdint>

class TIOParamsVals;

// Destination formats.
enum : int { kvccBGR = 1, kvccCMYK = 2, kvccLab = 4, kvccGray = 5 };

// sourceSpace is one of the layouts of KVICC.h (kvICC_RGB ... kvICC_RGB16BE); params may be null.
using TKVColorConverter = void (*)(const uint8_t* source, int sourceSpace, uint8_t* dest, TIOParamsVals* params,
                                   int64_t count, int destFormat);
// Combinations it does not know leave the destination untouched.
void KVDefaultColorConvert(const uint8_t* source, int sourceSpace, uint8_t* dest, TIOParamsVals* params,
                           int64_t count, int destFormat);

// The converter the drivers call: KVDefaultColorConvert at start.
extern std::atomic<TKVColorConverter> KVColorConvert;
// Whether colour profiles are applied first; off at start.
extern std::atomic<bool> KVColorManagement;
