#pragma once
// The folders the whole application shares: the last picture folder, which every file dialog
// starts in, and the program's private temporary folder for scanned pages.
#include <string>

// Without a trailing "/"; empty until a picture folder is known.
extern std::string PicDirectory;
// With a trailing "/"; empty until CreateTempFolder.
extern std::string TempFolder;

// A new folder readable by the user only, under the user's temporary folder, unique to this run.
void CreateTempFolder();
// Removes the folder with its content; failures are ignored.
void DeleteTempFolder();
// True for the temporary folder and what it holds: scanned pages, never a document or a folder
// to take pictures from, since it goes when the program ends.
bool IsInTempFolder(const std::string& path);
