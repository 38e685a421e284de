#pragma once
// Temporary files that do not outlive their writer: removed when a signal ends the process, and,
// when a process ended without the chance (killed, a power cut), by the next writer of the same
// file. Their names end in ".<process id>.XXXXXX", which tells which process made them.
#include <string>

// Keeps the file's name for the signal handlers until Forget; the handlers of SIGTERM, SIGINT
// and SIGHUP are installed the first time, where nobody else handles those signals, and a write
// beyond the file-size limit becomes a write error instead of ending the process.
int RememberTempFile(const std::string& name);
void ForgetTempFile(int ticket);

// A folder of the program's own that a signal ending the process removes with the files in it,
// until ForgetTempFolder; installs the handlers as RememberTempFile does.
void RememberTempFolder(const std::string& folder);
void ForgetTempFolder();

// Removes the files "<prefix><process id>.XXXXXX" of the folder, ours, whose process no longer
// runs. Each folder is listed once per process.
void RemoveAbandonedTempFiles(const std::string& folder, const std::string& prefix);
