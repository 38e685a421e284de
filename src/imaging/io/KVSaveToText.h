#pragma once
// The work bitmap as text: source-code constants of the encoded picture, Base64, or ASCII art.
#include <string>

class TKestovaIO;

enum TKVTextKind : int { tkByteConstants, tkCSource, tkBase64, tkAsciiArt };

// Writes the text file fileName (replaced only once complete). Kinds 0 to 2 encode the work bitmap
// as fileType first; a failed encoding raises EInvalidGraphic and writes nothing. Kind 3 writes one line
// per row of a kv24RGB bitmap and an empty file for any other pixel format.
void SaveToText(TKestovaIO& io, const std::string& fileName, int fileType, int textKind);
