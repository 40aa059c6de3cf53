#include "plugin/SftpTransport.h"

#include "plugin/PhonePath.h"
#include "plugin/SftpChannel.h"

#include <cstdlib>
#include <pwd.h>
#include <random>
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

// A name for a file of ours in a phone folder that nobody takes for one of
// its own files: hidden, and ending in neither ".deb" nor an index name.
std::string TemporaryName(const std::string& folder, const char* ending) {
    static std::mt19937_64 random{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string name = ".tpot-";
    uint64_t bits = random();
    for (int i = 0; i < 16; ++i, bits >>= 4)
        name += digits[bits & 15];
    return JoinPhonePath(folder, "/" + name + ending);
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
        why = Error();
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
    std::string Error() const { return ssh_get_error(ssh_channel_get_session(channel_)); }

    ssh_channel channel_;
};

TEntry EntryOf(const std::string& name, const TSftpAttributes& attributes) {
    TEntry entry;
    entry.Name = name;
    entry.IsFolder = attributes.IsFolder();
    entry.Size = entry.IsFolder ? 0 : attributes.Size;
    entry.MTime = attributes.MTime;
    entry.IsLink = attributes.IsLink();
    entry.Mode = attributes.HasPermissions ? attributes.Permissions & 07777 : 0;
    return entry;
}

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

template <typename TOp, typename TCanRetry>
TSftpResult TSftpTransport::Run(const TOp& op, const TCanRetry& canRetry) {
    for (int attempt = 0;; ++attempt) {
        std::string why;
        if (!Connect(why))
            return {TSftpResult::Broken, SftpFailure, why};
        TSftpResult result = op();
        if (result.Kind != TSftpResult::Broken && !sftp_->IsBroken())
            return result;
        Drop();
        if (attempt > 0 || !canRetry())
            return result;
    }
}

TStatus TSftpTransport::Outcome(const TSftpResult& result, TStatus refused, std::string& why) {
    switch (result.Kind) {
    case TSftpResult::Ok:
        return TStatus::Ok;
    case TSftpResult::Refused:
        why = result.Message;
        return result.Code == SftpNoSuchFile ? TStatus::NotFound : refused;
    case TSftpResult::Broken:
        break;
    }
    why = "the link to " + Where() + " failed: " + result.Message;
    return refused;
}

TStatus TSftpTransport::List(const std::string& path, std::vector<TEntry>& entries,
                             std::string& why) {
    const TSftpResult result = Run(
        [&] {
            TSftpResult listed = sftp_->List(path, entries);
            // A link is described by what it leads to, when that is there.
            const std::string folder = path == "/" ? std::string() : path;
            for (TEntry& entry : entries) {
                TSftpAttributes target;
                if (!listed.IsOk() || !entry.IsLink || !IsPlainFileName(entry.Name))
                    continue;
                const TSftpResult followed = sftp_->Stat(folder + "/" + entry.Name, target, true);
                if (followed.Kind == TSftpResult::Broken)
                    return followed;
                if (followed.IsOk()) {
                    entry = EntryOf(entry.Name, target);
                    entry.IsLink = true;
                }
            }
            return listed;
        },
        [] { return true; });
    if (!result.IsOk())
        entries.clear();
    return Outcome(result, TStatus::ReadError, why);
}

TStatus TSftpTransport::Stat(const std::string& path, TEntry& entry, std::string& why) {
    TSftpAttributes attributes;
    TSftpAttributes target;
    bool followed = false;
    const TSftpResult result = Run(
        [&] {
            TSftpResult described = sftp_->Stat(path, attributes);
            if (described.IsOk() && attributes.IsLink()) {
                const TSftpResult led = sftp_->Stat(path, target, true);
                if (led.Kind == TSftpResult::Broken)
                    return led;
                followed = led.IsOk();
            }
            return described;
        },
        [] { return true; });
    entry = EntryOf(LastSegment(path), followed ? target : attributes);
    entry.IsLink = attributes.IsLink();
    return Outcome(result, TStatus::ReadError, why);
}

TStatus TSftpTransport::Read(const std::string& path, uint64_t limit, const TSink& sink,
                             std::string& why) {
    bool delivered = false;
    bool stopped = false;
    const TSink counting = [&](const char* data, std::size_t size) {
        delivered = true;
        return sink(data, size);
    };
    const TSftpResult result = Run(
        [&] {
            std::string handle;
            TSftpResult opened = sftp_->Open(path, SftpRead, 0, handle);
            if (!opened.IsOk())
                return opened;
            TSftpResult read = sftp_->Read(handle, limit, counting, stopped);
            if (read.Kind == TSftpResult::Broken)
                return read;
            TSftpResult closed = sftp_->Close(handle);
            return read.IsOk() ? closed : read;
        },
        [&] { return !delivered; });
    if (stopped && result.Kind != TSftpResult::Broken) {
        why = "stopped";
        return TStatus::Aborted;
    }
    return Outcome(result, TStatus::ReadError, why);
}

TSftpResult TSftpTransport::Replace(const std::string& temporary, const std::string& target) {
    if (sftp_->HasAtomicRename()) {
        // A server may offer the extension and still refuse it (OpenSSH's
        // server can be told to): then the way below is tried.
        TSftpResult renamed = sftp_->RenameReplacing(temporary, target);
        if (renamed.Kind != TSftpResult::Refused)
            return renamed;
    }
    // Without OpenSSH's posix-rename extension a plain SFTP rename refuses to
    // replace an existing file. Then the old file is first moved aside under
    // a second temporary name, the new one put in its place, and only then
    // the old one removed; if the new one cannot take its place, the old one
    // goes back. A reader may find no file for that moment, never a partial one.
    TSftpResult renamed = sftp_->Rename(temporary, target);
    if (renamed.Kind != TSftpResult::Refused)
        return renamed;
    const std::string aside = TemporaryName(ParentPath(target), ".old");
    if (!sftp_->Rename(target, aside).IsOk())
        return renamed;
    renamed = sftp_->Rename(temporary, target);
    if (!renamed.IsOk()) {
        if (renamed.Kind != TSftpResult::Broken)
            sftp_->Rename(aside, target);
        return renamed;
    }
    sftp_->Remove(aside);
    return renamed;
}

TStatus TSftpTransport::Write(const std::string& path, const TEntry& like, const TSource& source,
                              std::string& why) {
    const std::string folder = ParentPath(path);
    if (LastSegment(path).empty()) {
        why = "the root is not a file";
        return TStatus::WriteError;
    }
    bool started = false;
    bool stopped = false;
    const TSource counting = [&](char* buffer, std::size_t capacity) {
        started = true;
        return source(buffer, capacity);
    };
    std::string temporary;
    const TSftpResult result = Run(
        [&]() -> TSftpResult {
            // The source's permissions, else the old file's.
            uint32_t mode = like.Mode != 0 ? like.Mode & 0777 : 0644;
            TSftpAttributes old;
            if (TSftpResult there = sftp_->Stat(path, old); there.Kind == TSftpResult::Broken)
                return there;
            else if (like.Mode == 0 && there.IsOk() && old.HasPermissions && old.IsRegular())
                mode = old.Permissions & 07777;
            temporary = TemporaryName(folder, ".part");
            std::string handle;
            TSftpResult opened = sftp_->Open(
                temporary, SftpWrite | SftpCreate | SftpTruncate | SftpExclusive, mode, handle);
            if (!opened.IsOk())
                return opened;
            TSftpResult written = sftp_->Write(handle, counting, stopped);
            if (written.IsOk() && !stopped) {
                // Exactly these permissions (the server's umask narrowed them),
                // and the source's time.
                TSftpAttributes kept;
                kept.HasPermissions = true;
                kept.Permissions = mode;
                kept.HasMTime = like.MTime > 0 && like.MTime <= UINT32_MAX;
                kept.MTime = kept.ATime = static_cast<uint32_t>(like.MTime);
                // A server that cannot set them still gets the file.
                if (TSftpResult set = sftp_->SetAttributes(handle, true, kept);
                    set.Kind == TSftpResult::Broken)
                    written = set;
            }
            if (written.IsOk() && !stopped)
                written = sftp_->Sync(handle);
            if (written.Kind != TSftpResult::Broken) {
                TSftpResult closed = sftp_->Close(handle);
                if (written.IsOk())
                    written = closed;
            }
            if (written.IsOk() && !stopped)
                written = Replace(temporary, path);
            if (written.Kind == TSftpResult::Broken) {
                leftBehind_.push_back(temporary);
            } else if (!written.IsOk() || stopped) {
                // The target is as it was; the partial copy goes.
                sftp_->Remove(temporary);
            }
            return written;
        },
        [&] { return !started; });
    if (stopped && result.Kind != TSftpResult::Broken) {
        why = "stopped";
        return TStatus::Aborted;
    }
    if (result.Kind == TSftpResult::Refused && result.Code == SftpNoSuchFile) {
        why = "the folder " + folder + " does not exist: " + result.Message;
        return TStatus::NotFound;
    }
    return Outcome(result, TStatus::WriteError, why);
}

TStatus TSftpTransport::Remove(const std::string& path, std::string& why) {
    // Not run again after a broken link: the first request may have been carried out.
    const TSftpResult result = Run([&] { return sftp_->Remove(path); }, [] { return false; });
    return Outcome(result, TStatus::WriteError, why);
}

} // namespace Tpot

namespace Tpot {

TStatus TSftpTransport::MakeFolder(const std::string& path, std::string& why) {
    bool exists = false;
    const TSftpResult result = Run(
        [&] {
            TSftpAttributes there;
            TSftpResult described = sftp_->Stat(path, there);
            if (described.Kind == TSftpResult::Broken)
                return described;
            exists = described.IsOk();
            return exists ? described : sftp_->MakeFolder(path);
        },
        [] { return false; });
    if (result.IsOk() && exists)
        return TStatus::Exists;
    return Outcome(result, TStatus::WriteError, why);
}

TStatus TSftpTransport::RemoveFolder(const std::string& path, std::string& why) {
    const TSftpResult result = Run(
        [&] {
            TSftpAttributes there;
            TSftpResult described = sftp_->Stat(path, there);
            if (!described.IsOk())
                return described;
            if (there.IsLink())
                return sftp_->Remove(path); // the link itself, never what it leads to
            if (!there.IsFolder())
                return TSftpResult::Refusal(SftpFailure, "not a folder");
            TSftpResult removed = sftp_->RemoveFolder(path);
            if (removed.Kind == TSftpResult::Refused && removed.Code == SftpFailure)
                removed.Message =
                    "the folder is not empty, or the phone refused: " + removed.Message;
            return removed;
        },
        [] { return false; });
    return Outcome(result, TStatus::WriteError, why);
}

TStatus TSftpTransport::Rename(const std::string& from, const std::string& to, bool replace,
                               std::string& why) {
    bool exists = false;
    const TSftpResult result = Run(
        [&] {
            TSftpAttributes there;
            TSftpResult described = sftp_->Stat(to, there);
            if (described.Kind == TSftpResult::Broken)
                return described;
            exists = described.IsOk() && (!replace || there.IsFolder());
            if (exists)
                return TSftpResult();
            return described.IsOk() ? Replace(from, to) : sftp_->Rename(from, to);
        },
        [] { return false; });
    if (result.IsOk() && exists) {
        why = "something of that name is there";
        return TStatus::Exists;
    }
    return Outcome(result, TStatus::WriteError, why);
}

TStatus TSftpTransport::SetTime(const std::string& path, int64_t mtime, std::string& why) {
    if (mtime < 0 || mtime > UINT32_MAX) {
        why = "SFTP keeps times from 1970 to 2106 only";
        return TStatus::NotSupported;
    }
    const TSftpResult result = Run(
        [&] {
            TSftpAttributes times;
            TSftpResult described = sftp_->Stat(path, times, true);
            if (!described.IsOk())
                return described;
            times.HasPermissions = false; // only the times change
            times.HasMTime = true;
            times.MTime = static_cast<uint32_t>(mtime);
            return sftp_->SetAttributes(path, false, times);
        },
        [] { return true; });
    return Outcome(result, TStatus::WriteError, why);
}

TStatus TSftpTransport::LinkTarget(const std::string& path, std::string& target, std::string& why) {
    const TSftpResult result =
        Run([&] { return sftp_->RealPath(path, target); }, [] { return true; });
    if (result.IsOk() && !NormalisePhonePath(target)) {
        why = "the server gave no full path for the link's target";
        return TStatus::ReadError;
    }
    if (result.IsOk())
        target = *NormalisePhonePath(target);
    return Outcome(result, TStatus::ReadError, why);
}

} // namespace Tpot
