#pragma once
// Windows and enhanced metafiles: recognised here, drawn by the class library's metafile picture.
class TStream;
struct TKVFormatDriver;

// Content tests; both restore the stream position.
bool IsEMFStream(TStream& stream);
bool IsWMFStream(TStream& stream);

// The registry's records of the two formats, which only recognise them.
extern const TKVFormatDriver KVWmfDriver;
extern const TKVFormatDriver KVEmfDriver;
