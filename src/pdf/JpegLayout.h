#pragma once
// The layout of a passed-through JPEG is read in platform, below every library that needs it.
#include "platform/JpegLayout.h"
