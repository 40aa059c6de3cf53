#include "device/PluginBinding.h"

#include "base/SafeFiles.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <dlfcn.h>
#include <sys/stat.h>

namespace {

// dlsym hands back an object pointer; the entry's type is a function pointer.
template <typename Fn> void Lookup(void* handle, const char* name, Fn& entry) {
    void* symbol = ::dlsym(handle, name);
    static_assert(sizeof(Fn) == sizeof(symbol));
    std::memcpy(&entry, &symbol, sizeof entry);
}

} // namespace

bool TPluginBinding::WriteIfMissing(const QString& path, std::string_view bytes) {
    if (bytes.empty())
        return false; // this build carries no plugin
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 || errno != ENOENT)
        return false; // something is there (or cannot be told): leave it alone
    return SafeFiles::ReplaceAtomically(path, bytes);
}

void TPluginBinding::Bind(const QString& path) {
    Release();
    // RTLD_NOW: a library whose own dependencies cannot be resolved fails here
    // rather than in the middle of a copy.
    handle_ = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        return;
    Lookup(handle_, "FsInit", entries_.FsInit);
    Lookup(handle_, "FsFindFirst", entries_.FsFindFirst);
    Lookup(handle_, "FsFindNext", entries_.FsFindNext);
    Lookup(handle_, "FsFindClose", entries_.FsFindClose);
    Lookup(handle_, "FsGetFile", entries_.FsGetFile);
    Lookup(handle_, "FsPutFile", entries_.FsPutFile);
    Lookup(handle_, "FsDeleteFile", entries_.FsDeleteFile);
}

void TPluginBinding::Release() {
    entries_ = TPluginEntries{};
    if (handle_) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
}
