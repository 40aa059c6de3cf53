// Put and get of one 50 MB file over loopback through the plugin's SFTP
// transport, beside OpenSSH's sftp tool doing the same against the same
// throw-away server. Each side runs several times in turn and its best run
// counts, since the machine is shared. Prints the times and, last, the ratio.

#include "SshdFixture.h"
#include "plugin/Plugin.h"
#include "plugin/SftpTransport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t FileSize = 50 * 1000 * 1000;
constexpr int Rounds = 3;

using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point since) {
    return std::chrono::duration<double>(TClock::now() - since).count();
}

bool SameFiles(const std::string& a, const std::string& b) {
    std::ifstream first(a, std::ios::binary);
    std::ifstream second(b, std::ios::binary);
    std::ostringstream x;
    std::ostringstream y;
    x << first.rdbuf();
    y << second.rdbuf();
    return x.str().size() == FileSize && x.str() == y.str();
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

} // namespace

int main() {
    ::unsetenv("SSH_AUTH_SOCK");
    std::string folder = (fs::temp_directory_path() / "bench-sftp-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    int exitCode = 0;
    {
        TSshd server(folder);
        std::string why;
        if (!server.Start(why)) {
            std::fprintf(stderr, "sshd cannot start: %s\n", why.c_str());
            fs::remove_all(folder);
            return 1;
        }
        const std::string knownHosts = folder + "/known_hosts";
        std::ofstream(knownHosts) << server.KnownHostsLine();
        fs::create_directories(folder + "/phone");
        const std::string source = folder + "/source.bin";
        {
            std::mt19937_64 random(42);
            std::string bytes(FileSize, '\0');
            for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
                const uint64_t value = random();
                std::memcpy(&bytes[i], &value, 8);
            }
            std::ofstream(source, std::ios::binary) << bytes;
        }

        Tpot::TSettings settings;
        const passwd* user = ::getpwuid(::geteuid());
        const std::string login = user ? user->pw_name : "root";
        settings.Values = {{"host", "127.0.0.1"},
                           {"port", std::to_string(server.Port())},
                           {"user", login},
                           {"keyfile", server.UserKey()},
                           {"knownhosts", knownHosts}};
        const std::string batch = folder + "/batch";
        std::ofstream(batch) << "put " << Quoted(source) << " " << Quoted(folder + "/phone/cli.bin")
                             << "\nget " << Quoted(folder + "/phone/cli.bin") << " "
                             << Quoted(folder + "/cli-back.bin") << "\n";
        const std::string cli = "sftp -q -b " + Quoted(batch) + " -i " + Quoted(server.UserKey()) +
                                " -o BatchMode=yes -o StrictHostKeyChecking=yes"
                                " -o UserKnownHostsFile=" +
                                Quoted(knownHosts) + " -P " + std::to_string(server.Port()) + " " +
                                login + "@127.0.0.1 >/dev/null";

        double best = 1e9;
        double bestCli = 1e9;
        for (int round = 0; round < Rounds; ++round) {
            fs::remove(folder + "/back.bin");
            fs::remove(folder + "/cli-back.bin");
            // A fresh plugin each round: its time includes the connection, as the tool's does.
            auto started = TClock::now();
            {
                Tpot::TPlugin plugin(
                    std::make_unique<Tpot::TSftpTransport>(Tpot::TSftpSettings::From(settings)),
                    folder + "/phone");
                if (plugin.Init(0, nullptr, nullptr) != 0 ||
                    plugin.PutFile(source.c_str(), "/ours.bin", FS_COPYFLAGS_OVERWRITE) !=
                        FS_FILE_OK ||
                    plugin.Init(0, nullptr, nullptr) != 0 ||
                    plugin.GetFile("/ours.bin", (folder + "/back.bin").c_str(),
                                   FS_COPYFLAGS_OVERWRITE) != FS_FILE_OK) {
                    std::fprintf(stderr, "the plugin's transfer failed\n");
                    exitCode = 1;
                    break;
                }
            }
            const double ours = Seconds(started);
            started = TClock::now();
            if (std::system(cli.c_str()) != 0) {
                std::fprintf(stderr, "the sftp tool failed\n");
                exitCode = 1;
                break;
            }
            const double theirs = Seconds(started);
            if (!SameFiles(source, folder + "/back.bin") ||
                !SameFiles(source, folder + "/cli-back.bin")) {
                std::fprintf(stderr, "a copy differs from the source\n");
                exitCode = 1;
                break;
            }
            std::printf("round %d: plugin %.3f s, sftp tool %.3f s\n", round + 1, ours, theirs);
            best = std::min(best, ours);
            bestCli = std::min(bestCli, theirs);
        }
        if (exitCode == 0) {
            std::printf("put+get of %zu bytes, best of %d: plugin %.3f s (%.1f MB/s), sftp tool "
                        "%.3f s (%.1f MB/s)\n",
                        FileSize, Rounds, best, 2 * FileSize / best / 1e6, bestCli,
                        2 * FileSize / bestCli / 1e6);
            std::printf("sftp/cli time ratio: %.2f\n", best / bestCli);
        }
    }
    fs::remove_all(folder);
    return exitCode;
}
