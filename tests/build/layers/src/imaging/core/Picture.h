#pragma once
#include "platform/Files.h"

int PictureCount();
