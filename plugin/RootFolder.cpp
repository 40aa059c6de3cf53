#include "plugin/RootFolder.h"

#include "plugin/PhonePath.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace Tpot {

namespace {

// As many links as the kernel follows in one path.
constexpr int MaxLinks = 40;

// Set once the kernel turned out to lack openat2 (before Linux 5.6).
std::atomic<bool> gNoOpenat2{false};

int Openat2Beneath(int dirFd, const char* path, int flags) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, dirFd, path, &how, sizeof how));
}

// Puts the segments of Path before the ones still to walk.
void PushFront(std::string_view path, std::deque<std::string>& todo) {
    std::vector<std::string> segments;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > pos)
            segments.emplace_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    todo.insert(todo.begin(), segments.begin(), segments.end());
}

// The folders walked so far, each held open; the first is the root.
class TStack {
public:
    explicit TStack(int root) { Fds.push_back(::fcntl(root, F_DUPFD_CLOEXEC, 0)); }
    TStack(const TStack&) = delete;
    TStack& operator=(const TStack&) = delete;
    ~TStack() {
        for (const int fd : Fds)
            if (fd >= 0)
                ::close(fd);
    }
    bool Valid() const { return Fds.front() >= 0; }
    int Top() const { return Fds.back(); }
    bool AtRoot() const { return Fds.size() == 1; }
    void Push(int fd) { Fds.push_back(fd); }
    void Pop() {
        ::close(Fds.back());
        Fds.pop_back();
    }
    void BackToRoot() {
        while (!AtRoot())
            Pop();
    }

private:
    std::vector<int> Fds;
};

} // namespace

TRootFolder::~TRootFolder() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool TRootFolder::Open(const std::string& path, std::string& why) {
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) {
        why = std::strerror(errno);
        return false;
    }
    const int fd = ::open(buffer, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        why = errno == ENOTDIR ? std::string("not a folder") : std::strerror(errno);
        return false;
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
    real_ = buffer;
    return true;
}

int TRootFolder::OpenBeneath(const std::string& path, int flags) const {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    if (!gNoOpenat2.load(std::memory_order_relaxed)) {
        const std::string relative = path == "/" ? std::string(".") : path.substr(1);
        const int fd = Openat2Beneath(fd_, relative.c_str(), flags);
        if (fd >= 0)
            return fd;
        if (errno == ENOSYS)
            gNoOpenat2.store(true, std::memory_order_relaxed);
        // Refused for a link that leaves, or for an absolute one: the walk
        // tells the two apart. A filter that forbids the call: the walk too.
        else if (errno != EXDEV && errno != ELOOP && errno != EPERM)
            return -1;
    }
    return Walk(path, flags);
}

int TRootFolder::OpenParent(const std::string& path) const {
    return OpenBeneath(ParentPath(path), O_PATH | O_DIRECTORY);
}

int TRootFolder::Walk(const std::string& path, int flags) const {
    TStack stack(fd_);
    if (!stack.Valid())
        return -1;
    std::deque<std::string> todo;
    PushFront(path, todo);
    if (todo.empty())
        return ::openat(fd_, ".", flags | O_CLOEXEC);
    int links = 0;
    while (!todo.empty()) {
        const std::string name = std::move(todo.front());
        todo.pop_front();
        if (name == ".")
            continue;
        if (name == "..") {
            if (stack.AtRoot()) {
                errno = EXDEV;
                return -1;
            }
            stack.Pop();
            continue;
        }
        const bool last = todo.empty();
        // Never follows a link here: a link is read and checked below, so
        // one put in place meanwhile is met as a link, not walked through.
        const int fd = last ? ::openat(stack.Top(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC)
                            : ::openat(stack.Top(), name.c_str(),
                                       O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int error = errno;
        if (fd >= 0) {
            struct stat st {};
            // O_PATH with O_NOFOLLOW opens a link itself.
            if (!(flags & O_PATH) || ::fstat(fd, &st) != 0 || !S_ISLNK(st.st_mode)) {
                if (last)
                    return fd;
                stack.Push(fd);
                continue;
            }
            ::close(fd);
            error = ELOOP;
        }
        if (error != ELOOP && error != ENOTDIR) {
            errno = error;
            return -1;
        }
        char target[PATH_MAX];
        const ssize_t size = ::readlinkat(stack.Top(), name.c_str(), target, sizeof target);
        if (size < 0 || static_cast<std::size_t>(size) >= sizeof target) {
            errno = error; // not a link (any more): the first answer stands
            return -1;
        }
        if (++links > MaxLinks) {
            errno = ELOOP;
            return -1;
        }
        std::string_view text(target, static_cast<std::size_t>(size));
        if (!text.empty() && text.front() == '/') {
            // Absolute: inside only when it names the root's own full path.
            if (real_ != "/") {
                if (text.substr(0, real_.size()) != real_ ||
                    (text.size() > real_.size() && text[real_.size()] != '/')) {
                    errno = EXDEV;
                    return -1;
                }
                text.remove_prefix(real_.size());
            }
            stack.BackToRoot();
        }
        PushFront(text, todo);
        if (todo.empty()) // the link named the root itself
            todo.emplace_back(".");
    }
    // The last name was ".." or ".": the folder now on top is the answer.
    return ::openat(stack.Top(), ".", flags | O_CLOEXEC);
}

std::string BeneathReason(int error) {
    if (error == EXDEV)
        return "a link leads outside the phone folder";
    return std::strerror(error);
}

} // namespace Tpot
