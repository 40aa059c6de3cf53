#pragma once

// The folder transport: a local folder stands for the phone's root (a phone
// mounted with sshfs, or a test folder). No path leaves that folder, also not
// through a symbolic link, and also not when an entry is swapped for a link
// while it is used: everything is resolved from a descriptor of the root.

#include "plugin/RootFolder.h"
#include "plugin/Transport.h"

namespace tpot {

class TFolderTransport : public ITransport {
public:
    explicit TFolderTransport(std::string root);

    bool Connect(std::string& why) override;
    TStatus List(const std::string& path, std::vector<TEntry>& entries, std::string& why) override;
    TStatus Stat(const std::string& path, TEntry& entry, std::string& why) override;
    TStatus Read(const std::string& path, uint64_t limit, const TSink& sink,
                 std::string& why) override;
    TStatus Write(const std::string& path, const TEntry& like, const TSource& source,
                  std::string& why) override;
    TStatus Remove(const std::string& path, std::string& why) override;
    TStatus MakeFolder(const std::string& path, std::string& why) override;
    TStatus RemoveFolder(const std::string& path, std::string& why) override;
    TStatus Rename(const std::string& from, const std::string& to, bool replace,
                   std::string& why) override;
    TStatus SetTime(const std::string& path, int64_t mtime, std::string& why) override;
    TStatus LinkTarget(const std::string& path, std::string& target, std::string& why) override;
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

    std::string Configured; // as the settings give it
    TRootFolder Root;
};

} // namespace tpot
