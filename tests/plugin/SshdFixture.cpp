#include "SshdFixture.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char* const Sshd = "/usr/sbin/sshd";

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// A new ed25519 key without a passphrase at Path, replacing any there.
bool MakeKey(const std::string& path, const std::string& comment, std::string& why) {
    ::unlink(path.c_str());
    ::unlink((path + ".pub").c_str());
    std::string output;
    if (RunCommand("ssh-keygen -q -t ed25519 -N '' -C " + comment + " -f " + Quoted(path) + " 2>&1",
                   output))
        return true;
    why = "ssh-keygen failed: " + output;
    return false;
}

// Every process below Root, read from /proc: sshd's session processes leave
// its process group, so a group kill would miss them.
std::vector<pid_t> Descendants(pid_t root) {
    std::multimap<pid_t, pid_t> children;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* item = ::readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(item->d_name));
            if (pid <= 0)
                continue;
            const std::string stat = Slurp("/proc/" + std::string(item->d_name) + "/stat");
            const std::size_t close = stat.rfind(')');
            if (close == std::string::npos)
                continue;
            std::istringstream fields(stat.substr(close + 1));
            std::string state;
            pid_t parent = 0;
            fields >> state >> parent;
            children.emplace(parent, pid);
        }
        ::closedir(proc);
    }
    std::vector<pid_t> found;
    std::vector<pid_t> queue{root};
    while (!queue.empty()) {
        const pid_t pid = queue.back();
        queue.pop_back();
        const auto [first, last] = children.equal_range(pid);
        for (auto it = first; it != last; ++it) {
            found.push_back(it->second);
            queue.push_back(it->second);
        }
    }
    return found;
}

} // namespace

bool RunCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return false;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    return ::pclose(pipe) == 0;
}

TSshd::TSshd(std::string folder)
    : folder_(std::move(folder)), hostKeyPath_(folder_ + "/host_key"),
      userKeyPath_(folder_ + "/user_key") {}

TSshd::~TSshd() {
    Stop();
}

bool TSshd::MakeKeys(std::string& why) {
    return (::access(userKeyPath_.c_str(), R_OK) == 0 ||
            MakeKey(userKeyPath_, "tpot-test-user", why)) &&
           (::access(hostKeyPath_.c_str(), R_OK) == 0 || NewHostKey(why));
}

bool TSshd::NewHostKey(std::string& why) {
    return MakeKey(hostKeyPath_, "tpot-test-host", why);
}

bool TSshd::Start(std::string& why) {
    if (::access(Sshd, X_OK) != 0) {
        why = std::string(Sshd) + " is not installed";
        return false;
    }
    if (!MakeKeys(why))
        return false;
    // sshd started by root insists on its privilege separation folder, which
    // only exists once the system's own sshd has run.
    if (::geteuid() == 0)
        ::mkdir("/run/sshd", 0755);
    if (portNumber_ == 0)
        portNumber_ = FreePort();
    const std::string config = folder_ + "/sshd_config";
    {
        std::ofstream out(config);
        out << "ListenAddress 127.0.0.1\n"
            << "Port " << portNumber_ << "\n"
            << "HostKey " << hostKeyPath_ << "\n"
            << "AuthorizedKeysFile " << userKeyPath_ << ".pub\n"
            << "PidFile none\n"
            << "StrictModes no\n"
            << "UsePAM no\n"
            << "PermitRootLogin prohibit-password\n"
            << "PasswordAuthentication no\n"
            << "KbdInteractiveAuthentication no\n"
            << "AllowAgentForwarding no\n"
            << "AllowTcpForwarding no\n"
            << "X11Forwarding no\n"
            << "LogLevel VERBOSE\n"
            << "Subsystem sftp " << sftpSubsystem_ << "\n";
    }
    const std::string log = folder_ + "/sshd.log";
    const std::size_t logStart = Log().size();
    // sshd's session processes outlive it for a moment when it is killed;
    // they then come to this process, which reaps them, instead of staying
    // behind as zombies of a system init that may not reap.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_ = ::fork();
    if (pid_ < 0) {
        why = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        ::setpgid(0, 0);
        // The server goes with this process, also when it is killed or crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
        ::execl(Sshd, Sshd, "-D", "-e", "-f", config.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait until it says it listens, or gives up. A connection that goes
    // through proves nothing: whoever still holds the port would take it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why = "sshd exited: " + Log();
            return false;
        }
        if (Log().find("Server listening on", logStart) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    why = "sshd does not listen: " + Log();
    return false;
}

void TSshd::Stop() {
    if (pid_ <= 0)
        return;
    // The server forks a process for each connection it accepts, and that one
    // holds the listening socket until it closes its copy. Killed in one sweep,
    // a child forked after the list was read would survive, keep the port,
    // make the next server's bind fail and still complete a readiness probe.
    // So the whole tree is first stopped, top down, until a fresh listing
    // finds nothing new (a stopped process forks no more), and only then killed.
    int status = 0;
    ::kill(pid_, SIGSTOP);
    if (::waitpid(pid_, &status, WUNTRACED) == pid_ && !WIFSTOPPED(status)) {
        pid_ = -1; // it had died on its own
        return;
    }
    // Every process ever found is kept: one stopped and then orphaned by a
    // parent that was already on its way out leaves the tree, yet must go too.
    std::set<pid_t> tree;
    for (bool grew = true; grew;) {
        grew = false;
        for (const pid_t pid : Descendants(pid_)) {
            if (tree.insert(pid).second) {
                ::kill(pid, SIGSTOP);
                grew = true;
            }
        }
    }
    for (const pid_t pid : tree)
        ::kill(pid, SIGKILL);
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    // Each one is reaped by its parent or, once orphaned, by us.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (const pid_t child : tree) {
        while (::access(("/proc/" + std::to_string(child)).c_str(), F_OK) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(child, nullptr, WNOHANG) != child)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
}

std::string TSshd::KnownHostsLine() const {
    std::istringstream key(Slurp(hostKeyPath_ + ".pub"));
    std::string type;
    std::string blob;
    key >> type >> blob;
    return "[127.0.0.1]:" + std::to_string(portNumber_) + " " + type + " " + blob + "\n";
}

std::string TSshd::Fingerprint() const {
    std::string output;
    RunCommand("ssh-keygen -l -E sha256 -f " + Quoted(hostKeyPath_ + ".pub"), output);
    std::istringstream fields(output);
    std::string bits;
    std::string fingerprint;
    fields >> bits >> fingerprint;
    return fingerprint;
}

std::string TSshd::Log() const {
    return Slurp(folder_ + "/sshd.log");
}
