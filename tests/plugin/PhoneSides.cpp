#include "PhoneSides.h"

#include "plugin/AfcTransport.h"
#include "plugin/FolderTransport.h"
#include "plugin/TransportFactory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Word(const std::string& path, const std::string& bytes) {
    return path + "=" +
           (bytes.size() > 16 ? "<" + std::to_string(bytes.size()) + " bytes>" : bytes);
}

std::string Joined(std::vector<std::string> words) {
    std::sort(words.begin(), words.end());
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

} // namespace

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

void TDiskSide::AddFile(const std::string& path, const std::string& bytes, int64_t time) {
    WriteFile(root_ + path, bytes);
    const timespec times[2] = {{0, UTIME_OMIT}, {time, 0}};
    EXPECT_EQ(::utimensat(AT_FDCWD, (root_ + path).c_str(), times, 0), 0) << path;
}

void TDiskSide::AddLink(const std::string& path, const std::string& target) {
    std::filesystem::create_directories(std::filesystem::path(root_ + path).parent_path());
    EXPECT_EQ(::symlink(target.c_str(), (root_ + path).c_str()), 0) << path;
}

int64_t TDiskSide::TimeOf(const std::string& path) const {
    struct stat st {};
    return ::lstat((root_ + path).c_str(), &st) == 0 ? st.st_mtime : -1;
}

std::string TDiskSide::Tree() const {
    std::vector<std::string> words;
    std::error_code error;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root_, error)) {
        const std::string path = item.path().string().substr(root_.size() + 1);
        if (item.is_directory())
            words.push_back(path + "/");
        else
            words.push_back(Word(path, ReadFile(item.path().string())));
    }
    return Joined(std::move(words));
}

std::unique_ptr<Tpot::TPlugin> TFolderSide::MakePlugin(const std::string& prefix) {
    std::filesystem::create_directories(root_);
    return std::make_unique<Tpot::TPlugin>(std::make_unique<Tpot::TFolderTransport>(root_), prefix);
}

std::string TSftpSide::Start() {
    // Only the key this test gives counts, never an agent of the machine.
    ::unsetenv("SSH_AUTH_SOCK");
    std::filesystem::create_directories(dir_ / "sshd");
    std::filesystem::create_directories(root_);
    server_ = std::make_unique<TSshd>(dir_ / "sshd");
    std::string why;
    if (!server_->Start(why))
        return "no OpenSSH server can run on this machine, SFTP tests skipped: " + why;
    WriteFile(knownHosts_, server_->KnownHostsLine());
    return "";
}

TSftpSide::~TSftpSide() {
    if (server_ && testing::Test::HasFailure())
        std::fprintf(stderr, "sshd's log:\n%s\n", server_->Log().c_str());
}

Tpot::TSettings TSftpSide::Settings() const {
    Tpot::TSettings settings;
    settings.Transport = "sftp";
    // The test server runs as the current user, who may not be root.
    const passwd* user = ::getpwuid(::geteuid());
    settings.Values = {{"host", "127.0.0.1"},
                       {"port", std::to_string(server_->Port())},
                       {"user", user ? user->pw_name : "root"},
                       {"keyfile", server_->UserKey()},
                       {"knownhosts", knownHosts_}};
    return settings;
}

std::unique_ptr<Tpot::TPlugin> TSftpSide::MakePlugin(const std::string& prefix) {
    std::vector<std::string> warnings;
    auto transport = Tpot::MakeTransport(Settings(), warnings);
    EXPECT_TRUE(warnings.empty());
    return std::make_unique<Tpot::TPlugin>(std::move(transport), root_ + prefix);
}

std::unique_ptr<Tpot::TPlugin> TUsbSide::MakePlugin(const std::string& prefix) {
    return std::make_unique<Tpot::TPlugin>(
        std::make_unique<Tpot::TAfcTransport>(std::make_unique<TFakeConnector>(Phone)), prefix);
}

void TUsbSide::AddFile(const std::string& path, const std::string& bytes, int64_t time) {
    Phone.AddFile(path, bytes, static_cast<uint64_t>(time) * 1000000000u);
}

void TUsbSide::AddLink(const std::string& path, const std::string& target) {
    Phone.AddLink(path, target);
}

int64_t TUsbSide::TimeOf(const std::string& path) const {
    const auto found = Phone.Nodes.find(path);
    return found == Phone.Nodes.end() ? -1
                                      : static_cast<int64_t>(found->second.MTimeNs / 1000000000u);
}

std::string TUsbSide::Tree() const {
    std::vector<std::string> words;
    for (const auto& [path, node] : Phone.Nodes) {
        const std::string name = path.substr(1);
        if (node.IsFolder && path != "/")
            words.push_back(name + "/");
        else if (!node.IsFolder)
            words.push_back(Word(name, node.Data));
    }
    return Joined(std::move(words));
}
