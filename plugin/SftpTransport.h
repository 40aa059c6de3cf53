#pragma once

// The SFTP transport: the phone's OpenSSH server, over Wi-Fi or over USB
// through usbmuxd's port forwarding. The plugin may not ask anything, so the
// login is by the user's SSH agent or key files only, and a host key that is
// not already in the user's known-hosts file is refused.

#include "plugin/Settings.h"
#include "plugin/Transport.h"

#include <libssh/libssh.h>

#include <memory>
#include <string>
#include <vector>

namespace Tpot {

class TSftpLink;
class TSftpChannel;
struct TSftpResult;

struct TSftpSettings {
    std::string Host;
    int Port = 22;
    std::string User = "root";
    std::string KeyFile;    // a private key without passphrase; "" = the agent and ~/.ssh/id_*
    std::string KnownHosts; // "" = ~/.ssh/known_hosts
    // Why the keys above cannot be used, when they cannot: Connect says so.
    std::string Problem;

    // The keys "Host", "Port", "User", "KeyFile" and "KnownHosts"; a leading
    // "~/" in the two paths stands for the user's home folder.
    static TSftpSettings From(const TSettings& settings);
};

class TSftpTransport : public TTransport {
public:
    explicit TSftpTransport(TSftpSettings settings);
    TSftpTransport(const TSftpTransport&) = delete;
    TSftpTransport& operator=(const TSftpTransport&) = delete;
    ~TSftpTransport() override;

    TPOT_TRANSPORT_CALLS
    void Disconnect() override { Drop(); }

private:
    bool Open(std::string& why);
    void Drop();
    bool CheckHostKey(std::string& why);
    bool Authenticate(std::string& why);
    std::string Where() const;
    // Runs Op on a ready link. When the link turns out broken and CanRetry
    // still says nothing has changed hands, connects again and runs it once more.
    template <typename TOp, typename TCanRetry>
    TSftpResult Run(const TOp& op, const TCanRetry& canRetry);
    // Moves the finished temporary file over Target.
    TSftpResult Replace(const std::string& temporary, const std::string& target);
    TStatus Outcome(const TSftpResult& result, TStatus refused, std::string& why);

    TSftpSettings settings_;
    ssh_session session_ = nullptr;
    ssh_channel channel_ = nullptr;
    std::unique_ptr<TSftpLink> link_;
    std::unique_ptr<TSftpChannel> sftp_;
    // Temporary files that a broken link kept us from removing; removed on
    // the next connection.
    std::vector<std::string> leftBehind_;
};

} // namespace Tpot
