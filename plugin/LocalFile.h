#pragma once

// Local file helpers of the plugin. The plugin is a library of its own with no
// link to the program, so it carries these few calls itself.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace Tpot {

// A file written under a temporary name in the folder of its target and, once
// complete, flushed to disk and renamed over the target. Until Commit, the
// target is untouched; a file never committed is removed again. The
// temporary name is ".T-Pot-" and six letters or digits.
class TLocalAtomicFile {
public:
    TLocalAtomicFile() = default;
    TLocalAtomicFile(const TLocalAtomicFile&) = delete;
    TLocalAtomicFile& operator=(const TLocalAtomicFile&) = delete;
    ~TLocalAtomicFile();

    // Target: a local path; its folder is opened by that path.
    bool Open(const std::string& target, std::string& why);
    // The file Name in the folder DirFd (which stays the caller's): the name
    // is never followed as a link, and the folder cannot change under us.
    bool OpenAt(int dirFd, const std::string& name, std::string& why);
    bool Write(const char* data, std::size_t size, std::string& why);
    // Replaces the target. With NoReplace, an existing target wins and stays.
    bool Commit(std::string& why, bool noReplace = false);

    // The new file's permission bits: Mode (only its 0777 part), less the
    // umask unless Exact. Without a call, an ordinary new file's (0666 less
    // the umask). Call before Open.
    void SetMode(uint32_t mode, bool exact);
    // The new file's modification time, seconds since 1970, set at Commit.
    void SetTime(int64_t seconds);

private:
    bool Create(std::string& why);
    void Discard();

    int dirFd_ = -1;
    int fd_ = -1;
    std::string name_;
    std::string tempName_;
    uint32_t mode_ = 0666;
    bool exactMode_ = false;
    bool hasTime_ = false;
    int64_t time_ = 0;
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

// One read of a local file for a transfer to the phone: the bytes read (0 at
// its end), or -1 with the reason in Why. An interrupted read is tried again.
std::ptrdiff_t ReadLocalBlock(int fd, char* buffer, std::size_t capacity, std::string& why);

// The blocks of the local file Fd for a copy to the phone: Proceed is asked
// before each block, and false stops the copy as the user's (UserStopped); a
// failed read stops it with LocalFailed and the reason in Why; Done counts
// the bytes read. The flags and counters must outlive the copy.
std::function<std::ptrdiff_t(char* buffer, std::size_t capacity)>
LocalBlocks(int fd, std::function<bool()> proceed, std::uint64_t& done, bool& localFailed,
            bool& userStopped, std::string& why);

} // namespace Tpot
