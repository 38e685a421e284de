#include "pdf/Writer.h"

#include "platform/Files.h"

int PageCount() { return FileCount(); }
