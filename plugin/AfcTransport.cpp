#include "plugin/AfcTransport.h"

#include "plugin/PhonePath.h"

#include <charconv>
#include <optional>
#include <random>

namespace Tpot {

namespace {

// Big enough to keep the link busy, small enough for one AFC packet.
constexpr uint32_t Chunk = 64 * 1024;
// Every entry costs a round trip for its description: a listing longer than
// this is not a phone folder but a phone that has gone wrong.
constexpr std::size_t MaxEntries = 100000;

bool LinkBroken(afc_error_t error) {
    switch (error) {
    case AFC_E_MUX_ERROR:
    case AFC_E_SERVICE_NOT_CONNECTED:
    case AFC_E_NOT_ENOUGH_DATA:
    case AFC_E_OP_HEADER_INVALID:
    case AFC_E_UNKNOWN_PACKET_TYPE:
        return true;
    default:
        return false;
    }
}

std::string AfcReason(afc_error_t error) {
    struct TWords {
        afc_error_t Error;
        const char* Text;
        bool Numbered; // the rarer ones keep their number, for a bug report
    };
    static constexpr TWords Known[] = {
        {AFC_E_OBJECT_NOT_FOUND, "no such file or folder", false},
        {AFC_E_OBJECT_IS_DIR, "is a folder", false},
        {AFC_E_PERM_DENIED, "permission denied", false},
        {AFC_E_NO_SPACE_LEFT, "no space left on the phone", false},
        {AFC_E_OBJECT_EXISTS, "already exists", false},
        {AFC_E_DIR_NOT_EMPTY, "folder not empty", false},
        {AFC_E_MUX_ERROR, "the connection to the phone broke", false},
        {AFC_E_SERVICE_NOT_CONNECTED, "the connection to the phone broke", false},
        {AFC_E_NOT_ENOUGH_DATA, "the connection to the phone broke", false},
        {AFC_E_READ_ERROR, "the phone could not read it", true},
        {AFC_E_WRITE_ERROR, "the phone could not write it", true},
        {AFC_E_IO_ERROR, "input/output error on the phone", true},
        {AFC_E_OBJECT_BUSY, "the file is busy on the phone", true},
        {AFC_E_OP_TIMEOUT, "the phone did not answer in time", true},
        {AFC_E_OP_NOT_SUPPORTED, "the phone does not support this", true},
        {AFC_E_NO_RESOURCES, "the phone is short of resources", true},
        {AFC_E_NO_MEM, "the phone is short of resources", true},
        {AFC_E_OP_INTERRUPTED, "interrupted on the phone", true},
        {AFC_E_INVALID_ARG, "the phone refused the request as invalid", true},
        {AFC_E_OP_HEADER_INVALID, "the phone's file service answered out of turn", true},
        {AFC_E_UNKNOWN_PACKET_TYPE, "the phone's file service answered out of turn", true},
    };
    std::string text = "the phone's file service failed";
    for (const TWords& words : Known)
        if (words.Error == error) {
            if (!words.Numbered)
                return words.Text;
            text = words.Text;
        }
    return text + " (AFC error " + std::to_string(static_cast<int>(error)) + ")";
}

TStatus StatusOf(afc_error_t error, TStatus otherwise) {
    return error == AFC_E_OBJECT_NOT_FOUND ? TStatus::NotFound : otherwise;
}

template <typename T> T Number(const std::map<std::string, std::string>& info, const char* key) {
    const auto found = info.find(key);
    T value = 0;
    if (found == info.end())
        return 0;
    const char* begin = found->second.data();
    const char* end = begin + found->second.size();
    const auto [last, error] = std::from_chars(begin, end, value);
    return error == std::errc() && last == end ? value : 0;
}

} // namespace

TEntry EntryFromAfcInfo(const std::string& name, const std::map<std::string, std::string>& info) {
    TEntry entry;
    entry.Name = name;
    const auto kind = info.find("st_ifmt");
    entry.IsFolder = kind != info.end() && kind->second == "S_IFDIR";
    entry.IsLink = kind != info.end() && kind->second == "S_IFLNK";
    entry.Size = entry.IsFolder ? 0 : Number<uint64_t>(info, "st_size");
    entry.MTime = static_cast<int64_t>(Number<uint64_t>(info, "st_mtime") / 1000000000u);
    return entry;
}

std::optional<std::string> ResolveLink(const std::string& path, const std::string& target) {
    std::vector<std::string> segments;
    const std::string whole =
        (target.rfind('/', 0) == 0 ? std::string() : ParentPath(path)) + "/" + target;
    std::size_t pos = 0;
    while (pos <= whole.size()) {
        std::size_t end = whole.find('/', pos);
        if (end == std::string::npos)
            end = whole.size();
        const std::string segment = whole.substr(pos, end - pos);
        pos = end + 1;
        if (segment.empty() || segment == ".")
            continue;
        if (segment == "..") {
            if (segments.empty())
                return std::nullopt;
            segments.pop_back();
        } else if (IsPlainFileName(segment)) {
            segments.push_back(segment);
        } else {
            return std::nullopt;
        }
    }
    std::string out;
    for (const std::string& segment : segments)
        out += "/" + segment;
    return out.empty() ? std::string("/") : out;
}

TAfcTransport::TAfcTransport(std::unique_ptr<TAfcConnector> connector)
    : connector_(std::move(connector)), tempCounter_(std::random_device{}()) {}

bool TAfcTransport::Connect(std::string& why) {
    if (afc_) {
        // One round trip tells whether the connection still stands.
        std::map<std::string, std::string> info;
        if (!LinkBroken(afc_->GetFileInfo("/", info)))
            return true;
        afc_.reset();
    }
    return Ready(why);
}

bool TAfcTransport::Ready(std::string& why) {
    if (!afc_)
        afc_ = connector_->Connect(why);
    return afc_ != nullptr;
}

void TAfcTransport::Fail(afc_error_t error, std::string& why) {
    why = AfcReason(error);
    if (LinkBroken(error))
        afc_.reset();
}

std::string TAfcTransport::TempNameIn(const std::string& folder) {
    std::string name = ".T-Pot-" + std::to_string(++tempCounter_);
    return folder == "/" ? "/" + name : folder + "/" + name;
}

afc_error_t TAfcTransport::Describe(const std::string& path, const std::string& name,
                                    TEntry& entry) {
    std::map<std::string, std::string> info;
    const afc_error_t described = afc_->GetFileInfo(path, info);
    entry = EntryFromAfcInfo(name, info);
    if (described != AFC_E_SUCCESS || !entry.IsLink)
        return described;
    std::string target;
    std::string why;
    std::map<std::string, std::string> targetInfo;
    if (Follow(path, target, why) && afc_ &&
        afc_->GetFileInfo(target, targetInfo) == AFC_E_SUCCESS) {
        entry = EntryFromAfcInfo(name, targetInfo);
        entry.IsLink = true;
    }
    return AFC_E_SUCCESS;
}

bool TAfcTransport::Follow(const std::string& path, std::string& target, std::string& why) {
    std::string current = path;
    for (int hop = 0; hop < 16; ++hop) {
        std::map<std::string, std::string> info;
        if (const afc_error_t described = afc_->GetFileInfo(current, info);
            described != AFC_E_SUCCESS) {
            Fail(described, why);
            return false;
        }
        const auto kind = info.find("st_ifmt");
        if (kind == info.end() || kind->second != "S_IFLNK") {
            target = current;
            return true;
        }
        const auto text = info.find("LinkTarget");
        const auto next = text == info.end() ? std::nullopt : ResolveLink(current, text->second);
        if (!next) {
            why = "the link leads nowhere on the phone";
            return false;
        }
        current = *next;
    }
    why = "too many links in a row";
    return false;
}

TStatus TAfcTransport::List(const std::string& path, std::vector<TEntry>& entries,
                            std::string& why) {
    entries.clear();
    if (!Ready(why))
        return TStatus::ReadError;
    std::vector<std::string> names;
    const afc_error_t listed = afc_->ReadDirectory(path, names);
    if (listed != AFC_E_SUCCESS) {
        Fail(listed, why);
        return StatusOf(listed, TStatus::ReadError);
    }
    if (names.size() > MaxEntries) {
        why = "the folder lists more than " + std::to_string(MaxEntries) + " entries";
        return TStatus::ReadError;
    }
    const std::string folder = path == "/" ? std::string() : path;
    for (const std::string& name : names) {
        if (!IsPlainFileName(name)) {
            if (name != "." && name != "..")
                entries.push_back(TEntry{name, 0, 0, false}); // the caller reports it
            continue;
        }
        TEntry entry;
        const afc_error_t described = Describe(folder + "/" + name, name, entry);
        if (LinkBroken(described) || !afc_) {
            Fail(described, why);
            entries.clear();
            return TStatus::ReadError;
        }
        // An entry gone or unreadable since the listing still keeps its name.
        entries.push_back(std::move(entry));
    }
    return TStatus::Ok;
}

TStatus TAfcTransport::Stat(const std::string& path, TEntry& entry, std::string& why) {
    if (!Ready(why))
        return TStatus::ReadError;
    const afc_error_t described = Describe(path, LastSegment(path), entry);
    if (described != AFC_E_SUCCESS) {
        Fail(described, why);
        return StatusOf(described, TStatus::ReadError);
    }
    return TStatus::Ok;
}

TStatus TAfcTransport::Read(const std::string& path, uint64_t limit, const TSink& sink,
                            std::string& why) {
    if (!Ready(why))
        return TStatus::ReadError;
    uint64_t handle = 0;
    const afc_error_t opened = afc_->FileOpen(path, AFC_FOPEN_RDONLY, handle);
    if (opened != AFC_E_SUCCESS) {
        Fail(opened, why);
        return StatusOf(opened, TStatus::ReadError);
    }
    std::vector<char> buffer(Chunk);
    TStatus status = TStatus::Ok;
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        const afc_error_t read = afc_->FileRead(handle, buffer.data(), Chunk, got);
        if (read != AFC_E_SUCCESS) {
            Fail(read, why);
            status = TStatus::ReadError;
            break;
        }
        if (got == 0)
            break;
        got = std::min(got, Chunk);
        total += got;
        if (total > limit) {
            why = TooLongReason(limit);
            status = TStatus::ReadError;
            break;
        }
        if (!sink(buffer.data(), got)) {
            why = "stopped";
            status = TStatus::Aborted;
            break;
        }
    }
    if (afc_)
        afc_->FileClose(handle);
    return status;
}

TStatus TAfcTransport::Write(const std::string& path, const TEntry& like, const TSource& source,
                             std::string& why) {
    if (!Ready(why))
        return TStatus::WriteError;
    // Written under a temporary name and renamed over the target, so that a
    // reader on the phone never sees half a file.
    const std::string temp = TempNameIn(ParentPath(path));
    uint64_t handle = 0;
    const afc_error_t opened = afc_->FileOpen(temp, AFC_FOPEN_WRONLY, handle);
    if (opened != AFC_E_SUCCESS) {
        Fail(opened, why);
        return StatusOf(opened, TStatus::WriteError);
    }
    std::vector<char> buffer(Chunk);
    TStatus status = TStatus::Ok;
    afc_error_t error = AFC_E_SUCCESS;
    while (status == TStatus::Ok) {
        const std::ptrdiff_t got = source(buffer.data(), buffer.size());
        if (got < 0) {
            why = "stopped";
            status = TStatus::Aborted;
            break;
        }
        if (got == 0)
            break;
        const char* data = buffer.data();
        uint32_t left = static_cast<uint32_t>(std::min<std::ptrdiff_t>(got, Chunk));
        while (left > 0) {
            uint32_t written = 0;
            error = afc_->FileWrite(handle, data, left, written);
            if (error == AFC_E_SUCCESS && (written == 0 || written > left))
                error = AFC_E_WRITE_ERROR;
            if (error != AFC_E_SUCCESS) {
                status = TStatus::WriteError;
                break;
            }
            data += written;
            left -= written;
        }
    }
    if (afc_) {
        const afc_error_t closed = afc_->FileClose(handle);
        if (status == TStatus::Ok && closed != AFC_E_SUCCESS) {
            error = closed;
            status = TStatus::WriteError;
        }
    }
    // The phone keeps no permissions over AFC, but times.
    if (status == TStatus::Ok && like.MTime > 0)
        afc_->SetFileTime(temp, static_cast<uint64_t>(like.MTime) * 1000000000u);
    if (status == TStatus::Ok) {
        error = afc_->Rename(temp, path);
        if (error != AFC_E_SUCCESS)
            status = TStatus::WriteError;
    }
    if (status != TStatus::Ok) {
        if (status == TStatus::WriteError)
            Fail(error, why);
        if (afc_)
            afc_->Remove(temp);
    }
    return status;
}

TStatus TAfcTransport::Remove(const std::string& path, std::string& why) {
    if (!Ready(why))
        return TStatus::WriteError;
    const afc_error_t removed = afc_->Remove(path);
    if (removed != AFC_E_SUCCESS) {
        Fail(removed, why);
        return StatusOf(removed, TStatus::WriteError);
    }
    return TStatus::Ok;
}

TStatus TAfcTransport::MakeFolder(const std::string& path, std::string& why) {
    if (!Ready(why))
        return TStatus::WriteError;
    std::map<std::string, std::string> info;
    if (afc_->GetFileInfo(path, info) == AFC_E_SUCCESS)
        return TStatus::Exists;
    const afc_error_t made = afc_->MakeDirectory(path);
    if (made != AFC_E_SUCCESS) {
        Fail(made, why);
        return made == AFC_E_OBJECT_EXISTS ? TStatus::Exists : StatusOf(made, TStatus::WriteError);
    }
    return TStatus::Ok;
}

TStatus TAfcTransport::RemoveFolder(const std::string& path, std::string& why) {
    if (!Ready(why))
        return TStatus::WriteError;
    std::map<std::string, std::string> info;
    if (const afc_error_t described = afc_->GetFileInfo(path, info); described != AFC_E_SUCCESS) {
        Fail(described, why);
        return StatusOf(described, TStatus::WriteError);
    }
    const TEntry entry = EntryFromAfcInfo(LastSegment(path), info);
    if (!entry.IsFolder && !entry.IsLink) {
        why = "not a folder";
        return TStatus::WriteError;
    }
    // The phone removes a folder only when it is empty, and a link as itself.
    const afc_error_t removed = afc_->Remove(path);
    if (removed != AFC_E_SUCCESS) {
        Fail(removed, why);
        return StatusOf(removed, TStatus::WriteError);
    }
    return TStatus::Ok;
}

TStatus TAfcTransport::Rename(const std::string& from, const std::string& to, bool replace,
                              std::string& why) {
    if (!Ready(why))
        return TStatus::WriteError;
    std::map<std::string, std::string> info;
    if (afc_->GetFileInfo(to, info) == AFC_E_SUCCESS &&
        (!replace || EntryFromAfcInfo("", info).IsFolder)) {
        why = "something of that name is there";
        return TStatus::Exists;
    }
    const afc_error_t renamed = afc_->Rename(from, to);
    if (renamed != AFC_E_SUCCESS) {
        Fail(renamed, why);
        return StatusOf(renamed, TStatus::WriteError);
    }
    return TStatus::Ok;
}

TStatus TAfcTransport::SetTime(const std::string& path, int64_t mtime, std::string& why) {
    if (!Ready(why))
        return TStatus::WriteError;
    if (mtime < 0) {
        why = "the phone keeps no time before 1970 over USB";
        return TStatus::NotSupported;
    }
    const afc_error_t set = afc_->SetFileTime(path, static_cast<uint64_t>(mtime) * 1000000000u);
    if (set != AFC_E_SUCCESS) {
        Fail(set, why);
        return StatusOf(set, TStatus::WriteError);
    }
    return TStatus::Ok;
}

TStatus TAfcTransport::LinkTarget(const std::string& path, std::string& target, std::string& why) {
    if (!Ready(why))
        return TStatus::ReadError;
    return Follow(path, target, why) ? TStatus::Ok : TStatus::ReadError;
}

} // namespace Tpot
