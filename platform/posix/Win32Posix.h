// The Win32 and C-runtime subset for POSIX systems.
//
// Names, signatures, flag values and error codes are those of Windows; the
// implementation in this folder maps them onto POSIX. Paths are wide
// (UTF-16), backslash-separated texts inside the program; the layer turns
// them into "/"-separated UTF-8 at the system boundary and back.
//
// Paths: "\" and "/" both separate levels. Levels are normalised as Win32
// does: "." dropped, ".." resolved without looking at the disk, the last
// name stripped of trailing dots and spaces, other names of one trailing
// dot. POSIX has no drives: a path with a drive ("C:\x") names a drive that
// does not exist (ERROR_PATH_NOT_FOUND); UNC and device paths give
// ERROR_BAD_NETPATH ("\\?\" is dropped); characters Windows forbids in
// names (0x01-0x1F < > : " | ? *) and lone surrogates give
// ERROR_INVALID_NAME, as does opening "file\" (a file named as a folder;
// attribute look-ups say ERROR_PATH_NOT_FOUND). Names compare with the
// host's case sensitivity; Windows ignores case.
//
// Provided behaviour and known differences from Windows:
//
// | Function                  | Behaviour here                                                  |
// |---------------------------|-----------------------------------------------------------------|
// | _wopen/_read/_write/      | descriptors of the host, never 0-2; Windows flag values (_O_*,  |
// |   _lseek/_close           | _S_*) translated; _O_BINARY/_O_TEXT/_O_SEQUENTIAL/_O_RANDOM/    |
// |                           | _O_NOINHERIT ignored (no text-mode translation; descriptors are |
// |                           | never inherited); _O_TEMPORARY refused (EINVAL). _S_IWRITE      |
// |                           | absent from pmode makes a new file read-only (0444). An existing|
// |                           | read-only file refuses write access and _O_TRUNC, a folder any  |
// |                           | open (EACCES), even for the superuser. Failures set errno as    |
// |                           | Windows' C runtime does; failed opens also the last error.      |
// |                           | _lseek is 32-bit: a target beyond 2^31 - 1 or before 0 fails    |
// |                           | with EINVAL and leaves the file pointer (msvcrt.dll wraps).     |
// |                           | _write finishes short host writes; partial only before an error.|
// |                           | Beyond Windows: opens never block (a FIFO opens at once); an    |
// |                           | open that may write neither follows a symbolic link at the last |
// |                           | level (ELOOP, ERROR_CANT_RESOLVE_FILENAME) nor opens anything   |
// |                           | but a regular file (EACCES, ERROR_ACCESS_DENIED)                |
// | _get_osfhandle            | a HANDLE for SetFileTime/GetFileType on the descriptor, valid   |
// |                           | until _close; never closed by CloseHandle                       |
// | GetFileAttributesW        | a symbolic link is a reparse point: FILE_ATTRIBUTE_REPARSE_POINT|
// |                           | (alone when it leads nowhere), the other bits from its target;  |
// |                           | directory bit from the file type; read-only when the owner has  |
// |                           | no write permission (files only); hidden/system/archive from the|
// |                           | xattr "user.DOSATTRIB" (text "0x<hex>", the Samba/Wine form);   |
// |                           | a file without it reports archive, as a new Windows file does;  |
// |                           | FILE_ATTRIBUTE_NORMAL when no other bit is set                  |
// | SetFileAttributesW        | read-only clears/sets the write permission bits (ignored for    |
// |                           | folders, as under Wine); hidden, system and archive go to       |
// |                           | "user.DOSATTRIB" where the file system allows it, silently      |
// |                           | dropped where it doesn't; on a symbolic link nothing changes    |
// |                           | (TRUE): never anything through a link                           |
// | GetFileAttributesExW      | attributes as GetFileAttributesW, size and last-write/access    |
// |                           | times (of a link's target: Windows gives the link's own); the   |
// |                           | creation time reported is the last-write time                   |
// | CreateDirectoryW          | mkdir 0777 (umask applies); an existing file or folder gives    |
// |                           | ERROR_ALREADY_EXISTS, a missing or non-folder parent            |
// |                           | ERROR_PATH_NOT_FOUND                                            |
// | RemoveDirectoryW          | rmdir; ERROR_DIR_NOT_EMPTY, ERROR_DIRECTORY for a file          |
// | DeleteFileW               | unlink; folders and read-only files give ERROR_ACCESS_DENIED    |
// | CreateFileW/CloseHandle/  | a handle wraps a descriptor; dispositions as Windows (the       |
// |   SetFileTime             | "always" ones report ERROR_ALREADY_EXISTS for an existing file);|
// |                           | share modes not enforced; FILE_FLAG_BACKUP_SEMANTICS opens      |
// |                           | folders; access without GENERIC_READ, GENERIC_WRITE or          |
// |                           | FILE_WRITE_ATTRIBUTES opens any kind of file without its data,  |
// |                           | and with FILE_FLAG_OPEN_REPARSE_POINT a link itself.            |
// |                           | GetFileType: FILE_TYPE_DISK for files, folders and links,       |
// |                           | FILE_TYPE_PIPE for FIFOs and sockets, FILE_TYPE_CHAR for        |
// |                           | devices. GetFinalPathNameByHandleW: the kernel's path of the    |
// |                           | open file (no "\\?\" prefix; flags ignored).                    |
// |                           | SetFileTime needs GENERIC_WRITE or                              |
// |                           | FILE_WRITE_ATTRIBUTES, sets last-access and last-write times    |
// |                           | (0 leaves one alone) and drops the creation time (POSIX keeps   |
// |                           | none). CloseHandle(INVALID_HANDLE_VALUE) succeeds (the process  |
// |                           | pseudo handle); stale handles give ERROR_INVALID_HANDLE         |
// | FindFirstFileW/           | "*" and "?" in the last level, ASCII case ignored, "*.*" = "*"; |
// |   FindNextFileW/FindClose | "." and ".." are listed; no 8.3 names                           |
// | DosDateTimeToFileTime,    | as Windows, including its rejections (day, month, hour, minute, |
// |   FileTimeToDosDateTime,  | second out of range; February 29 of a common year); FILETIME to |
// |   LocalFileTimeToFileTime,| DOS only for 1980-2107. Local time follows the process time     |
// |   FileTimeToLocalFileTime | zone (TZ) with the offset in effect now, as Windows applies it  |
// | MultiByteToWideChar       | code pages 65001 (UTF-8) and 1252 (CP_ACP means 1252), flags 0  |
// |                           | or MB_ERR_INVALID_CHARS; invalid UTF-8 becomes U+FFFD, one per  |
// |                           | rejected prefix, as Windows (Wine) counts them                  |
// | WideCharToMultiByte       | code page 65001, flags 0 or WC_ERR_INVALID_CHARS; lone          |
// |                           | surrogates become U+FFFD; default-character arguments refused   |
// | TlsAlloc/TlsFree/         | per-thread slots, TLS_MINIMUM_AVAILABLE (64) of them; a new     |
// |   TlsGetValue/TlsSetValue | slot reads as null in every thread                              |
// | GetCurrentThreadId        | the kernel's thread id                                          |
// | GetTickCount              | milliseconds of the monotonic clock, wrapping at 2^32           |
// | LoadLibraryW/LoadLibraryExW| "X.dll" (any case; "X" alone too) maps to "libx.so", searched  |
// |                           | beside the running executable, then in its "../lib/selfex" and  |
// |                           | "../lib"; SELFEX_LIBRARY_PATH (a folder), when set and not      |
// |                           | empty, replaces them. Names with a folder part are not found.   |
// |                           | Missing: ERROR_MOD_NOT_FOUND; found but not loadable:           |
// |                           | ERROR_BAD_EXE_FORMAT                                            |
// | GetProcAddress/FreeLibrary| dlsym/dlclose; a module never loaded gives an error             |
// | GetModuleFileNameW        | the running executable (module NULL) or a loaded library; a     |
// |                           | small buffer gets a terminated prefix (Vista and later)         |
// | GetCurrentDirectoryW      | getcwd, "/" turned into "\"                                     |
// | GetTempPathW              | TMPDIR, else /tmp, ending in "\"                                |
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fdi/FdiApi.h"

#define WIDE_(s) u##s
#define WIDE(s) WIDE_(s)

typedef char16_t WCHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef char CHAR;
typedef const char *LPCSTR;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef int32_t BOOL;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef void *HANDLE;
typedef struct SelfexModule *HMODULE;
typedef HMODULE HINSTANCE;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t (*FARPROC)();

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260

// A point in time: 100-nanosecond intervals since 1601-01-01.
typedef struct {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;

typedef struct {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef enum {
    GetFileExInfoStandard
} GET_FILEEX_INFO_LEVELS;

typedef struct {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
} WIN32_FILE_ATTRIBUTE_DATA;

#define TLS_MINIMUM_AVAILABLE 64

typedef struct {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)
#define TLS_OUT_OF_INDEXES ((DWORD)0xFFFFFFFF)

// File attributes
#define FILE_ATTRIBUTE_READONLY 0x01
#define FILE_ATTRIBUTE_HIDDEN 0x02
#define FILE_ATTRIBUTE_SYSTEM 0x04
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400

// CreateFileW
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_READ_ATTRIBUTES 0x80
#define FILE_WRITE_ATTRIBUTES 0x100
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000

// GetFileType
#define FILE_TYPE_UNKNOWN 0
#define FILE_TYPE_DISK 1
#define FILE_TYPE_CHAR 2
#define FILE_TYPE_PIPE 3

// Code pages and conversion flags
#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x8
#define WC_ERR_INVALID_CHARS 0x80

// LoadLibraryExW
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x8
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800

// Error codes (GetLastError)
#define ERROR_SUCCESS 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_OUTOFMEMORY 14
#define ERROR_INVALID_DRIVE 15
#define ERROR_NOT_SAME_DEVICE 17
#define ERROR_NO_MORE_FILES 18
#define ERROR_WRITE_PROTECT 19
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_HANDLE_EOF 38
#define ERROR_NOT_SUPPORTED 50
#define ERROR_BAD_NETPATH 53
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISK_FULL 112
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_PROC_NOT_FOUND 127
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_BAD_PATHNAME 161
#define ERROR_ALREADY_EXISTS 183
#define ERROR_BAD_EXE_FORMAT 193
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_BAD_FILE_TYPE 222
#define ERROR_NO_MORE_ITEMS 259
#define ERROR_DIRECTORY 267
#define ERROR_INVALID_FLAGS 1004
#define ERROR_NO_UNICODE_TRANSLATION 1113
#define ERROR_CANT_RESOLVE_FILENAME 1921

// C runtime descriptor I/O, with the Windows flag values.
#define _O_RDONLY 0x0000
#define _O_WRONLY 0x0001
#define _O_RDWR 0x0002
#define _O_APPEND 0x0008
#define _O_RANDOM 0x0010
#define _O_SEQUENTIAL 0x0020
#define _O_TEMPORARY 0x0040
#define _O_NOINHERIT 0x0080
#define _O_CREAT 0x0100
#define _O_TRUNC 0x0200
#define _O_EXCL 0x0400
#define _O_TEXT 0x4000
#define _O_BINARY 0x8000
#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080

// Opens a file; returns a descriptor (never 0, 1 or 2 while the standard
// streams are open) or -1 with errno set.
int _wopen(const WCHAR *path, int oflag, int pmode);
// Reads up to count bytes: the count read, 0 at end of file, -1 on error.
int _read(int fd, void *buffer, unsigned int count);
// Writes count bytes: the count written, -1 on error.
int _write(int fd, const void *buffer, unsigned int count);
// Moves the file pointer (SEEK_SET, SEEK_CUR, SEEK_END): the new offset, or
// -1 on error, including a result that does not fit 32 bits.
int32_t _lseek(int fd, int32_t offset, int origin);
// Closes a descriptor: 0, or -1 on error.
int _close(int fd);
// The HANDLE of a descriptor, as intptr_t; -1 (errno EBADF) for none.
intptr_t _get_osfhandle(int fd);

DWORD GetLastError(void);
void SetLastError(DWORD error);

DWORD GetFileAttributesW(LPCWSTR path);
BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes);
BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info);
BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryW(LPCWSTR path);
BOOL DeleteFileW(LPCWSTR path);

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW *data);
BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW *data);
BOOL FindClose(HANDLE search);

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
BOOL SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *lastAccess, const FILETIME *lastWrite);
DWORD GetFileType(HANDLE file);
DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR buffer, DWORD size, DWORD flags);

BOOL DosDateTimeToFileTime(WORD dosDate, WORD dosTime, LPFILETIME fileTime);
BOOL FileTimeToDosDateTime(const FILETIME *fileTime, WORD *dosDate, WORD *dosTime);
BOOL LocalFileTimeToFileTime(const FILETIME *localTime, LPFILETIME utcTime);
BOOL FileTimeToLocalFileTime(const FILETIME *utcTime, LPFILETIME localTime);

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR target, int targetLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, char *target, int targetLength,
                        LPCSTR defaultChar, BOOL *usedDefault);

DWORD TlsAlloc(void);
BOOL TlsFree(DWORD index);
LPVOID TlsGetValue(DWORD index);
BOOL TlsSetValue(DWORD index, LPVOID value);
DWORD GetCurrentThreadId(void);
DWORD GetTickCount(void);

HMODULE LoadLibraryW(LPCWSTR name);
HMODULE LoadLibraryExW(LPCWSTR name, HANDLE reserved, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer);
DWORD GetTempPathW(DWORD size, LPWSTR buffer);
