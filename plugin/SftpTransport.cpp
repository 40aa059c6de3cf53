// The SFTP transport's file operations, each run on a ready link and, where
// nothing has changed hands yet, once more after the link broke.

#include "plugin/SftpTransport.h"

#include "plugin/PhonePath.h"
#include "plugin/SftpChannel.h"

#include <random>

namespace Tpot {

namespace {

// A name for a file of ours in a phone folder that nobody takes for one of
// its own files: hidden, and ending in neither ".deb" nor an index name.
std::string TemporaryName(const std::string& folder, const char* ending) {
    static std::mt19937_64 random{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string name = ".tpot-";
    uint64_t bits = random();
    for (int i = 0; i < 16; ++i, bits >>= 4)
        name += digits[bits & 15];
    return JoinPhonePath(folder, "/" + name + ending);
}

TEntry EntryOf(const std::string& name, const TSftpAttributes& attributes) {
    TEntry entry;
    entry.Name = name;
    entry.IsFolder = attributes.IsFolder();
    entry.Size = entry.IsFolder ? 0 : attributes.Size;
    entry.MTime = attributes.MTime;
    entry.IsLink = attributes.IsLink();
    entry.Mode = attributes.HasPermissions ? attributes.Permissions & 07777 : 0;
    return entry;
}

} // namespace

template <typename TOp, typename TCanRetry>
TSftpResult TSftpTransport::Run(const TOp& op, const TCanRetry& canRetry) {
    for (int attempt = 0;; ++attempt) {
        std::string why;
        if (!Connect(why))
            return {TSftpResult::Broken, SftpFailure, why};
        TSftpResult result = op();
        if (result.Kind != TSftpResult::Broken && !sftp_->IsBroken())
            return result;
        Drop();
        if (attempt > 0 || !canRetry())
            return result;
    }
}

TStatus TSftpTransport::Outcome(const TSftpResult& result, TStatus refused, std::string& why) {
    switch (result.Kind) {
    case TSftpResult::Ok:
        return TStatus::Ok;
    case TSftpResult::Refused:
        why = result.Message;
        return result.Code == SftpNoSuchFile ? TStatus::NotFound : refused;
    case TSftpResult::Broken:
        break;
    }
    why = "the link to " + Where() + " failed: " + result.Message;
    return refused;
}

TStatus TSftpTransport::List(const std::string& path, std::vector<TEntry>& entries,
                             std::string& why) {
    const TSftpResult result = Run(
        [&] {
            TSftpResult listed = sftp_->List(path, entries);
            // A link is described by what it leads to, when that is there.
            const std::string folder = path == "/" ? std::string() : path;
            for (TEntry& entry : entries) {
                TSftpAttributes target;
                if (!listed.IsOk() || !entry.IsLink || !IsPlainFileName(entry.Name))
                    continue;
                const TSftpResult followed = sftp_->Stat(folder + "/" + entry.Name, target, true);
                if (followed.Kind == TSftpResult::Broken)
                    return followed;
                if (followed.IsOk()) {
                    entry = EntryOf(entry.Name, target);
                    entry.IsLink = true;
                }
            }
            return listed;
        },
        [] { return true; });
    if (!result.IsOk())
        entries.clear();
    return Outcome(result, TStatus::ReadError, why);
}

TStatus TSftpTransport::Stat(const std::string& path, TEntry& entry, std::string& why) {
    TSftpAttributes attributes;
    TSftpAttributes target;
    bool followed = false;
    const TSftpResult result = Run(
        [&] {
            TSftpResult described = sftp_->Stat(path, attributes);
            if (described.IsOk() && attributes.IsLink()) {
                const TSftpResult led = sftp_->Stat(path, target, true);
                if (led.Kind == TSftpResult::Broken)
                    return led;
                followed = led.IsOk();
            }
            return described;
        },
        [] { return true; });
    entry = EntryOf(LastSegment(path), followed ? target : attributes);
    entry.IsLink = attributes.IsLink();
    return Outcome(result, TStatus::ReadError, why);
}

TStatus TSftpTransport::Read(const std::string& path, uint64_t limit, const TSink& sink,
                             std::string& why) {
    bool delivered = false;
    bool stopped = false;
    const TSink counting = [&](const char* data, std::size_t size) {
        delivered = true;
        return sink(data, size);
    };
    const TSftpResult result = Run(
        [&] {
            std::string handle;
            TSftpResult opened = sftp_->Open(path, SftpRead, 0, handle);
            if (!opened.IsOk())
                return opened;
            TSftpResult read = sftp_->Read(handle, limit, counting, stopped);
            if (read.Kind == TSftpResult::Broken)
                return read;
            TSftpResult closed = sftp_->Close(handle);
            return read.IsOk() ? closed : read;
        },
        [&] { return !delivered; });
    if (stopped && result.Kind != TSftpResult::Broken) {
        why = "stopped";
        return TStatus::Aborted;
    }
    return Outcome(result, TStatus::ReadError, why);
}

TSftpResult TSftpTransport::Replace(const std::string& temporary, const std::string& target) {
    if (sftp_->HasAtomicRename()) {
        // A server may offer the extension and still refuse it (OpenSSH's
        // server can be told to): then the way below is tried.
        TSftpResult renamed = sftp_->RenameReplacing(temporary, target);
        if (renamed.Kind != TSftpResult::Refused)
            return renamed;
    }
    // Without OpenSSH's posix-rename extension a plain SFTP rename refuses to
    // replace an existing file. Then the old file is first moved aside under
    // a second temporary name, the new one put in its place, and only then
    // the old one removed; if the new one cannot take its place, the old one
    // goes back. A reader may find no file for that moment, never a partial one.
    TSftpResult renamed = sftp_->Rename(temporary, target);
    if (renamed.Kind != TSftpResult::Refused)
        return renamed;
    const std::string aside = TemporaryName(ParentPath(target), ".old");
    if (!sftp_->Rename(target, aside).IsOk())
        return renamed;
    renamed = sftp_->Rename(temporary, target);
    if (!renamed.IsOk()) {
        if (renamed.Kind != TSftpResult::Broken)
            sftp_->Rename(aside, target);
        return renamed;
    }
    sftp_->Remove(aside);
    return renamed;
}

TStatus TSftpTransport::Write(const std::string& path, const TEntry& like, const TSource& source,
                              std::string& why) {
    const std::string folder = ParentPath(path);
    if (LastSegment(path).empty()) {
        why = "the root is not a file";
        return TStatus::WriteError;
    }
    bool started = false;
    bool stopped = false;
    const TSource counting = [&](char* buffer, std::size_t capacity) {
        started = true;
        return source(buffer, capacity);
    };
    std::string temporary;
    const TSftpResult result = Run(
        [&]() -> TSftpResult {
            // The source's permissions, else the old file's.
            uint32_t mode = like.Mode != 0 ? like.Mode & 0777 : 0644;
            TSftpAttributes old;
            if (TSftpResult there = sftp_->Stat(path, old); there.Kind == TSftpResult::Broken)
                return there;
            else if (like.Mode == 0 && there.IsOk() && old.HasPermissions && old.IsRegular())
                mode = old.Permissions & 07777;
            temporary = TemporaryName(folder, ".part");
            std::string handle;
            TSftpResult opened = sftp_->Open(
                temporary, SftpWrite | SftpCreate | SftpTruncate | SftpExclusive, mode, handle);
            if (!opened.IsOk())
                return opened;
            TSftpResult written = sftp_->Write(handle, counting, stopped);
            if (written.IsOk() && !stopped) {
                // Exactly these permissions (the server's umask narrowed them),
                // and the source's time.
                TSftpAttributes kept;
                kept.HasPermissions = true;
                kept.Permissions = mode;
                kept.HasMTime = like.MTime > 0 && like.MTime <= UINT32_MAX;
                kept.MTime = kept.ATime = static_cast<uint32_t>(like.MTime);
                // A server that cannot set them still gets the file.
                if (TSftpResult set = sftp_->SetAttributes(handle, true, kept);
                    set.Kind == TSftpResult::Broken)
                    written = set;
            }
            if (written.IsOk() && !stopped)
                written = sftp_->Sync(handle);
            if (written.Kind != TSftpResult::Broken) {
                TSftpResult closed = sftp_->Close(handle);
                if (written.IsOk())
                    written = closed;
            }
            if (written.IsOk() && !stopped)
                written = Replace(temporary, path);
            if (written.Kind == TSftpResult::Broken) {
                leftBehind_.push_back(temporary);
            } else if (!written.IsOk() || stopped) {
                // The target is as it was; the partial copy goes.
                sftp_->Remove(temporary);
            }
            return written;
        },
        [&] { return !started; });
    if (stopped && result.Kind != TSftpResult::Broken) {
        why = "stopped";
        return TStatus::Aborted;
    }
    if (result.Kind == TSftpResult::Refused && result.Code == SftpNoSuchFile) {
        why = "the folder " + folder + " does not exist: " + result.Message;
        return TStatus::NotFound;
    }
    return Outcome(result, TStatus::WriteError, why);
}

TStatus TSftpTransport::Remove(const std::string& path, std::string& why) {
    // Not run again after a broken link: the first request may have been carried out.
    const TSftpResult result = Run([&] { return sftp_->Remove(path); }, [] { return false; });
    return Outcome(result, TStatus::WriteError, why);
}

TStatus TSftpTransport::MakeFolder(const std::string& path, std::string& why) {
    bool exists = false;
    const TSftpResult result = Run(
        [&] {
            TSftpAttributes there;
            TSftpResult described = sftp_->Stat(path, there);
            if (described.Kind == TSftpResult::Broken)
                return described;
            exists = described.IsOk();
            return exists ? described : sftp_->MakeFolder(path);
        },
        [] { return false; });
    if (result.IsOk() && exists)
        return TStatus::Exists;
    return Outcome(result, TStatus::WriteError, why);
}

TStatus TSftpTransport::RemoveFolder(const std::string& path, std::string& why) {
    const TSftpResult result = Run(
        [&] {
            TSftpAttributes there;
            TSftpResult described = sftp_->Stat(path, there);
            if (!described.IsOk())
                return described;
            if (there.IsLink())
                return sftp_->Remove(path); // the link itself, never what it leads to
            if (!there.IsFolder())
                return TSftpResult::Refusal(SftpFailure, "not a folder");
            TSftpResult removed = sftp_->RemoveFolder(path);
            if (removed.Kind == TSftpResult::Refused && removed.Code == SftpFailure)
                removed.Message =
                    "the folder is not empty, or the phone refused: " + removed.Message;
            return removed;
        },
        [] { return false; });
    return Outcome(result, TStatus::WriteError, why);
}

TStatus TSftpTransport::Rename(const std::string& from, const std::string& to, bool replace,
                               std::string& why) {
    bool exists = false;
    const TSftpResult result = Run(
        [&] {
            TSftpAttributes there;
            TSftpResult described = sftp_->Stat(to, there);
            if (described.Kind == TSftpResult::Broken)
                return described;
            exists = described.IsOk() && (!replace || there.IsFolder());
            if (exists)
                return TSftpResult();
            return described.IsOk() ? Replace(from, to) : sftp_->Rename(from, to);
        },
        [] { return false; });
    if (result.IsOk() && exists) {
        why = "something of that name is there";
        return TStatus::Exists;
    }
    return Outcome(result, TStatus::WriteError, why);
}

TStatus TSftpTransport::SetTime(const std::string& path, int64_t mtime, std::string& why) {
    if (mtime < 0 || mtime > UINT32_MAX) {
        why = "SFTP keeps times from 1970 to 2106 only";
        return TStatus::NotSupported;
    }
    const TSftpResult result = Run(
        [&] {
            TSftpAttributes times;
            TSftpResult described = sftp_->Stat(path, times, true);
            if (!described.IsOk())
                return described;
            times.HasPermissions = false; // only the times change
            times.HasMTime = true;
            times.MTime = static_cast<uint32_t>(mtime);
            return sftp_->SetAttributes(path, false, times);
        },
        [] { return true; });
    return Outcome(result, TStatus::WriteError, why);
}

TStatus TSftpTransport::LinkTarget(const std::string& path, std::string& target, std::string& why) {
    const TSftpResult result =
        Run([&] { return sftp_->RealPath(path, target); }, [] { return true; });
    if (result.IsOk() && !NormalisePhonePath(target)) {
        why = "the server gave no full path for the link's target";
        return TStatus::ReadError;
    }
    if (result.IsOk())
        target = *NormalisePhonePath(target);
    return Outcome(result, TStatus::ReadError, why);
}

} // namespace Tpot
