#pragma once

// A local folder that stands for the phone's root, held open by a descriptor,
// with every path below it resolved from that descriptor. Nothing a path
// names, and no symbolic link met on the way, can lead out of it, also not
// when the folder changes while a path is resolved (an sshfs mount is
// controlled by the phone): the kernel's openat2(RESOLVE_BENEATH) where it has
// it, else a walk of one name at a time that never follows a link unchecked.

#include <string>
#include <sys/types.h>

namespace Tpot {

class TRootFolder {
public:
    TRootFolder() = default;
    TRootFolder(const TRootFolder&) = delete;
    TRootFolder& operator=(const TRootFolder&) = delete;
    ~TRootFolder();

    // Opens Path as the root (replacing one open before). False with the reason.
    bool Open(const std::string& path, std::string& why);
    bool IsOpen() const { return fd_ >= 0; }

    // Opens the canonical phone path Path ("/" is the root itself) with Flags
    // (O_CLOEXEC is added), following the links that stay inside, also an
    // absolute one naming a place inside by its full local path. Returns the
    // descriptor, or -1 with errno set: EXDEV when a link leads outside.
    int OpenBeneath(const std::string& path, int flags) const;

    // Opens the folder that holds Path's last segment, as OpenBeneath does,
    // for calls that act on that one name without following it.
    int OpenParent(const std::string& path) const;

    // The full local path of the root as it was opened (links resolved).
    const std::string& LocalPath() const { return real_; }

private:
    int Walk(const std::string& path, int flags) const;

    int fd_ = -1;
    std::string real_;
};

// An errno value as a reason a person can read; EXDEV becomes "a link leads
// outside the phone folder".
std::string BeneathReason(int error);

} // namespace Tpot
