#include "plugin/AfcTransport.h"

#include "plugin/PhonePath.h"

#include <charconv>
#include <random>

namespace tpot {

namespace {

// Big enough to keep the link busy, small enough for one AFC packet.
constexpr uint32_t kChunk = 64 * 1024;
// Every entry costs a round trip for its description: a listing longer than
// this is not a phone folder but a phone that has gone wrong.
constexpr std::size_t kMaxEntries = 100000;

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
    switch (error) {
    case AFC_E_OBJECT_NOT_FOUND:
        return "no such file or folder";
    case AFC_E_OBJECT_IS_DIR:
        return "is a folder";
    case AFC_E_PERM_DENIED:
        return "permission denied";
    case AFC_E_NO_SPACE_LEFT:
        return "no space left on the phone";
    case AFC_E_OBJECT_EXISTS:
        return "already exists";
    case AFC_E_DIR_NOT_EMPTY:
        return "folder not empty";
    case AFC_E_MUX_ERROR:
    case AFC_E_SERVICE_NOT_CONNECTED:
    case AFC_E_NOT_ENOUGH_DATA:
        return "the connection to the phone broke";
    default:
        return "AFC error " + std::to_string(static_cast<int>(error));
    }
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
    entry.Size = entry.IsFolder ? 0 : Number<uint64_t>(info, "st_size");
    entry.MTime = static_cast<int64_t>(Number<uint64_t>(info, "st_mtime") / 1000000000u);
    return entry;
}

TAfcTransport::TAfcTransport(std::unique_ptr<IAfcConnector> connector)
    : Connector(std::move(connector)), TempCounter(std::random_device{}()) {}

bool TAfcTransport::Connect(std::string& why) {
    if (Afc) {
        // One round trip tells whether the connection still stands.
        std::map<std::string, std::string> info;
        if (!LinkBroken(Afc->GetFileInfo("/", info)))
            return true;
        Afc.reset();
    }
    return Ready(why);
}

bool TAfcTransport::Ready(std::string& why) {
    if (!Afc)
        Afc = Connector->Connect(why);
    return Afc != nullptr;
}

void TAfcTransport::Fail(afc_error_t error, std::string& why) {
    why = AfcReason(error);
    if (LinkBroken(error))
        Afc.reset();
}

std::string TAfcTransport::TempNameIn(const std::string& folder) {
    std::string name = ".T-Pot-" + std::to_string(++TempCounter);
    return folder == "/" ? "/" + name : folder + "/" + name;
}

TStatus TAfcTransport::List(const std::string& path, std::vector<TEntry>& entries,
                            std::string& why) {
    entries.clear();
    if (!Ready(why))
        return TStatus::ReadError;
    std::vector<std::string> names;
    const afc_error_t listed = Afc->ReadDirectory(path, names);
    if (listed != AFC_E_SUCCESS) {
        Fail(listed, why);
        return StatusOf(listed, TStatus::ReadError);
    }
    if (names.size() > kMaxEntries) {
        why = "the folder lists more than " + std::to_string(kMaxEntries) + " entries";
        return TStatus::ReadError;
    }
    const std::string folder = path == "/" ? std::string() : path;
    for (const std::string& name : names) {
        if (!IsPlainName(name)) {
            if (name != "." && name != "..")
                entries.push_back(TEntry{name, 0, 0, false}); // the caller reports it
            continue;
        }
        std::map<std::string, std::string> info;
        const afc_error_t described = Afc->GetFileInfo(folder + "/" + name, info);
        if (LinkBroken(described)) {
            Fail(described, why);
            entries.clear();
            return TStatus::ReadError;
        }
        // An entry gone or unreadable since the listing still keeps its name.
        entries.push_back(EntryFromAfcInfo(name, info));
    }
    return TStatus::Ok;
}

TStatus TAfcTransport::Stat(const std::string& path, TEntry& entry, std::string& why) {
    if (!Ready(why))
        return TStatus::ReadError;
    std::map<std::string, std::string> info;
    const afc_error_t described = Afc->GetFileInfo(path, info);
    if (described != AFC_E_SUCCESS) {
        Fail(described, why);
        return StatusOf(described, TStatus::ReadError);
    }
    entry = EntryFromAfcInfo(LastSegment(path), info);
    return TStatus::Ok;
}

TStatus TAfcTransport::Read(const std::string& path, uint64_t limit, const TSink& sink,
                            std::string& why) {
    if (!Ready(why))
        return TStatus::ReadError;
    uint64_t handle = 0;
    const afc_error_t opened = Afc->FileOpen(path, AFC_FOPEN_RDONLY, handle);
    if (opened != AFC_E_SUCCESS) {
        Fail(opened, why);
        return StatusOf(opened, TStatus::ReadError);
    }
    std::vector<char> buffer(kChunk);
    TStatus status = TStatus::Ok;
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        const afc_error_t read = Afc->FileRead(handle, buffer.data(), kChunk, got);
        if (read != AFC_E_SUCCESS) {
            Fail(read, why);
            status = TStatus::ReadError;
            break;
        }
        if (got == 0)
            break;
        got = std::min(got, kChunk);
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
    if (Afc)
        Afc->FileClose(handle);
    return status;
}

TStatus TAfcTransport::Write(const std::string& path, const TSource& source, std::string& why) {
    if (!Ready(why))
        return TStatus::WriteError;
    // Written under a temporary name and renamed over the target, so that a
    // reader on the phone never sees half a file.
    const std::string temp = TempNameIn(ParentPath(path));
    uint64_t handle = 0;
    const afc_error_t opened = Afc->FileOpen(temp, AFC_FOPEN_WRONLY, handle);
    if (opened != AFC_E_SUCCESS) {
        Fail(opened, why);
        return StatusOf(opened, TStatus::WriteError);
    }
    std::vector<char> buffer(kChunk);
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
        uint32_t left = static_cast<uint32_t>(std::min<std::ptrdiff_t>(got, kChunk));
        while (left > 0) {
            uint32_t written = 0;
            error = Afc->FileWrite(handle, data, left, written);
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
    if (Afc) {
        const afc_error_t closed = Afc->FileClose(handle);
        if (status == TStatus::Ok && closed != AFC_E_SUCCESS) {
            error = closed;
            status = TStatus::WriteError;
        }
    }
    if (status == TStatus::Ok) {
        error = Afc->Rename(temp, path);
        if (error != AFC_E_SUCCESS)
            status = TStatus::WriteError;
    }
    if (status != TStatus::Ok) {
        if (status == TStatus::WriteError)
            Fail(error, why);
        if (Afc)
            Afc->Remove(temp);
    }
    return status;
}

TStatus TAfcTransport::Remove(const std::string& path, std::string& why) {
    if (!Ready(why))
        return TStatus::WriteError;
    const afc_error_t removed = Afc->Remove(path);
    if (removed != AFC_E_SUCCESS) {
        Fail(removed, why);
        return StatusOf(removed, TStatus::WriteError);
    }
    return TStatus::Ok;
}

} // namespace tpot
