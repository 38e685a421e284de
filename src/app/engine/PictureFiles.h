#pragma once
// The writer's reader of picture files and internet addresses in this program: a file's class by
// its content, then by its extension, from the extended library's registry; downloads over http
// and https, bounded in size and time.
#include <string>

#include "pdf/PictureFile.h"

class TEnginePictureFiles : public TPictureFileReader {
public:
    TPictureFileContent Read(const std::string& fileName, bool passJpeg) override;
    // Downloads an http or https address into a new file "Download<n><.ext>" of the folder.
    // Addresses of other kinds, nothing received or a refused request raise EPdfError "File not
    // found"; a failing connection "Invalid Windows function call".
    std::string Download(const std::string& url, const std::string& folder) override;
};

// Gives the writer this reader unless it has it already.
void InstallPictureFiles();
