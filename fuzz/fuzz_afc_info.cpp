// The USB transport's reading of what the phone's file service answers, on
// arbitrary bytes: the part before the first "\0\0" is a folder's names, the
// part after it the key/value description of every file and the bytes every
// read gives. Listings keep their bounds and reads stop at their limit.
#include "plugin/AfcTransport.h"
#include "plugin/PhonePath.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

std::vector<std::string> Split(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\0', pos);
        if (end == std::string_view::npos)
            end = text.size();
        parts.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

class TFuzzAfc : public Tpot::TAfc {
public:
    TFuzzAfc(std::vector<std::string> names, std::string_view info)
        : Names(std::move(names)), Info(info) {}

    afc_error_t ReadDirectory(const std::string&, std::vector<std::string>& names) override {
        names = Names;
        return AFC_E_SUCCESS;
    }
    afc_error_t GetFileInfo(const std::string&, std::map<std::string, std::string>& info) override {
        const std::vector<std::string> parts = Split(Info);
        for (std::size_t i = 0; i + 1 < parts.size(); i += 2)
            info[parts[i]] = parts[i + 1];
        return AFC_E_SUCCESS;
    }
    afc_error_t FileOpen(const std::string&, afc_file_mode_t, uint64_t& handle) override {
        handle = 1;
        return AFC_E_SUCCESS;
    }
    afc_error_t FileRead(uint64_t, char* data, uint32_t length, uint32_t& read) override {
        // Never the end: the transport's limit has to stop it.
        read = static_cast<uint32_t>(std::min<std::size_t>(length, Info.size()));
        std::memcpy(data, Info.data(), read);
        return AFC_E_SUCCESS;
    }
    afc_error_t FileWrite(uint64_t, const char*, uint32_t length, uint32_t& written) override {
        written = length;
        return AFC_E_SUCCESS;
    }
    afc_error_t FileClose(uint64_t) override { return AFC_E_SUCCESS; }
    afc_error_t Rename(const std::string&, const std::string&) override { return AFC_E_SUCCESS; }
    afc_error_t Remove(const std::string&) override { return AFC_E_SUCCESS; }
    afc_error_t MakeDirectory(const std::string&) override { return AFC_E_SUCCESS; }
    afc_error_t SetFileTime(const std::string&, uint64_t) override { return AFC_E_SUCCESS; }

private:
    std::vector<std::string> Names;
    std::string_view Info;
};

class TFuzzConnector : public Tpot::TAfcConnector {
public:
    TFuzzConnector(std::vector<std::string> names, std::string_view info)
        : Names(std::move(names)), Info(info) {}
    std::unique_ptr<Tpot::TAfc> Connect(std::string&) override {
        return std::make_unique<TFuzzAfc>(Names, Info);
    }

private:
    std::vector<std::string> Names;
    std::string_view Info;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find(std::string_view("\0\0", 2));
    const std::vector<std::string> names =
        Split(split == std::string_view::npos ? input : input.substr(0, split));
    const std::string_view info =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 2);
    Tpot::TAfcTransport transport(std::make_unique<TFuzzConnector>(names, info));

    std::vector<Tpot::TEntry> entries;
    std::string why;
    if (transport.List("/folder", entries, why) == Tpot::TStatus::Ok) {
        Check(entries.size() <= names.size());
        for (const Tpot::TEntry& entry : entries)
            Check(!entry.IsFolder || entry.Size == 0);
    }
    Tpot::TEntry entry;
    transport.Stat("/folder/file", entry, why);
    Check(entry.Name == "file" || entry.Name.empty());
    // A link's target, however the phone writes it, is a canonical path.
    std::string target;
    if (transport.LinkTarget("/folder/file", target, why) == Tpot::TStatus::Ok)
        Check(Tpot::NormalisePhonePath(target) == target);
    uint64_t total = 0;
    transport.Read(
        "/folder/file", 5000,
        [&](const char*, std::size_t got) {
            total += got;
            return true;
        },
        why);
    Check(total <= 5000);
    return 0;
}
