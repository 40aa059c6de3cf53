#pragma once

// The folder transport: a local folder stands for the phone's root (a phone
// mounted with sshfs, or a test folder). No path leaves that folder, also not
// through a symbolic link, and also not when an entry is swapped for a link
// while it is used: everything is resolved from a descriptor of the root.

#include "plugin/RootFolder.h"
#include "plugin/Transport.h"

namespace Tpot {

class TFolderTransport : public TTransport {
public:
    explicit TFolderTransport(std::string root);

    TPOT_TRANSPORT_CALLS
    void Disconnect() override {}

private:
    // The root, opened by Connect when it is not open yet.
    bool Ready(std::string& why);
    // The folder holding Path's last segment, opened beneath the root; -1
    // with the reason and the status to answer.
    int OpenParent(const std::string& path, TStatus& status, std::string& why);
    // Name in the folder DirFd described as an entry; a link by what it
    // points at when that lies inside (Path: the link's phone path).
    bool Describe(int dirFd, const std::string& name, const std::string& path, TEntry& entry);

    std::string configured_; // as the settings give it
    TRootFolder root_;
};

} // namespace Tpot
