// The seven entry points of the file-system plugin interface. Everything else
// in this library is hidden; a version script keeps the export list exact.

#include "device/WfxApi.h"

#define TPOT_EXPORT extern "C" __attribute__((visibility("default")))

TPOT_EXPORT int FsInit(int, tProgressProc, tLogProc, tRequestProc) {
    return 1;
}

TPOT_EXPORT HANDLE FsFindFirst(char*, WIN32_FIND_DATAA*) {
    return INVALID_HANDLE_VALUE;
}

TPOT_EXPORT BOOL FsFindNext(HANDLE, WIN32_FIND_DATAA*) {
    return 0;
}

TPOT_EXPORT int FsFindClose(HANDLE) {
    return 0;
}

TPOT_EXPORT int FsGetFile(char*, char*, int, RemoteInfoStruct*) {
    return FS_FILE_NOTSUPPORTED;
}

TPOT_EXPORT int FsPutFile(char*, char*, int) {
    return FS_FILE_NOTSUPPORTED;
}

TPOT_EXPORT BOOL FsDeleteFile(char*) {
    return 0;
}
