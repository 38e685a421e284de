#pragma once
// Writing a file so that readers see either the old file or the complete new one.
#include <memory>
#include <string>

#include "Classes.h"

// A temporary file beside the target; Commit renames it over the target. Destroyed without
// Commit (an error, an abort), it removes the temporary file and leaves the target untouched.
// A replaced file keeps its mode, a symbolic link stays and its target is replaced, and a new
// file gets its mode from the umask; the process's umask itself is never touched.
class TAtomicFile {
public:
    explicit TAtomicFile(const std::string& targetFileName);
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    TFileStream& Stream() { return *stream_; }
    const std::string& TempFileName() const { return tempFileName_; }
    const std::string& TargetFileName() const { return targetFileName_; }
    // Flushes, closes and renames; raises EWriteError when any step fails.
    void Commit();
    // Removes the temporary file now.
    void Discard();

private:
    std::string targetFileName_;
    std::string writtenFileName_;  // the target with its links followed
    std::string tempFileName_;
    int tempTicket_ = -1;  // the signal handlers know the temporary file by it
    std::unique_ptr<TFileStream> stream_;
};
