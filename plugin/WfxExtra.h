#pragma once

// The parts of the file-system plugin interface beyond the seven entry points
// the program binds: what a file manager passes to the optional ones.

#include "common/WfxApi.h"

#include <cstdint>

namespace Tpot {

// Answers of FsExecuteFile.
inline constexpr int ExecOk = 0;
inline constexpr int ExecError = 1;
inline constexpr int ExecYourself = -1; // the host fetches the file and opens it itself
inline constexpr int ExecSymlink = -2;  // the host goes to the path put into RemoteName

// Attribute bits of a find record beyond the program's.
inline constexpr DWORD AttributeReparsePoint = 0x00000400; // a link, here to a folder
inline constexpr DWORD AttributeUnixMode = 0x80000000;     // dwReserved0 holds st_mode

// What FsSetDefaultParams passes.
struct TDefaultParams {
    int32_t Size;
    DWORD PluginInterfaceVersionLow;
    DWORD PluginInterfaceVersionHi;
    char DefaultIniName[MAX_PATH];
};

} // namespace Tpot
