#pragma once

// An in-memory phone behind the AFC interface, with a call log and fault
// injection, for the USB transport's logic.

#include "plugin/Afc.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

struct TFakeNode {
    bool IsFolder = false;
    std::string Data;
    uint64_t MTimeNs = 0;
    std::string LinkTarget; // not empty: a symbolic link with this text
};

// The phone itself; it outlives the connections made to it.
struct TFakePhone {
    TFakePhone() { Nodes["/"] = TFakeNode{true, "", 0, ""}; }

    // These make the missing folders above Path too.
    void AddFolder(const std::string& path) { Add(path, TFakeNode{true, "", 0, ""}); }
    void AddFile(const std::string& path, std::string data, uint64_t mtimeNs = 0) {
        Add(path, TFakeNode{false, std::move(data), mtimeNs, ""});
    }
    void AddLink(const std::string& path, std::string target) {
        Add(path, TFakeNode{false, "", 0, std::move(target)});
    }
    void Add(const std::string& path, TFakeNode node);
    bool Has(const std::string& path) const { return Nodes.count(path) != 0; }
    std::string DataOf(const std::string& path) const {
        const auto found = Nodes.find(path);
        return found == Nodes.end() ? "<missing>" : found->second.Data;
    }
    // The paths under Folder whose last segment starts with Prefix.
    std::vector<std::string> NamesStartingWith(const std::string& folder,
                                               const std::string& prefix) const;

    std::map<std::string, TFakeNode> Nodes;
    // Every call as "op path [detail]", in order.
    std::vector<std::string> Calls;
    // Returns an error to fail the call Op on Path, or AFC_E_SUCCESS to let it run.
    std::function<afc_error_t(const std::string& op, const std::string& path)> Fault;
    // Names a listing of the folder reports on top of its real entries.
    std::map<std::string, std::vector<std::string>> ExtraNames;
    // The most bytes one FileWrite takes (the phone may write less than asked).
    uint32_t WriteLimit = UINT32_MAX;
    // Bytes that reads give past the end of a file, as if it never ended.
    std::size_t ReadsPastTheEnd = 0;
    // Every call of every connection fails as a broken link.
    bool LinkBroken = false;
    // When not empty, connecting fails with this reason.
    std::string ConnectFailure;
    int Connects = 0;
};

class TFakeConnector : public Tpot::TAfcConnector {
public:
    explicit TFakeConnector(TFakePhone& phone) : phone_(phone) {}
    std::unique_ptr<Tpot::TAfc> Connect(std::string& why) override;

private:
    TFakePhone& phone_;
};
