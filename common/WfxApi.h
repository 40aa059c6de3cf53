/* The binary interface of a phone file-system plugin: the seven entry points
 * the program binds by name, with their types and constants. Plain C so that
 * both the program and a plugin (ours, or anyone's) can include it. */
#ifndef ORVIA_WFX_API_H
#define ORVIA_WFX_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef void* HANDLE;
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

typedef struct {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

#ifndef MAX_PATH
#define MAX_PATH 260
#endif

typedef struct {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
} WIN32_FIND_DATAA;

typedef struct {
    int32_t SizeLow, SizeHigh;
    FILETIME LastWriteTime;
    int32_t Attr;
} RemoteInfoStruct;

typedef int (*tProgressProc)(int PluginNr, char* SourceName, char* TargetName, int PercentDone);
typedef void (*tLogProc)(int PluginNr, int MsgType, char* LogString);
typedef BOOL (*tRequestProc)(int PluginNr, int RequestType, char* CustomTitle, char* CustomText,
                             char* ReturnedText, int maxlen);

#define FS_FILE_OK 0
#define FS_FILE_EXISTS 1
#define FS_FILE_NOTFOUND 2
#define FS_FILE_READERROR 3
#define FS_FILE_WRITEERROR 4
#define FS_FILE_USERABORT 5
#define FS_FILE_NOTSUPPORTED 6

#define FS_COPYFLAGS_OVERWRITE 1

/* Windows file attribute bits that a listing reports. */
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080

/* The entry points, as function pointer types for the loader. */
typedef int (*tFsInit)(int PluginNr, tProgressProc, tLogProc, tRequestProc);
typedef HANDLE (*tFsFindFirst)(char* Path, WIN32_FIND_DATAA* FindData);
typedef BOOL (*tFsFindNext)(HANDLE Hdl, WIN32_FIND_DATAA* FindData);
typedef int (*tFsFindClose)(HANDLE Hdl);
typedef int (*tFsGetFile)(char* RemoteName, char* LocalName, int CopyFlags, RemoteInfoStruct* ri);
typedef int (*tFsPutFile)(char* LocalName, char* RemoteName, int CopyFlags);
typedef BOOL (*tFsDeleteFile)(char* RemoteName);

#ifdef __cplusplus
}
#endif

#endif
