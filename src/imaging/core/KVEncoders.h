#pragma once
// Text encodings of binary data: base64, ASCII base-85 and the PostScript run-length form.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Classes.h"

// The stream from its position to its end as base64 lines of lineLength / 4 groups (rounded
// up), each ended by CR LF.
void KVEncodeBase64ToText(TStream& stream, TStream& text, int lineLength);
// Appends the ASCII base-85 form of the bytes and the end "~>" CR LF to destination;
// lineCount holds the characters on the current line. Returns the characters appended.
int64_t KVASCII85Encode(const uint8_t* source, int64_t length, std::string& destination, int& lineCount);
// Appends the run-length form, ended by 128, to destination; returns the bytes appended.
int64_t KVRunLengthEncode(const uint8_t* source, int64_t length, std::vector<uint8_t>& destination);
// The text and CR LF.
void KVWriteLine(TStream& stream, const std::string& text);
