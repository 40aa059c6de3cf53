#include "device/Phone.h"

#include "base/LongOperation.h"
#include "base/Utf8Text.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <utility>

namespace {

// The plugin gets writable buffers, as the interface's types say, and never
// one shorter than MAX_PATH: plugins written for the interface may assume it.
std::vector<char> Argument(std::string_view text) {
    std::vector<char> buffer(std::max<std::size_t>(text.size() + 1, MAX_PATH), '\0');
    std::copy(text.begin(), text.end(), buffer.begin());
    return buffer;
}

std::vector<char> Argument(const QString& localPath) {
    const QByteArray bytes = QFile::encodeName(localPath);
    return Argument(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

// The record's name up to its first NUL, never past the end of the field.
std::string NameOf(const WIN32_FIND_DATAA& data) {
    return std::string(data.cFileName, ::strnlen(data.cFileName, sizeof data.cFileName));
}

// Raised by Interrupt, cleared when an operation starts. One phone per
// program: the plugin's progress procedure has no room for more.
std::atomic<bool> gInterrupted{false};

// The plugin asks this between the blocks of a copy; nonzero stops it.
int StopWhenInterrupted(int, char*, char*, int) {
    return gInterrupted.load(std::memory_order_relaxed) ? 1 : 0;
}

// The interface's message type for an error the user should be told of.
constexpr int LogImportantError = 6;
// A log line longer than this is cut: it only becomes a reason to show.
constexpr std::size_t MaxLogLine = 4096;

// The error the plugin last logged during the operation in progress, so that
// a failure can say what the plugin said. Guarded: a plugin may log from a
// thread of its own.
std::mutex gLogMutex;
std::string gLoggedError;

void KeepLoggedError(int, int type, char* text) {
    if (type != LogImportantError || !text)
        return;
    std::lock_guard lock(gLogMutex);
    gLoggedError.assign(text, ::strnlen(text, MaxLogLine));
}

QString TakeLoggedError() {
    std::lock_guard lock(gLogMutex);
    return QString::fromUtf8(std::exchange(gLoggedError, {}));
}

bool Init(const TPluginEntries& e) {
    TakeLoggedError(); // what an earlier operation left is not this one's
    return e.FsInit(0, &StopWhenInterrupted, &KeepLoggedError, nullptr) == 0;
}

const QString NotConnectedText = QStringLiteral("телефон не подключён");

// Why the plugin refused: what it logged of the failure, else Plain.
TOutcome Refused(const QString& plain) {
    const QString said = TakeLoggedError();
    return TOutcome::Failure(said.isEmpty() ? plain : said);
}

QString Shown(const std::string& path) {
    return Utf8Text::Decode(path);
}

} // namespace

TPhone::~TPhone() {
    Release();
}

void TPhone::Bind(const QString& workDir, std::string_view carried) {
    workDir_ = workDir;
    if (!workDir_.endsWith(QLatin1Char('/')))
        workDir_ += QLatin1Char('/');
    const QString path = workDir_ + TPluginBinding::FileName();
    TPluginBinding::WriteIfMissing(path, carried);
    std::lock_guard lock(mutex_);
    binding_.Bind(path);
}

void TPhone::Interrupt() {
    gInterrupted = true;
}

void TPhone::Release() {
    std::lock_guard lock(mutex_);
    binding_.Release();
}

bool TPhone::Loaded() const {
    std::lock_guard lock(mutex_);
    return binding_.Loaded();
}

TPluginEntries TPhone::Entries() const {
    std::lock_guard lock(mutex_);
    return binding_.Entries();
}

// Every operation's one rule for what a failure says: "телефон не подключён"
// without a plugin that has the entry points Usable asks for, the same with
// the plugin's own words when FsInit fails, else Call's outcome, in which a
// refusal carries what the plugin logged of it (Refused).
TOutcome TPhone::Operate(const std::function<bool(const TPluginEntries&)>& usable,
                         const std::function<TOutcome(const TPluginEntries&)>& call) {
    gInterrupted = false;
    return LongOperation::RunOffThread([&] {
        std::lock_guard lock(mutex_);
        const TPluginEntries& e = binding_.Entries();
        if (!e.FsInit || !usable(e))
            return TOutcome::Failure(NotConnectedText);
        if (!Init(e)) {
            const QString said = TakeLoggedError();
            return TOutcome::Failure(NotConnectedText + (said.isEmpty()
                                                             ? QString()
                                                             : QStringLiteral(" (%1)").arg(said)));
        }
        return call(e);
    });
}

TOutcome TPhone::iPhone_ls(const std::string& path, std::vector<std::string>& list) {
    // The names are gathered by the worker and handed over here, so that the
    // caller's list is touched on the caller's thread only.
    bool entered = false; // the plugin has every entry point the listing needs
    std::vector<std::string> names;
    const TOutcome outcome = Operate(
        [&](const TPluginEntries& e) {
            return entered = e.FsFindFirst && e.FsFindNext && e.FsFindClose;
        },
        [&](const TPluginEntries& e) {
            std::vector<char> folder = Argument(path);
            WIN32_FIND_DATAA data{};
            HANDLE handle = e.FsFindFirst(folder.data(), &data);
            if (handle == INVALID_HANDLE_VALUE)
                return Refused(QStringLiteral("телефон не выдал список папки %1").arg(Shown(path)));
            names.push_back(NameOf(data));
            while (names.size() < MaxListing) {
                data = WIN32_FIND_DATAA{};
                if (!e.FsFindNext(handle, &data))
                    break;
                names.push_back(NameOf(data));
            }
            e.FsFindClose(handle);
            return TOutcome::Success();
        });
    if (entered)
        list = std::move(names);
    return outcome;
}

TOutcome TPhone::iPhone_get(const std::string& remotePath, const QString& localFile) {
    if (localFile.isEmpty())
        return TOutcome::Failure(QStringLiteral("не указан файл для копии с телефона"));
    return Operate(
        [](const TPluginEntries& e) { return e.FsGetFile != nullptr; },
        [&](const TPluginEntries& e) {
            std::vector<char> remote = Argument(remotePath);
            std::vector<char> local = Argument(localFile);
            RemoteInfoStruct info{};
            return e.FsGetFile(remote.data(), local.data(), FS_COPYFLAGS_OVERWRITE, &info) ==
                           FS_FILE_OK
                       ? TOutcome::Success()
                       : Refused(QStringLiteral("телефон не выдал файл %1").arg(Shown(remotePath)));
        });
}

TOutcome TPhone::iPhone_put(const QString& localFile, const std::string& remotePath) {
    if (localFile.isEmpty())
        return TOutcome::Failure(QStringLiteral("не указан файл для отправки на телефон"));
    return Operate(
        [](const TPluginEntries& e) { return e.FsPutFile != nullptr; },
        [&](const TPluginEntries& e) {
            std::vector<char> local = Argument(localFile);
            std::vector<char> remote = Argument(remotePath);
            return e.FsPutFile(local.data(), remote.data(), FS_COPYFLAGS_OVERWRITE) == FS_FILE_OK
                       ? TOutcome::Success()
                       : Refused(
                             QStringLiteral("телефон не принял файл %1").arg(Shown(remotePath)));
        });
}

TOutcome TPhone::iPhone_del(const std::string& remotePath) {
    return Operate(
        [](const TPluginEntries& e) { return e.FsDeleteFile != nullptr; },
        [&](const TPluginEntries& e) {
            std::vector<char> remote = Argument(remotePath);
            return e.FsDeleteFile(remote.data()) != 0
                       ? TOutcome::Success()
                       : Refused(
                             QStringLiteral("телефон не удалил файл %1").arg(Shown(remotePath)));
        });
}
