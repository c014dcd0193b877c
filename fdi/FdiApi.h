// The FDI cabinet decompressor interface, as Windows' Cabinet.dll declares it.
//
// Our POSIX library (libcabinet.so, loaded at run time in place of
// Cabinet.dll) exports the four FDI functions below and DllGetVersion with
// C linkage. Types and values follow the Windows SDK's fdi.h with these
// substitutions for the Linux ABI:
//   - every Windows "long" is a 32-bit signed integer (int32_t), so record
//     layouts and the meaning of sizes stay those of Windows;
//   - INT_PTR is intptr_t, ULONG and UINT are 32-bit unsigned;
//   - calling conventions are the platform default;
//   - flag values (open flags, permissions, attribute bits) keep their
//     Windows numbers; the client interprets them, not the host C library.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t FDI_BOOL; // Windows BOOL: TRUE 1, FALSE 0

// Error block filled by the decompressor. erfOper holds an FDIERROR code,
// erfType an optional detail (a platform error or the header version
// found), fError is TRUE after a failure. A success leaves the block alone.
typedef struct {
    int32_t erfOper;
    int32_t erfType;
    FDI_BOOL fError;
} ERF, *PERF;

typedef enum {
    FDIERROR_NONE = 0,
    FDIERROR_CABINET_NOT_FOUND = 1,       // the cabinet could not be opened
    FDIERROR_NOT_A_CABINET = 2,           // too short, or no "MSCF" signature
    FDIERROR_UNKNOWN_CABINET_VERSION = 3, // header version above 1.3
    FDIERROR_CORRUPT_CABINET = 4,         // any logical format error or I/O failure on a cabinet
    FDIERROR_ALLOC_FAIL = 5,              // the alloc callback returned NULL
    FDIERROR_BAD_COMPR_TYPE = 6,          // unknown compression type in a wanted folder
    FDIERROR_MDI_FAIL = 7,                // the codec found bad compressed data
    FDIERROR_TARGET_FILE = 8,             // a write to the target file failed or was short
    FDIERROR_RESERVE_MISMATCH = 9,        // reserve sizes differ inside a set
    FDIERROR_WRONG_CABINET = 10,          // (fdie only) the next cabinet is not the expected one
    FDIERROR_USER_ABORT = 11,             // a notification returned -1
    FDIERROR_EOF = 12                     // a read returned 0 where data was due
} FDIERROR;

// Stored attribute bits beyond the MS-DOS ones.
#define _A_RDONLY 0x01
#define _A_HIDDEN 0x02
#define _A_SYSTEM 0x04
#define _A_ARCH 0x20
#define _A_EXEC 0x40        // run after extraction (ignored by every client we know)
#define _A_NAME_IS_UTF 0x80 // the stored name is UTF-8, not the creator's code page

#define CB_MAX_CHUNK 32768u
#define CB_MAX_DISK 0x7fffffff
#define CB_MAX_FILENAME 256
#define CB_MAX_CABINET_NAME 256
#define CB_MAX_CAB_PATH 256
#define CB_MAX_DISK_NAME 256

#define cpuUNKNOWN (-1)
#define cpu80286 (0)
#define cpu80386 (1)

typedef void *HFDI;

// What FDIIsCabinet reports from a cabinet header.
typedef struct {
    int32_t cbCabinet; // cabinet size as stored in the header
    uint16_t cFolders; // number of CFFOLDER entries
    uint16_t cFiles;   // number of CFFILE entries
    uint16_t setID;    // identifier shared by the cabinets of a set
    uint16_t iCabinet; // index of this cabinet in its set, 0-based by convention
    FDI_BOOL fReserve; // the header has reserve areas
    FDI_BOOL hasprev;  // a previous cabinet is named
    FDI_BOOL hasnext;  // a next cabinet is named
} FDICABINETINFO, *PFDICABINETINFO;

typedef enum {
    fdidtNEW_CABINET,
    fdidtNEW_FOLDER,
    fdidtDECRYPT
} FDIDECRYPTTYPE;

// Decryption callbacks were never used by Windows; the record exists so that
// the FDICopy signature matches. Our FDICopy ignores the callback.
typedef struct {
    FDIDECRYPTTYPE fdidt;
    void *pvUser;
} FDIDECRYPT, *PFDIDECRYPT;

typedef void *(*PFNALLOC)(uint32_t cb);
typedef void (*PFNFREE)(void *pv);
typedef intptr_t (*PFNOPEN)(char *pszFile, int oflag, int pmode);
typedef uint32_t (*PFNREAD)(intptr_t hf, void *pv, uint32_t cb);
typedef uint32_t (*PFNWRITE)(intptr_t hf, void *pv, uint32_t cb);
typedef int (*PFNCLOSE)(intptr_t hf);
typedef int32_t (*PFNSEEK)(intptr_t hf, int32_t dist, int seektype);
typedef int (*PFNFDIDECRYPT)(PFDIDECRYPT pfdid);

// Declarators for the callbacks, as the SDK names them.
#define FNALLOC(fn) void *fn(uint32_t cb)
#define FNFREE(fn) void fn(void *pv)
#define FNOPEN(fn) intptr_t fn(char *pszFile, int oflag, int pmode)
#define FNREAD(fn) uint32_t fn(intptr_t hf, void *pv, uint32_t cb)
#define FNWRITE(fn) uint32_t fn(intptr_t hf, void *pv, uint32_t cb)
#define FNCLOSE(fn) int fn(intptr_t hf)
#define FNSEEK(fn) int32_t fn(intptr_t hf, int32_t dist, int seektype)
#define FNFDIDECRYPT(fn) int fn(PFDIDECRYPT pfdid)

typedef struct {
    int32_t cb;        // COPY_FILE: uncompressed size; CLOSE_FILE_INFO: 1 when _A_EXEC was stored
    char *psz1;        // file name, or next cabinet name
    char *psz2;        // next disk name, or previous cabinet name
    char *psz3;        // cabinet path, previous disk name, or the writable 256-byte directory buffer
    void *pv;          // the pvUser given to FDICopy
    intptr_t hf;       // CLOSE_FILE_INFO: the handle COPY_FILE returned
    uint16_t date;     // MS-DOS date as stored
    uint16_t time;     // MS-DOS time as stored
    uint16_t attribs;  // attribute bits as stored
    uint16_t setID;    // set identifier
    uint16_t iCabinet; // cabinet index in the set
    uint16_t iFolder;  // CFFILE folder index as stored
    FDIERROR fdie;     // NEXT_CABINET: error of the previous attempt, else FDIERROR_NONE
} FDINOTIFICATION, *PFDINOTIFICATION;

// What FDICopy tells the client, and what the client's answer means. Only
// -1 stops the copy (FDIERROR_USER_ABORT); for COPY_FILE, 0 skips the file
// and any other value is the output handle, negative ones included.
typedef enum {
    fdintCABINET_INFO = 0,    // a cabinet was opened: psz1/psz2 its next cabinet and disk (or ""),
                              // psz3 the FDICopy directory, setID, iCabinet
    fdintPARTIAL_FILE = 1,    // an entry continued from an earlier cabinet: psz1 name,
                              // psz2/psz3 the previous cabinet and disk
    fdintCOPY_FILE = 2,       // psz1 name, cb size, date, time, attribs, iFolder as stored
    fdintCLOSE_FILE_INFO = 3, // the file is complete: psz1, hf (the client closes it), date,
                              // time, attribs without _A_EXEC; cb 1 when _A_EXEC was stored
    fdintNEXT_CABINET = 4,    // psz1 next cabinet, psz2 its disk, psz3 a writable directory
                              // buffer of 256 bytes, fdie the previous attempt's error
    fdintENUMERATE = 5        // start and end of the CFFILE scan: cb next entry, iFolder entries
                              // left (set to 0 to end the scan), setID
} FDINOTIFICATIONTYPE;

typedef intptr_t (*PFNFDINOTIFY)(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);
#define FNFDINOTIFY(fn) intptr_t fn(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin)

// Creates a decompressor context. All memory and file access of the
// context goes through the seven callbacks; cpuType is ignored. Returns the
// context with *perf zeroed, or NULL: with perf filled (FDIERROR_ALLOC_FAIL)
// when alloc fails, and always when perf is NULL.
HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
               PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, PERF perf);

// Reads a cabinet header from hf's current position, using only the read
// and seek callbacks, and leaves hf just behind the header and its names.
// TRUE with *pfdici filled for a cabinet (hasnext is always FALSE, as
// Cabinet.dll reports it); FALSE otherwise, with *pfdici and the error
// block untouched.
FDI_BOOL FDIIsCabinet(HFDI hfdi, intptr_t hf, PFDICABINETINFO pfdici);

// Extracts the cabinet pszCabPath + pszCabinet (joined verbatim), steering
// the client through pfnfdin with pvUser in every notification's pv; flags
// and pfnfdid are ignored. TRUE when the cabinet's file list was
// processed, the error block untouched; FALSE with it filled. Every handle
// FDICopy opened is closed and every block it allocated freed before it
// returns; an output handle still open at a failure is closed with pfnclose.
// Not to be called again on the same context from inside a callback.
FDI_BOOL FDICopy(HFDI hfdi, char *pszCabinet, char *pszCabPath, int flags, PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid,
                 void *pvUser);

// Frees the context. TRUE on success; FALSE for NULL, or while FDICopy runs
// on it.
FDI_BOOL FDIDestroy(HFDI hfdi);

// The library's version, as Cabinet.dll's DllGetVersion reports its file
// version: major.minor in dwFileVersionMS, build.revision in dwFileVersionLS
// (16 bits each). Ours is the selfex version, revision 0.
typedef struct {
    uint32_t cbStruct; // set by the caller to the size of this record
    uint32_t dwReserved1;
    uint32_t dwReserved2;
    uint32_t dwFileVersionMS;
    uint32_t dwFileVersionLS;
} CABINETDLLVERSIONINFO, *PCABINETDLLVERSIONINFO;

void DllGetVersion(PCABINETDLLVERSIONINFO pcdvi);

#ifdef __cplusplus
}
#endif
