#pragma once
// How a picture joins the engine's list, from the window or the command line.
#include <string>

class TConverter;
class TConverterPic;

// Adds the picture to the engine's list once its header has been read and its frame number is
// one of the file's; raises otherwise and leaves the list as it was.
TConverterPic* AddReadablePicture(TConverter& converter, const std::string& fileName, int frameIndex);
