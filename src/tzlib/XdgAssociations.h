#pragma once
// The desktop's programs for MIME types and URL schemes, from the XDG MIME associations.
#include <string>

// "application/pdf" for ".pdf"; empty for an extension nobody knows.
std::string MimeTypeOfExtension(const std::string& extension);
// The Exec line of the default program for the type ("x-scheme-handler/http" for a protocol);
// empty when none is registered.
std::string DefaultProgramCommand(const std::string& mimeType);
