#include "imaging/core/Picture.h"

int PictureCount() { return FileCount(); }
