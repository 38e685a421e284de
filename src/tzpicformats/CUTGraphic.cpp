#include "CUTGraphic.h"

// Cut files carry no signature: they are found by their extension only.
bool TCUTGraphic::IsFormatStream(TStream&) { return false; }
