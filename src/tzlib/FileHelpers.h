#pragma once
// File names, files and folders. Paths use "/" and keep their letter case; the "Backslash"
// routines add and remove that separator. Failures are numbered errors with the path.
#include <cstdint>
#include <string>

#include "tzlib/DateTime.h"

class TStringList;

// Copy progress in percent, and the batch it counts; the caller sets the total and resets Done.
extern void (*CopyProgressProc)(int percent);
extern int64_t CopyBytesTotal;
extern int64_t CopyBytesDone;
extern bool CopyAbort;       // ends a running copy after the current block
extern bool ListFilesAbort;  // ends a running listing

// --- Names

std::string AddBackslash(const std::string& path);
// The root "/" stays as it is.
std::string RemoveBackslash(const std::string& path);
std::string PrependBackslash(const std::string& path);
std::string RemoveLeadingBackslash(const std::string& path);
// The name without folder, cut before its first "." (a leading dot belongs to the name).
std::string FileNameWithoutExt(const std::string& path);
// "/a/b" gives "/a", "/a" gives "/", "/" and "a" give "".
std::string ParentFolder(const std::string& path);
// Both expanded to full paths; the path must lie in the folder or be the folder.
bool IsPathInFolder(const std::string& folder, const std::string& path);

// --- Files and folders

// True for anything but a folder (a link to a file counts as the file).
bool FileExists(const std::string& path);
void CheckFileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Read-only: nobody may write it by its permissions.
bool IsFileReadOnly(const std::string& path);
void ClearReadOnly(const std::string& path);
// True when the file cannot be opened or another process holds a lock on it.
bool IsFileLocked(const std::string& path);
// Waits up to 30 seconds for the lock to go; error 11 when it stays.
void WaitFileUnlocked(const std::string& path);
// Nothing when the file does not exist; a failed deletion raises error 11 (not for THUMBS.DB).
void DeleteFileChecked(const std::string& path);
// Error 5 when the file cannot be read; EConvertError for a time outside the years 1 to 9999.
TDateTime GetFileDate(const std::string& path);
// 0 when the file cannot be read.
int64_t GetFileSizeByName(const std::string& path);
// The path with every component spelled as the file system has it: a component given in another
// letter case becomes the entry it names, when exactly one entry matches. Links keep their own
// names. Unchanged when a component cannot be found.
std::string GetTruePathName(const std::string& path);
// Creates the folder and its missing parents.
void ForceFolder(const std::string& path);
// Deletes everything in the folder; a link is removed, never followed.
void EmptyFolder(const std::string& path);
// Empties and removes the folder; failures raise error 51 only when asked.
void DeleteFolderTree(const std::string& path, bool raiseOnFailure);
// Adds the files matching the mask in any letter case (empty or "*.*": every file), without hidden ones, each
// relative to base (full paths for an empty base); sub-folders depth first when recursive.
void ListFilesByMask(const std::string& folder, const std::string& mask, const std::string& base, bool recursive,
                     TStringList& list);
// The path relative to base; a path outside base raises error 14 unless allowed, when it becomes
// "[folder/]name".
std::string MakeRelativePath(const std::string& path, const std::string& base, bool allowOutside);
// Copies in blocks with progress; a destination folder (existing, or ending in "/") receives the
// source's name. The destination appears only when complete and carries the source's date.
void CopyFileWithProgress(const std::string& source, const std::string& destination);
