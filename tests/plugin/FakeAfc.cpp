#include "FakeAfc.h"

#include <algorithm>

namespace {

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string LastOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

struct TOpenFile {
    std::string Path;
    afc_file_mode_t Mode;
    std::size_t Position = 0;
};

class TFakeAfc : public Tpot::TAfc {
public:
    explicit TFakeAfc(TFakePhone& phone) : phone_(phone) {}

    afc_error_t ReadDirectory(const std::string& path, std::vector<std::string>& names) override {
        if (const afc_error_t error = Enter("list", path))
            return error;
        const auto found = phone_.Nodes.find(path);
        if (found == phone_.Nodes.end())
            return AFC_E_OBJECT_NOT_FOUND;
        if (!found->second.IsFolder)
            return AFC_E_READ_ERROR;
        names = {".", ".."};
        for (const auto& [child, node] : phone_.Nodes) {
            if (child != "/" && ParentOf(child) == path)
                names.push_back(LastOf(child));
        }
        for (const std::string& extra : phone_.ExtraNames[path])
            names.push_back(extra);
        return AFC_E_SUCCESS;
    }

    afc_error_t GetFileInfo(const std::string& path,
                            std::map<std::string, std::string>& info) override {
        if (const afc_error_t error = Enter("info", path))
            return error;
        const auto found = phone_.Nodes.find(path);
        if (found == phone_.Nodes.end())
            return AFC_E_OBJECT_NOT_FOUND;
        info["st_size"] = std::to_string(found->second.Data.size());
        info["st_mtime"] = std::to_string(found->second.MTimeNs);
        info["st_ifmt"] = found->second.IsFolder ? "S_IFDIR" : "S_IFREG";
        if (!found->second.LinkTarget.empty()) {
            info["st_ifmt"] = "S_IFLNK";
            info["LinkTarget"] = found->second.LinkTarget;
        }
        return AFC_E_SUCCESS;
    }

    afc_error_t FileOpen(const std::string& path, afc_file_mode_t mode, uint64_t& handle) override {
        if (const afc_error_t error = Enter("open", path, std::to_string(mode)))
            return error;
        const auto found = phone_.Nodes.find(path);
        if (mode == AFC_FOPEN_RDONLY) {
            if (found == phone_.Nodes.end())
                return AFC_E_OBJECT_NOT_FOUND;
        } else {
            const auto parent = phone_.Nodes.find(ParentOf(path));
            if (parent == phone_.Nodes.end() || !parent->second.IsFolder)
                return AFC_E_OBJECT_NOT_FOUND;
            if (found != phone_.Nodes.end() && found->second.IsFolder)
                return AFC_E_OBJECT_IS_DIR;
            // Any mode but reading truncates, so that a read opened for
            // writing shows in what it gives.
            phone_.Nodes[path] = TFakeNode{};
        }
        handle = ++lastHandle_;
        open_[handle] = TOpenFile{path, mode};
        return AFC_E_SUCCESS;
    }

    afc_error_t FileRead(uint64_t handle, char* data, uint32_t length, uint32_t& read) override {
        read = 0;
        if (const afc_error_t error = Enter("read", PathOf(handle)))
            return error;
        TOpenFile& file = open_.at(handle);
        const std::string& bytes = phone_.Nodes[file.Path].Data;
        const std::size_t end = bytes.size() + phone_.ReadsPastTheEnd;
        const std::size_t left = end > file.Position ? end - file.Position : 0;
        const std::size_t count = std::min<std::size_t>(length, left);
        std::fill_n(data, count, 'x');
        if (file.Position < bytes.size())
            bytes.copy(data, count, file.Position);
        file.Position += count;
        read = static_cast<uint32_t>(count);
        return AFC_E_SUCCESS;
    }

    afc_error_t FileWrite(uint64_t handle, const char* data, uint32_t length,
                          uint32_t& written) override {
        written = 0;
        if (const afc_error_t error = Enter("write", PathOf(handle)))
            return error;
        TOpenFile& file = open_.at(handle);
        const uint32_t count = std::min(length, phone_.WriteLimit);
        phone_.Nodes[file.Path].Data.append(data, count);
        written = count;
        return AFC_E_SUCCESS;
    }

    afc_error_t FileClose(uint64_t handle) override {
        const std::string path = PathOf(handle);
        open_.erase(handle);
        return Enter("close", path);
    }

    afc_error_t Rename(const std::string& from, const std::string& to) override {
        if (const afc_error_t error = Enter("rename", from, to))
            return error;
        const auto found = phone_.Nodes.find(from);
        if (found == phone_.Nodes.end())
            return AFC_E_OBJECT_NOT_FOUND;
        const auto target = phone_.Nodes.find(to);
        if (target != phone_.Nodes.end() && target->second.IsFolder)
            return AFC_E_OBJECT_IS_DIR;
        // The node and everything below it.
        std::map<std::string, TFakeNode> moved;
        for (auto it = found; it != phone_.Nodes.end() && it->first.rfind(from, 0) == 0;) {
            if (it->first.size() == from.size() || it->first[from.size()] == '/') {
                moved[to + it->first.substr(from.size())] = it->second;
                it = phone_.Nodes.erase(it);
            } else
                ++it;
        }
        for (auto& [path, node] : moved)
            phone_.Nodes[path] = std::move(node);
        return AFC_E_SUCCESS;
    }

    afc_error_t Remove(const std::string& path) override {
        if (const afc_error_t error = Enter("remove", path))
            return error;
        const auto found = phone_.Nodes.find(path);
        if (found == phone_.Nodes.end())
            return AFC_E_OBJECT_NOT_FOUND;
        for (const auto& [child, node] : phone_.Nodes) {
            if (child != "/" && child != path && ParentOf(child) == path)
                return AFC_E_DIR_NOT_EMPTY;
        }
        phone_.Nodes.erase(found);
        return AFC_E_SUCCESS;
    }

    afc_error_t MakeDirectory(const std::string& path) override {
        if (const afc_error_t error = Enter("mkdir", path))
            return error;
        const auto parent = phone_.Nodes.find(ParentOf(path));
        if (parent == phone_.Nodes.end() || !parent->second.IsFolder)
            return AFC_E_OBJECT_NOT_FOUND;
        if (phone_.Has(path))
            return AFC_E_OBJECT_EXISTS;
        phone_.AddFolder(path);
        return AFC_E_SUCCESS;
    }

    afc_error_t SetFileTime(const std::string& path, uint64_t nanoseconds) override {
        if (const afc_error_t error = Enter("settime", path, std::to_string(nanoseconds)))
            return error;
        const auto found = phone_.Nodes.find(path);
        if (found == phone_.Nodes.end())
            return AFC_E_OBJECT_NOT_FOUND;
        found->second.MTimeNs = nanoseconds;
        return AFC_E_SUCCESS;
    }

private:
    afc_error_t Enter(const std::string& op, const std::string& path,
                      const std::string& detail = "") {
        phone_.Calls.push_back(op + " " + path + (detail.empty() ? "" : " " + detail));
        if (phone_.LinkBroken)
            return AFC_E_MUX_ERROR;
        return phone_.Fault ? phone_.Fault(op, path) : AFC_E_SUCCESS;
    }
    std::string PathOf(uint64_t handle) const {
        const auto found = open_.find(handle);
        return found == open_.end() ? "<closed>" : found->second.Path;
    }

    TFakePhone& phone_;
    std::map<uint64_t, TOpenFile> open_;
    uint64_t lastHandle_ = 0;
};

} // namespace

void TFakePhone::Add(const std::string& path, TFakeNode node) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        Nodes.try_emplace(path.substr(0, slash), TFakeNode{true, "", 0, ""});
    Nodes[path] = std::move(node);
}

std::vector<std::string> TFakePhone::NamesStartingWith(const std::string& folder,
                                                       const std::string& prefix) const {
    std::vector<std::string> names;
    for (const auto& [path, node] : Nodes) {
        if (path != "/" && ParentOf(path) == folder && LastOf(path).rfind(prefix, 0) == 0)
            names.push_back(path);
    }
    return names;
}

std::unique_ptr<Tpot::TAfc> TFakeConnector::Connect(std::string& why) {
    ++phone_.Connects;
    if (!phone_.ConnectFailure.empty()) {
        why = phone_.ConnectFailure;
        return nullptr;
    }
    return std::make_unique<TFakeAfc>(phone_);
}
