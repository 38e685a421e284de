#include "tzlib/FileHelpers.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Classes.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "tzlib/WindowHooks.h"
#include "tzlib/Errors.h"

void (*CopyProgressProc)(int percent) = nullptr;
int64_t CopyBytesTotal = 0;
int64_t CopyBytesDone = 0;
bool CopyAbort = false;
bool ListFilesAbort = false;

namespace {

constexpr int64_t CopyBlockSize = 10000;
constexpr auto LockWait = std::chrono::seconds(30);

bool StatOf(const std::string& path, struct stat& info) { return ::stat(path.c_str(), &info) == 0; }

bool LinkStatOf(const std::string& path, struct stat& info) { return ::lstat(path.c_str(), &info) == 0; }

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// Absolute, with "." and ".." resolved, without trailing "/" (but for the root).
std::string FullPath(const std::string& path) {
    std::error_code error;
    std::string full = std::filesystem::absolute(path, error).lexically_normal().string();
    if (error) full = path;
    return full.size() > 1 && full.ends_with('/') ? full.substr(0, full.size() - 1) : full;
}

struct TEntry {
    std::string name;
    bool isFolder;  // a real folder, not a link to one
};

// The entries other than "." and "..", in name order so that listings do not depend on the
// file system's storage order.
std::vector<TEntry> FolderEntries(const std::string& folder) {
    std::vector<TEntry> entries;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return entries;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat info;
        const bool isFolder = LinkStatOf(AddBackslash(folder) + name, info) && S_ISDIR(info.st_mode);
        entries.push_back({name, isFolder});
    }
    std::ranges::sort(entries, {}, &TEntry::name);
    return entries;
}

// Letter case is ignored, as on Windows: "*.jpg" takes A.JPG.
bool MatchesMask(const std::string& mask, const std::string& name) {
    return mask.empty() || mask == "*.*" || ::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

bool IsHidden(const std::string& name) { return name.starts_with('.'); }

bool SameFile(const std::string& a, const std::string& b) {
    struct stat infoA, infoB;
    return StatOf(a, infoA) && StatOf(b, infoB) && infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

// The entry of the folder that is `name` in some letter case (ASCII letters): the entry itself
// when it exists, else the only one that matches ignoring case; empty when none or several do.
std::string SpelledEntry(const std::string& folder, const std::string& name) {
    struct stat info;
    if (name == "." || name == "..") return StatOf(folder, info) && S_ISDIR(info.st_mode) ? name : "";
    if (LinkStatOf(AddBackslash(folder) + name, info)) return name;
    const std::string upper = Upper(name);
    std::string found;
    for (const TEntry& entry : FolderEntries(folder)) {
        if (Upper(entry.name) != upper) continue;
        if (!found.empty()) return {};
        found = entry.name;
    }
    return found;
}

void ReportCopyProgress(int64_t bytes) {
    CopyBytesDone += bytes;
    CopyProgressProc(static_cast<int>(std::nearbyint(static_cast<double>(CopyBytesDone) * 100 / CopyBytesTotal)));
}

}  // namespace

// --- Names

std::string AddBackslash(const std::string& path) {
    return path.empty() || path.ends_with('/') ? path : path + "/";
}

std::string RemoveBackslash(const std::string& path) {
    return path.size() > 1 && path.ends_with('/') ? path.substr(0, path.size() - 1) : path;
}

std::string PrependBackslash(const std::string& path) {
    return path.empty() || path.starts_with('/') ? path : "/" + path;
}

std::string RemoveLeadingBackslash(const std::string& path) {
    return path.starts_with('/') && !path.starts_with("//") ? path.substr(1) : path;
}

std::string FileNameWithoutExt(const std::string& path) {
    const std::string name = BaseName(path);
    const size_t nameStart = std::min(name.find_first_not_of('.'), name.size());
    return name.substr(0, name.find('.', nameStart));
}

std::string ParentFolder(const std::string& path) {
    const std::string folder = RemoveBackslash(path);
    const size_t slash = folder.rfind('/');
    if (folder == "/" || slash == std::string::npos) return {};
    return slash == 0 ? "/" : folder.substr(0, slash);
}

bool IsPathInFolder(const std::string& folder, const std::string& path) {
    if (folder.empty()) return false;
    return AddBackslash(FullPath(path)).starts_with(AddBackslash(FullPath(folder)));
}

// --- Files and folders

bool FileExists(const std::string& path) {
    struct stat info;
    return StatOf(path, info) && !S_ISDIR(info.st_mode);
}

void CheckFileExists(const std::string& path) {
    if (!FileExists(path)) RaiseBrelvantError(4, path);
}

bool FolderExists(const std::string& path) {
    struct stat info;
    return StatOf(path, info) && S_ISDIR(info.st_mode);
}

bool IsFileReadOnly(const std::string& path) {
    struct stat info;
    return StatOf(path, info) && !S_ISDIR(info.st_mode) && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

void ClearReadOnly(const std::string& path) {
    if (!IsFileReadOnly(path)) return;
    struct stat info;
    if (!StatOf(path, info) || ::chmod(path.c_str(), (info.st_mode & 07777) | S_IWUSR) != 0)
        RaiseBrelvantError(5, path);
}

// Only looks: the permissions stay as they are.
bool IsFileLocked(const std::string& path) {
    if (!FileExists(path)) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

void WaitFileUnlocked(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + LockWait;
    while (IsFileLocked(path)) {
        if (std::chrono::steady_clock::now() >= deadline) RaiseBrelvantError(11, path);
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void DeleteFileChecked(const std::string& path) {
    struct stat info;
    if (!LinkStatOf(path, info) || S_ISDIR(info.st_mode)) return;
    if (::unlink(path.c_str()) != 0 && Upper(BaseName(path)) != "THUMBS.DB") RaiseBrelvantError(11, path);
}

TDateTime GetFileDate(const std::string& path) {
    struct stat info;
    if (!StatOf(path, info)) RaiseBrelvantError(5, path);
    return UnixTimeToDateTime(info.st_mtim);
}

int64_t GetFileSizeByName(const std::string& path) {
    struct stat info;
    return StatOf(path, info) && S_ISREG(info.st_mode) ? static_cast<int64_t>(info.st_size) : 0;
}

std::string GetTruePathName(const std::string& path) {
    std::string rebuilt = path.starts_with('/') ? "/" : "";
    for (size_t start = 0; start < path.size();) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;
        const std::string spelled = SpelledEntry(rebuilt.empty() ? "." : rebuilt, name);
        if (spelled.empty()) return path;
        rebuilt = (rebuilt.empty() || rebuilt.ends_with('/') ? rebuilt : rebuilt + "/") + spelled;
    }
    return path.ends_with('/') ? AddBackslash(rebuilt) : rebuilt;
}

void ForceFolder(const std::string& path) {
    try {
        ForceDirectories(path);
    } catch (const EInOutError&) {
        RaiseBrelvantError(15, path);
    }
}

void EmptyFolder(const std::string& path) {
    if (!FolderExists(path)) return;
    for (const TEntry& entry : FolderEntries(path)) {
        const std::string full = AddBackslash(path) + entry.name;
        if (entry.isFolder)
            DeleteFolderTree(full, false);
        else
            DeleteFileChecked(full);
    }
}

void DeleteFolderTree(const std::string& path, bool raiseOnFailure) {
    try {
        struct stat info;
        if (LinkStatOf(path, info) && S_ISLNK(info.st_mode)) {
            // A link to a folder goes; what it points to stays.
            if (::unlink(path.c_str()) != 0) RaiseBrelvantError(51, path);
            return;
        }
        EmptyFolder(path);
        if (FolderExists(path) && ::rmdir(path.c_str()) != 0) RaiseBrelvantError(51, path);
    } catch (const std::exception&) {
        if (raiseOnFailure) RaiseBrelvantError(51, path);
    }
}

void ListFilesByMask(const std::string& folder, const std::string& mask, const std::string& base, bool recursive,
                     TStringList& list) {
    if (!FolderExists(folder)) return;
    const std::string prefix = AddBackslash(folder);
    const std::vector<TEntry> entries = FolderEntries(folder);
    for (const TEntry& entry : entries) {
        if (ListFilesAbort) return;
        if (IsHidden(entry.name) || FolderExists(prefix + entry.name) || !MatchesMask(mask, entry.name)) continue;
        list.Add(MakeRelativePath(prefix + entry.name, base, false));
    }
    if (!recursive) return;
    ProcessMessages();
    // Links to folders are not followed, so a link cannot lead the listing round in a circle.
    for (const TEntry& entry : entries) {
        if (ListFilesAbort) return;
        if (entry.isFolder && !IsHidden(entry.name)) ListFilesByMask(prefix + entry.name, mask, base, true, list);
    }
}

std::string MakeRelativePath(const std::string& path, const std::string& base, bool allowOutside) {
    if (!path.starts_with('/') || base.empty()) return path;
    if (IsPathInFolder(base, path)) {
        const std::string full = FullPath(path);
        return RemoveLeadingBackslash(full.substr(std::min(RemoveBackslash(FullPath(base)).size(), full.size())));
    }
    if (!allowOutside) RaiseBrelvantError(14, path);
    const size_t slash = path.rfind('/');
    return std::string("[") + path.substr(0, slash) + "/]" + path.substr(slash + 1);
}

void CopyFileWithProgress(const std::string& source, const std::string& destination) {
    if (!FileExists(source)) RaiseBrelvantError(4, source);
    if (CopyProgressProc && CopyBytesTotal == 0) RaiseBrelvantError(2, "CopyFile : BytesToCopy=0");

    std::string target = FullPath(destination);
    if (FolderExists(target) || destination.ends_with('/')) {
        ForceFolder(target);
        target = AddBackslash(target) + BaseName(source);
    }
    if (FullPath(source) == target || SameFile(source, target)) return;

    std::unique_ptr<TFileStream> input;
    try {
        input = std::make_unique<TFileStream>(source, fmOpenRead);
    } catch (const EStreamError&) {
        RaiseBrelvantError(5, source);
    }
    std::unique_ptr<TAtomicFile> output;
    try {
        output = std::make_unique<TAtomicFile>(target);
    } catch (const EStreamError&) {
        RaiseBrelvantError(9, target);
    }

    std::vector<char> block(CopyBlockSize);
    for (;;) {
        int64_t got = 0;
        try {
            got = input->Read(block.data(), CopyBlockSize);
        } catch (const EReadError&) {
            RaiseBrelvantError(5, source);
        }
        if (got == 0) break;
        try {
            if (output->Stream().Write(block.data(), got) != got) RaiseBrelvantError(77, "");
        } catch (const EWriteError& e) {
            RaiseBrelvantError(77, e.Message());
        }
        if (CopyProgressProc) ReportCopyProgress(got);
        ProcessMessages();
        // An aborted copy leaves no partial file behind.
        if (CopyAbort) return;
    }

    struct stat info;
    if (::fstatat(AT_FDCWD, source.c_str(), &info, 0) == 0) {
        const timespec times[2] = {info.st_atim, info.st_mtim};
        ::utimensat(AT_FDCWD, output->TempFileName().c_str(), times, 0);
        ::chmod(output->TempFileName().c_str(), info.st_mode & 07777);
    }
    try {
        output->Commit();
    } catch (const EWriteError& e) {
        RaiseBrelvantError(77, e.Message());
    }
}
