#pragma once

// Local file helpers of the plugin. The plugin is a library of its own with no
// link to the program, so it carries these few calls itself.

#include <cstddef>
#include <string>

namespace tpot {

// A file written under a temporary name in the folder of its target and, once
// complete, flushed to disk and renamed over the target. Until Commit, the
// target is untouched; a file never committed is removed again.
class TLocalAtomicFile {
public:
    TLocalAtomicFile() = default;
    TLocalAtomicFile(const TLocalAtomicFile&) = delete;
    TLocalAtomicFile& operator=(const TLocalAtomicFile&) = delete;
    ~TLocalAtomicFile();

    bool Open(const std::string& target, std::string& why);
    bool Write(const char* data, std::size_t size, std::string& why);
    // Replaces the target. With NoReplace, an existing target wins and stays.
    bool Commit(std::string& why, bool noReplace = false);

private:
    void Discard();

    int Fd = -1;
    std::string Target;
    std::string TempPath;
};

// Opens Path for reading only when it is a regular file (never waits on a pipe
// or device). Returns the descriptor, or -1 with errno-style reason in Why and
// NotFound set when the file does not exist.
int OpenRegularFile(const std::string& path, bool& notFound, std::string& why);

// The whole file, when it is a regular file of at most Limit bytes.
bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& out, bool& notFound,
                   std::string& why);

// The folder part of a local path ("." when there is none).
std::string LocalFolderOf(const std::string& path);

} // namespace tpot
