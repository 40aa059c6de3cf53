#pragma once

// A throw-away OpenSSH server on 127.0.0.1 for the SFTP transport's tests and
// benchmark: its own host key, user key, configuration and log in a temporary
// folder, running as the current user, stopped with every process it started.

#include <string>
#include <sys/types.h>

class TSshd {
public:
    // Folder: where the keys, the configuration and the log go (it must exist).
    explicit TSshd(std::string folder);
    TSshd(const TSshd&) = delete;
    TSshd& operator=(const TSshd&) = delete;
    ~TSshd();

    // Makes the keys (first time only) and starts the server on a free port,
    // or on the port it had before. False, with the reason, when sshd cannot
    // run on this machine.
    bool Start(std::string& why);
    // Kills the server and every session process it forked, at once.
    void Stop();
    // A new host key for the next Start.
    bool NewHostKey(std::string& why);

    // The SFTP server for the next Start: "internal-sftp" and its options, or
    // the command line of another server.
    void SetSftpSubsystem(std::string command) { sftpSubsystem_ = std::move(command); }

    int Port() const { return portNumber_; }
    const std::string& UserKey() const { return userKeyPath_; }
    // A known-hosts line for this server's current host key.
    std::string KnownHostsLine() const;
    // "SHA256:..." of the current host key, as ssh-keygen prints it.
    std::string Fingerprint() const;
    // The server's log so far.
    std::string Log() const;

private:
    bool MakeKeys(std::string& why);

    std::string folder_;
    std::string hostKeyPath_;
    std::string userKeyPath_;
    std::string sftpSubsystem_ = "internal-sftp";
    int portNumber_ = 0;
    pid_t pid_ = -1;
};

// The output of a shell command (stdout), and whether it exited with 0.
bool RunCommand(const std::string& command, std::string& output);
