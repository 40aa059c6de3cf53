// The SFTP transport's link: its settings, the connection, the host key
// check and the login. The file operations are in SftpTransport.cpp.

#include "plugin/SftpChannel.h"
#include "plugin/SftpTransport.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace Tpot {

namespace {

// Seconds a connection attempt may take (each of: reaching the server, the
// key exchange, the login).
constexpr long ConnectSeconds = 10;
// Seconds a transfer may wait for the server before the link counts as dead.
constexpr long StallSeconds = 30;

std::string Value(const TSettings& settings, const char* key) {
    const auto found = settings.Values.find(key);
    return found == settings.Values.end() ? std::string() : found->second;
}

bool HasControl(const std::string& text) {
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return home;
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
        return user->pw_dir;
    return "";
}

// A full path from a setting, with "~/" standing for the home folder; "" when
// the text is no full path.
std::string FullPath(const std::string& text) {
    if (text.rfind("~/", 0) == 0) {
        const std::string home = HomeFolder();
        return home.empty() ? std::string() : home + text.substr(1);
    }
    return !text.empty() && text.front() == '/' ? text : std::string();
}

// The SFTP byte stream on an SSH session channel.
class TChannelLink : public TSftpLink {
public:
    explicit TChannelLink(ssh_channel channel) : channel_(channel) {}

    bool StartSubsystem(std::string& why) override {
        if (ssh_channel_request_subsystem(channel_, "sftp") == SSH_OK)
            return true;
        why = Error();
        return false;
    }
    bool Send(const char* data, std::size_t size, std::string& why) override {
        // Blocking write: waits for the server's window at most for the
        // session's timeout, then returns what it could send.
        const int sent = ssh_channel_write(channel_, data, static_cast<uint32_t>(size));
        if (sent == static_cast<int>(size))
            return true;
        why = sent >= 0 ? "the server took only part of a request in time" : Error();
        return false;
    }
    int Receive(char* buffer, std::size_t size, int ms, std::string& why) override {
        const int got =
            ssh_channel_read_timeout(channel_, buffer, static_cast<uint32_t>(size), 0, ms);
        if (got < 0)
            why = Error();
        return got;
    }
    bool IsOpen() override {
        return ssh_channel_is_open(channel_) && !ssh_channel_is_eof(channel_);
    }
    bool IsQuiet() override {
        if (!IsOpen())
            return false;
        // Takes in what already arrived without waiting: a closed connection
        // or a closed channel shows here, and the server has nothing to say unasked.
        return ssh_channel_poll_timeout(channel_, 0, 0) == 0 && IsOpen();
    }

private:
    // libssh's words for the last failure; a failure it did not put in
    // words still gets some.
    std::string Error() const {
        const char* text = ssh_get_error(ssh_channel_get_session(channel_));
        return text && *text ? text : "the SSH connection failed without a reason";
    }

    ssh_channel channel_;
};

std::string Fingerprint(ssh_key key) {
    unsigned char* hash = nullptr;
    std::size_t size = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &size) != SSH_OK)
        return "(no fingerprint)";
    char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, size);
    std::string fingerprint = text ? text : "(no fingerprint)";
    ssh_string_free_char(text);
    ssh_clean_pubkey_hash(&hash);
    const char* type = ssh_key_type_to_char(ssh_key_type(key));
    return std::string(type ? type : "key") + " " + fingerprint;
}

} // namespace

TSftpSettings TSftpSettings::From(const TSettings& settings) {
    TSftpSettings sftp;
    std::vector<std::string> problems;
    sftp.Host = Value(settings, "host");
    if (sftp.Host.empty())
        problems.push_back("no Host is set");
    else if (HasControl(sftp.Host) || sftp.Host.find_first_of(" @/") != std::string::npos)
        problems.push_back("Host \"" + sftp.Host + "\" is not a host name or address");
    if (const std::string port = Value(settings, "port"); !port.empty()) {
        const bool digits =
            port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
        sftp.Port = digits ? std::atoi(port.c_str()) : 0;
        if (sftp.Port < 1 || sftp.Port > 65535)
            problems.push_back("Port \"" + port + "\" is not a port number");
    }
    if (const std::string user = Value(settings, "user"); !user.empty())
        sftp.User = user;
    if (HasControl(sftp.User))
        problems.push_back("User holds control characters");
    for (const auto& [key, target] :
         {std::pair{"keyfile", &sftp.KeyFile}, std::pair{"knownhosts", &sftp.KnownHosts}}) {
        const std::string given = Value(settings, key);
        if (given.empty())
            continue;
        *target = FullPath(given);
        if (target->empty() || HasControl(given))
            problems.push_back(
                std::string(key == std::string("keyfile") ? "KeyFile" : "KnownHosts") + " \"" +
                given + "\" is not a full path");
    }
    for (const std::string& problem : problems)
        sftp.Problem += (sftp.Problem.empty() ? "" : "; ") + problem;
    return sftp;
}

TSftpTransport::TSftpTransport(TSftpSettings settings) : settings_(std::move(settings)) {}

TSftpTransport::~TSftpTransport() {
    Drop();
}

std::string TSftpTransport::Where() const {
    return settings_.User + "@" + settings_.Host + " port " + std::to_string(settings_.Port);
}

void TSftpTransport::Drop() {
    sftp_.reset();
    link_.reset();
    if (channel_)
        ssh_channel_free(channel_);
    channel_ = nullptr;
    if (session_) {
        ssh_disconnect(session_);
        ssh_free(session_);
    }
    session_ = nullptr;
}

bool TSftpTransport::Connect(std::string& why) {
    if (!settings_.Problem.empty()) {
        why = "T-Pot.ini, sftp transport: " + settings_.Problem;
        return false;
    }
    // Called before every operation: an open link is only looked at, without
    // a round trip to the server.
    if (sftp_ && ssh_is_connected(session_) && sftp_->LooksAlive())
        return true;
    Drop();
    if (Open(why))
        return true;
    Drop();
    return false;
}

bool TSftpTransport::Open(std::string& why) {
    session_ = ssh_new();
    if (!session_) {
        why = "out of memory";
        return false;
    }
    const int verbosity = SSH_LOG_NOLOG;
    const long connectTimeout = ConnectSeconds;
    const int noDelay = 1;
    // T-Pot.ini is the whole configuration: ~/.ssh/config is not read, so
    // that an alias there cannot send the phone's files somewhere else.
    const bool processConfig = false;
    const char* knownHosts = settings_.KnownHosts.empty() ? nullptr : settings_.KnownHosts.c_str();
    if (ssh_options_set(session_, SSH_OPTIONS_LOG_VERBOSITY, &verbosity) != SSH_OK ||
        ssh_options_set(session_, SSH_OPTIONS_PROCESS_CONFIG, &processConfig) != SSH_OK ||
        ssh_options_set(session_, SSH_OPTIONS_HOST, settings_.Host.c_str()) != SSH_OK ||
        ssh_options_set(session_, SSH_OPTIONS_PORT, &settings_.Port) != SSH_OK ||
        ssh_options_set(session_, SSH_OPTIONS_USER, settings_.User.c_str()) != SSH_OK ||
        ssh_options_set(session_, SSH_OPTIONS_TIMEOUT, &connectTimeout) != SSH_OK ||
        ssh_options_set(session_, SSH_OPTIONS_NODELAY, &noDelay) != SSH_OK ||
        ssh_options_set(session_, SSH_OPTIONS_KNOWNHOSTS, knownHosts) != SSH_OK) {
        why = std::string("cannot set up the SSH session: ") + ssh_get_error(session_);
        return false;
    }
    if (ssh_connect(session_) != SSH_OK) {
        why = "cannot connect to " + settings_.Host + " port " + std::to_string(settings_.Port) +
              ": " + ssh_get_error(session_);
        return false;
    }
    if (!CheckHostKey(why) || !Authenticate(why))
        return false;
    channel_ = ssh_channel_new(session_);
    if (!channel_ || ssh_channel_open_session(channel_) != SSH_OK) {
        why = "cannot open a channel on " + Where() + ": " + ssh_get_error(session_);
        return false;
    }
    link_ = std::make_unique<TChannelLink>(channel_);
    sftp_ = std::make_unique<TSftpChannel>(*link_, static_cast<int>(StallSeconds * 1000));
    if (const TSftpResult started = sftp_->Start(ConnectSeconds * 1000); !started.IsOk()) {
        why = Where() + ": " + started.Message;
        return false;
    }
    // From here on the limit is the one for a stalled transfer; it also bounds
    // a write waiting for the server's flow control.
    const long stallTimeout = StallSeconds;
    ssh_options_set(session_, SSH_OPTIONS_TIMEOUT, &stallTimeout);
    for (const std::string& path : leftBehind_)
        sftp_->Remove(path);
    leftBehind_.clear();
    return true;
}

bool TSftpTransport::CheckHostKey(std::string& why) {
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(session_, &key) != SSH_OK) {
        why = std::string("the server sent no host key: ") + ssh_get_error(session_);
        return false;
    }
    const std::string fingerprint = Fingerprint(key);
    ssh_key_free(key);
    const std::string file =
        settings_.KnownHosts.empty() ? "~/.ssh/known_hosts" : settings_.KnownHosts;
    const std::string server = settings_.Host + " port " + std::to_string(settings_.Port);
    switch (ssh_session_is_known_server(session_)) {
    case SSH_KNOWN_HOSTS_OK:
        return true;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER:
        why = "the host key of " + server + " is not the one " + file +
              " holds for it, so the connection is refused (someone may be in between; if the "
              "phone's SSH server was really reinstalled, remove its old line from that file). "
              "Key offered: " +
              fingerprint;
        return false;
    case SSH_KNOWN_HOSTS_NOT_FOUND:
    case SSH_KNOWN_HOSTS_UNKNOWN:
        why = "the host key of " + server + " is unknown (not in " + file +
              "), so the connection is refused. Check the key offered, " + fingerprint +
              ", and accept it once with: ssh -p " + std::to_string(settings_.Port) + " " +
              settings_.User + "@" + settings_.Host;
        return false;
    default:
        why = "cannot check the host key of " + server + " against " + file + ": " +
              ssh_get_error(session_) + ". Key offered: " + fingerprint;
        return false;
    }
}

bool TSftpTransport::Authenticate(std::string& why) {
    std::string keyProblem;
    int result = SSH_AUTH_DENIED;
    if (!settings_.KeyFile.empty()) {
        ssh_key key = nullptr;
        // No passphrase and no callback: a protected key is refused here, never asked for.
        if (ssh_pki_import_privkey_file(settings_.KeyFile.c_str(), nullptr, nullptr, nullptr,
                                        &key) != SSH_OK) {
            keyProblem = "; " + settings_.KeyFile +
                         " cannot be read or is protected by a passphrase (load such a key "
                         "into the SSH agent instead)";
        } else {
            result = ssh_userauth_publickey(session_, nullptr, key);
            ssh_key_free(key);
        }
    }
    // The agent, then the default key files; protected ones are skipped
    // since there is no one to ask for their passphrase.
    if (result != SSH_AUTH_SUCCESS && result != SSH_AUTH_ERROR)
        result = ssh_userauth_publickey_auto(session_, nullptr, nullptr);
    if (result == SSH_AUTH_SUCCESS)
        return true;
    if (result == SSH_AUTH_ERROR)
        why = "login to " + Where() + " failed: " + ssh_get_error(session_);
    else
        why = Where() + " accepts none of our keys (the SSH agent's, " +
              (settings_.KeyFile.empty() ? std::string("~/.ssh/id_*") : settings_.KeyFile) + ")" +
              keyProblem;
    return false;
}

} // namespace Tpot
