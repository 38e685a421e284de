#include "platform/Files.h"

int FileCount() { return 1; }
