#pragma once
// The desktop's programs for MIME types and URL schemes, from the XDG MIME associations and the
// shared MIME database.
#include <optional>
#include <string>
#include <vector>

// "application/pdf" for ".pdf"; empty for an extension nobody knows.
std::string MimeTypeOfExtension(const std::string& extension);
// The Exec line of the default program for the type ("x-scheme-handler/http" for a protocol);
// empty when none is registered.
std::string DefaultProgramCommand(const std::string& mimeType);
// That program with its fixed arguments, without those that would name the document; empty when
// none is registered or its command line is malformed.
std::vector<std::string> DefaultProgramArguments(const std::string& mimeType);
// The value of the key in the group of a desktop entry file, its string escapes resolved;
// nothing when the file or the key is missing.
std::optional<std::string> ReadDesktopEntryValue(const std::string& fileName, const std::string& group,
                                                 const std::string& key);
