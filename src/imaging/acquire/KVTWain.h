#pragma once
// Scanner acquisition through the source manager: a session walks the states up (manager open,
// source open, enabled), negotiates the settings, moves the image in the chosen transfer mode and
// walks the states down again. Failures never raise: they leave False and the parameter object's
// LastError and LastErrorText.
#include <functional>
#include <string>
#include <vector>

#include "imaging/acquire/KVTWainParams.h"

class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

// Every page of a multi-page acquisition; the bitmap lives for the call only.
using TKVTWainPageCallback = std::function<void(TKVBitmap& page, TIOParamsVals* params)>;

// The product name of the source the user chose; false when none was chosen.
bool KVTW_SelectImageSource(std::string& name, TKVTWainParams& params);
// Every source with a product name, in the manager's order.
void KVTW_GetSourceList(std::vector<TW_IDENTITY>& list, TKVTWainParams& params);
// One page into the bitmap, or with a callback every page the source has; true when at least one
// arrived. ioParams, when given, receives size, resolution and sample layout.
bool KVTW_Acquire(TKVBitmap& bitmap, const TKVTWainPageCallback& onPage, TKVTWainParams& params,
                  bool nativePixelFormat, TKVProgressRec& progress, TIOParamsVals* ioParams);
// Reads the selected source's capabilities into the parameter object; with setFirst the user's
// settings are written first and the change flags survive.
bool KVTW_GetCapabilities(TKVTWainParams& params, bool setFirst);
void KVTW_FreeResources(TKVTWainConnection& connection);

// A capability's container as a value list: its items, its range and its current value, a single
// negative resolution taken as 300; false for a container that cannot be read. The list's change
// flags are the caller's to clear.
template <typename T>
bool KVTW_ContainerToList(TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE container, TKVValueList<T>& list);

// Reads a file a source wrote as the type its content shows; false when it is no picture the
// image library reads.
bool KVTW_LoadTransferFile(const std::string& fileName, TKVBitmap& bitmap);

// The text of a condition code.
std::string KVTW_ConditionText(unsigned code);

// One strip of a memory transfer into the bitmap, kept inside the bitmap in both directions and
// inside the strip's own buffer.
void KVTW_CopyBuffer(const TW_IMAGEMEMXFER& strip, size_t bufferSize, int bitsPerPixel, bool nativePixelFormat,
                     TKVBitmap& bitmap);
