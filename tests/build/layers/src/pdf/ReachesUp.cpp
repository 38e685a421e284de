// The writer reaching the image library, which it does not link.
#include "imaging/core/Picture.h"

int PicturePages() { return PictureCount(); }
