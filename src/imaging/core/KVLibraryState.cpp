#include "imaging/core/KVLibraryState.h"

std::recursive_mutex KVGlobalLock;
TKVGrayWeights KVGrayWeights{21, 71, 8};
