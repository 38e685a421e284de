#pragma once
// The writer's reader of picture files and internet addresses in this program: a file's class by
// its content, then by its extension, from the extended library's registry; downloads over http
// and https, bounded in size and in the time a server may stay silent.
#include <string>

#include "pdf/PictureFile.h"

class TEnginePictureFiles : public TPictureFileReader {
public:
    TPictureFileContent Read(const std::string& fileName, bool passJpeg) override;
    // Downloads an http or https address into a new file "Download<n><.ext>" of the folder.
    // Addresses of other kinds, nothing received or a refused request raise EPdfError "File not
    // found"; a failing connection, or 30 s without data, "Invalid Windows function call". Each
    // failure says why in brackets after its parameter ("HTTP 404", "Connection refused").
    std::string Download(const std::string& url, const std::string& folder) override;
};

// True when the name begins with "http://" or "https://", in any letter case.
bool IsInternetAddress(const std::string& name);

// Gives the writer this reader unless it has it already.
void InstallPictureFiles();
