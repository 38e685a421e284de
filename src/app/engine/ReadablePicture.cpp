#include "app/engine/ReadablePicture.h"

#include <algorithm>

#include "app/engine/Converter.h"
#include "app/engine/ConverterPic.h"
#include "platform/Exception.h"

TConverterPic* AddReadablePicture(TConverter& converter, const std::string& fileName, int frameIndex) {
    TConverterPic* pic = TConverterPic::Add(converter, fileName, frameIndex);
    try {
        // A picture that cannot be read never waits in the list: its header is read now, once
        // (a multi-frame file's was read as the picture was made, to count its frames).
        if (!pic->Source().HeaderRead()) pic->Open();
        // A frame number beyond the file is refused instead of added.
        const int frames = std::max(pic->FrameCount, 1);
        if (frameIndex >= frames)
            throw Exception(fileName + " has " + std::to_string(frames) + (frames == 1 ? " frame" : " frames") +
                            ": there is no frame " + std::to_string(frameIndex + 1));
    } catch (...) {
        converter.DeletePic(converter.Pics.Count() - 1);
        throw;
    }
    return pic;
}
