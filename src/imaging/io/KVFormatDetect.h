#pragma once
// Which format a picture is, from its content. Formats that this build cannot load are reported
// as not recognised (0), never as another format.
#include <string>

class TStream;

// The file type number, 0 when nothing matches; the position is restored and nothing raises.
int DetectStreamFormat(TStream& stream);
// With checkExtension, a content type that disagrees with the extension's format gives 0.
int DetectFileFormat(const std::string& fileName, bool checkExtension);
