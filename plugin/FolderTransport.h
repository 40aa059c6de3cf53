#pragma once

// The folder transport: a local folder stands for the phone's root (a phone
// mounted with sshfs, or a test folder). No path leaves that folder, also not
// through a symbolic link.

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
    TStatus Write(const std::string& path, const TSource& source, std::string& why) override;
    TStatus Remove(const std::string& path, std::string& why) override;

private:
    // The real local path of the phone path Path with every link resolved,
    // when it exists and lies inside the root.
    TStatus Resolve(const std::string& path, std::string& local, std::string& why);
    // The real local folder of Path's folder, and Path's last segment.
    TStatus ResolveParent(const std::string& path, std::string& folder, std::string& name,
                          std::string& why);
    bool Inside(const std::string& real) const;

    std::string Configured; // as the settings give it
    std::string Root;       // its real path, set by Connect
};

} // namespace tpot
