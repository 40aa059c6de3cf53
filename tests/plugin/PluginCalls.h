#pragma once

// The entry points' logic called as a host calls it, for the tests of every
// transport.

#include "plugin/Plugin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// What Run writes to stderr (the plugin's error lines).
template <typename TRun> std::string StderrOf(const TRun& run) {
    testing::internal::CaptureStderr();
    run();
    return testing::internal::GetCapturedStderr();
}

// The calls below take the plugin's logic (Tpot::TPlugin) or anything with
// its FindFirst / FindNext / FindClose / Execute, such as a loaded plugin file.

// The names a listing gives, sorted, or {"<invalid>"} for the invalid handle.
template <typename TCalls>
std::vector<std::string> ListNames(TCalls& plugin, const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE handle = plugin.FindFirst(path.c_str(), &data);
    if (handle == INVALID_HANDLE_VALUE)
        return {"<invalid>"};
    std::vector<std::string> names;
    do
        names.push_back(data.cFileName);
    while (plugin.FindNext(handle, &data));
    plugin.FindClose(handle);
    std::sort(names.begin(), names.end());
    return names;
}

// The attributes (and size) the listing of Folder gives Name; all bits set
// when it gives none.
template <typename TCalls>
DWORD AttributesOf(TCalls& plugin, const std::string& folder, const std::string& name,
                   uint32_t* size = nullptr) {
    WIN32_FIND_DATAA data;
    HANDLE handle = plugin.FindFirst(folder.c_str(), &data);
    DWORD found = 0xffffffff;
    if (handle == INVALID_HANDLE_VALUE)
        return found;
    do
        if (data.cFileName == name) {
            found = data.dwFileAttributes;
            if (size)
                *size = data.nFileSizeLow;
        }
    while (plugin.FindNext(handle, &data));
    plugin.FindClose(handle);
    return found;
}

// The answer of "open" on Path, and the path it leaves in the buffer.
template <typename TCalls>
int OpenPath(TCalls& plugin, const std::string& path, std::string& target) {
    char buffer[MAX_PATH] = {};
    path.copy(buffer, sizeof buffer - 1);
    const int answer = plugin.Execute(buffer, "open");
    target = buffer;
    return answer;
}

inline FILETIME FileTime(int64_t unixSeconds) {
    const uint64_t ticks = static_cast<uint64_t>(unixSeconds + 11644473600) * 10000000u;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}
