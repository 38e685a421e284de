#include "Decoder.h"

void RaiseCompressionError(const char* message) { throw EGraphicCompression(message); }

void RaiseDamagedData() { RaiseCompressionError("Compressed image data is damaged."); }
