#pragma once
#include "platform/Files.h"

int BitmapCount();
