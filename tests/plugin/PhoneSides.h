#pragma once

// One phone as each transport reaches it, for the cases run against every
// transport: a plugin on it, and its files as the test sees and makes them.

#include "FakeAfc.h"
#include "SshdFixture.h"
#include "TestFolder.h"
#include "plugin/Plugin.h"
#include "plugin/Settings.h"

#include <memory>
#include <string>

// Size bytes that follow no pattern, the same for the same seed.
std::string RandomBytes(std::size_t size, unsigned seed);

class TPhoneSide {
public:
    virtual ~TPhoneSide() = default;
    // "" when the side can run on this machine, else why not.
    virtual std::string Start() { return ""; }
    // A plugin whose phone root is Prefix ("" : the phone's own root).
    virtual std::unique_ptr<Tpot::TPlugin> MakePlugin(const std::string& prefix) = 0;
    // Phone paths; missing folders above them are made. Time: Unix seconds.
    virtual void AddFile(const std::string& path, const std::string& bytes, int64_t time) = 0;
    virtual void AddLink(const std::string& path, const std::string& target) = 0;
    virtual int64_t TimeOf(const std::string& path) const = 0;
    // Everything on the phone, sorted, one word each: "path/" for a folder,
    // "path=bytes" for anything else ("path=<N bytes>" when longer than 16
    // bytes).
    virtual std::string Tree() const = 0;
};

// The phone as a folder of this computer, for the folder and SFTP transports.
class TDiskSide : public TPhoneSide {
public:
    void AddFile(const std::string& path, const std::string& bytes, int64_t time) override;
    void AddLink(const std::string& path, const std::string& target) override;
    int64_t TimeOf(const std::string& path) const override;
    std::string Tree() const override;

    const std::string& Root() const { return root_; }

protected:
    TTestFolder dir_;
    const std::string root_ = dir_ / "phone";
};

class TFolderSide : public TDiskSide {
public:
    std::unique_ptr<Tpot::TPlugin> MakePlugin(const std::string& prefix) override;
};

// A throw-away sshd serving the phone folder to the current user.
class TSftpSide : public TDiskSide {
public:
    std::string Start() override;
    std::unique_ptr<Tpot::TPlugin> MakePlugin(const std::string& prefix) override;
    ~TSftpSide() override;

    Tpot::TSettings Settings() const;
    TSshd& Server() { return *server_; }
    const std::string& KnownHosts() const { return knownHosts_; }
    const TTestFolder& Dir() const { return dir_; }

private:
    const std::string knownHosts_ = dir_ / "known_hosts";
    std::unique_ptr<TSshd> server_;
};

class TUsbSide : public TPhoneSide {
public:
    std::unique_ptr<Tpot::TPlugin> MakePlugin(const std::string& prefix) override;
    void AddFile(const std::string& path, const std::string& bytes, int64_t time) override;
    void AddLink(const std::string& path, const std::string& target) override;
    int64_t TimeOf(const std::string& path) const override;
    std::string Tree() const override;

    TFakePhone Phone;
};
