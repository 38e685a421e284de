#pragma once
// The library's progress event: the reporting object and the whole percent done.
#include <functional>

#include "platform/Classes.h"

using TKVProgressEvent = std::function<void(TObject* Sender, int per)>;
