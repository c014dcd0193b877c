// Cabinet::CExtract: the extraction engine that drives the FDI decompressor.
//
// One CExtract owns one decompressor context of Cabinet.dll (on POSIX our
// libcabinet.so), loaded at run time. It finds a cabinet appended to a
// package file by searching for its header from CABINET_SEARCH_START on,
// presents that cabinet to the decompressor as a file of its own, and writes
// the stored files below a destination folder (or into memory) with their
// directory tree, times and attributes, reporting to the client through the
// callbacks of ExtractCallbacks.
//
// The decompressor's callbacks carry no context pointer, so a bound extractor
// registers itself in the one thread-local slot g_TlsIndex: each thread can
// bind at most one extractor, and every public operation must be called on
// the thread that constructed the object.
//
// Calling order: construct -> assign Callbacks -> Create -> any number of
// IsCabinet and Copy -> Destroy or destruction, all on the constructing
// thread. The object can live on the caller's stack; it is never copied.
#pragma once

#include <cstdint>

#include "cabinet/MemSink.h"
#include "cabinet/PosMap.h"
#include "platform/Win32.h"
#include "support/StrBuf.h"

namespace Cabinet {

// ExtractError::Code values of the extractor's own failures. Besides these,
// Code holds the decompressor's numbers where the failure is one it names:
// 0 with Detail 14 (ERROR_OUTOFMEMORY) when Create cannot set the thread
// slot, 2 (FDIERROR_NOT_A_CABINET) for a header that is not "MSCF",
// 8 (FDIERROR_TARGET_FILE) for an output file that failed (Detail: the
// directory error, 123 = ERROR_INVALID_NAME for an unsafe stored name, or 0
// when the open failed or the file came out short), and a next-cabinet
// notification's fdie.
constexpr int32_t ERR_CABINET_DLL = 1000;  // Create: Cabinet.dll or one of its entries missing
constexpr int32_t ERR_BAD_PATH = 1002;     // Copy: directory or name of the cabinet path shorter than 2
constexpr int32_t ERR_ENCIPHERED = 1008;   // the cabinet header reads "CRYP"
constexpr int32_t ERR_MEMORY_FULL = 1009;  // in-memory write beyond the sink
constexpr int32_t ERR_WRONG_THREAD = 1011; // operation on a thread other than the creator
constexpr int32_t ERR_THREAD_BUSY = 1012;  // Create: this thread already has a bound extractor
constexpr int32_t ERR_CABINET_LOOP = 1013; // Copy: a cabinet set names a cabinet it already visited

// The embedded cabinet's header "MSCF" must start at a file offset B with
// CABINET_SEARCH_START <= B < CABINET_SEARCH_START + CABINET_SEARCH_POSITIONS.
constexpr int32_t CABINET_SEARCH_START = 160000;
constexpr int32_t CABINET_SEARCH_WINDOW = 65536;    // bytes read for the search
constexpr int32_t CABINET_SEARCH_POSITIONS = 65530; // candidate offsets in the window

// In-memory mode hands the decompressor pseudo handles from 0xFF000000 up;
// as signed 32-bit handles they are negative.
constexpr int32_t PSEUDO_HANDLE_BASE = -0x01000000;

// Code page of stored names without the UTF-8 attribute bit (0x80).
constexpr uint32_t NAME_CODE_PAGE = 1252;

constexpr uint32_t DEFAULT_PROGRESS_INTERVAL_MS = 200;

// The last failure. Reset sets all five numbers to 0.
struct ExtractError {
    ERF Erf;        // the decompressor's error block; FDICreate gets its address
    int32_t Code;   // see the ERR_* constants above
    int32_t Detail; // a platform error number, or 0

    void Reset();
    // True when Erf.fError, Code or Detail is non-zero.
    bool HasError() const;
};

// Records handed to the client callbacks. They, and every text they point
// at, are valid only during the call.

// A stored file about to be extracted (OnCopyFile).
struct CopyFileInfo {
    const WCHAR *Name;    // file name without directory
    const WCHAR *RelDir;  // stored directory part with trailing "\", or empty
    const WCHAR *RelPath; // stored name, every "/" turned into "\"
    const WCHAR *OutDir;  // destination + RelDir
    const WCHAR *OutPath; // OutDir + Name
    uint32_t Size;        // uncompressed size in bytes
    FILETIME Time;        // stored MS-DOS date and time, not converted to UTC
    uint16_t Attribs;     // stored attribute bits, all 16
};

// Byte progress of the file being written (OnProgress).
struct ProgressInfo {
    const WCHAR *RelPath;
    const WCHAR *OutPath;
    uint32_t Size;    // uncompressed size in bytes
    uint32_t Written; // bytes written so far
    float Percent;    // Written * 100 / Size
};

// A cabinet opened by the decompressor (OnCabinetInfo), or the next cabinet
// it asks for (OnNextCabinet).
struct CabinetInfo {
    const char *NextCabinet;  // name of the next cabinet of the set; empty when none
    const char *NextDisk;     // name of the next disk, as stored
    const WCHAR *CabinetPath; // the cabinet directory
    uint16_t SetId;
    uint16_t CabinetIndex;
};

// Client callbacks; a null one is not called. Each gets the userData given to
// Copy as its last argument and runs on the bound thread inside Copy; each may
// call Abort, which stops the run at the decompressor's next notification.
struct ExtractCallbacks {
    // A file is about to be extracted: non-zero extracts it, 0 skips it.
    int (*OnCopyFile)(const CopyFileInfo *info, intptr_t userData) = nullptr;
    // A file is complete: its output path and, in in-memory mode, the sink
    // holding its bytes (null in disk mode). Not called for a file that
    // failed.
    void (*OnFileDone)(const WCHAR *outPath, const CMemSink *sink, intptr_t userData) = nullptr;
    // Byte progress of a file written to disk: once when it is opened, then
    // at most once per ProgressIntervalMs, and always on its last write.
    void (*OnProgress)(const ProgressInfo *info, intptr_t userData) = nullptr;
    // The decompressor opened a cabinet (continuation cabinets included).
    void (*OnCabinetInfo)(const CabinetInfo *info, intptr_t userData) = nullptr;
    // A file continues into the next cabinet of the set; fdie is always 0.
    void (*OnNextCabinet)(const CabinetInfo *info, int fdie, intptr_t userData) = nullptr;
    // Minimum milliseconds between two byte-progress reports of a file;
    // 0 reports every write.
    uint32_t ProgressIntervalMs = DEFAULT_PROGRESS_INTERVAL_MS;
};

// The output file being written.
struct CurrentFile {
    int32_t Handle = 0; // descriptor, 0 = none
    CStrBufW RelPath;
    CStrBufW OutPath;
    uint32_t Size = 0;     // declared size in bytes
    uint32_t Written = 0;  // bytes counted for progress reports (only with OnProgress set)
    uint32_t LastTick = 0; // GetTickCount of the last progress report
    uint64_t Received = 0; // every byte written, whatever the callbacks

    // Zeroes the numbers and empties both texts, keeping their storage.
    void Reset();
};

class CExtract {
public:
    // Unbound, no library loaded; records the calling thread as the creator.
    CExtract();
    // Destroy (result ignored), then unloads the library and frees every
    // buffer.
    ~CExtract();
    CExtract(const CExtract &) = delete;
    CExtract &operator=(const CExtract &) = delete;

    // Binds the object to this thread's slot, loads Cabinet.dll (Windows:
    // from the system directory only) and creates the decompressor context.
    // False on failure, with the reason in Error: ERR_WRONG_THREAD,
    // ERR_THREAD_BUSY (the slot holds an extractor, this one included),
    // Code 0 / Detail 14 (no slot), ERR_CABINET_DLL, or the decompressor's
    // error block. A failure after the slot was set leaves the object bound.
    bool Create();

    // Non-zero when path (a package or a cabinet file) holds a cabinet whose
    // header the search finds; info, when not null, is then filled. 0 before
    // Create (nothing recorded), on the wrong thread (ERR_WRONG_THREAD), when
    // the file does not open, or when the header is refused (Code 2 or
    // ERR_ENCIPHERED).
    int IsCabinet(const CStrBufW &path, FDICABINETINFO *info);

    // Extracts every file of the cabinet at cabinetPath, and of the cabinets
    // that follow it in its set (looked for in the same directory), below
    // destination. destination "MEMORY\" or "MEMORY" in any letter case
    // extracts into the sink instead. userData is handed to every callback.
    // True when the whole set was extracted without any recorded failure.
    // After a failure no file that did not receive all its bytes is left;
    // files completed before it stay. Stored names that are absolute, carry
    // a ":" or an empty, "." or ".." level, or name a device are refused with
    // Code 8 / Detail 123 before anything is created for them.
    bool Copy(const CStrBufW &cabinetPath, const CStrBufW &destination, intptr_t userData);

    // Destroys the decompressor context, frees the sink and unbinds the
    // thread slot (unless another extractor holds it). False on the wrong
    // thread (ERR_WRONG_THREAD, slot unchanged) or when FDIDestroy fails.
    bool Destroy();

    // Requests a stop: the next notification of the decompressor returns -1.
    // Callable from any client callback.
    virtual void Abort();

protected:
    // Raw I/O on the runtime's descriptors; every file access of the
    // extractor but the header search goes through these. Results as the C
    // runtime's: bytes moved (0 at end of file) or -1; 0 or -1 from close;
    // the new offset or -1 from seek; a descriptor or -1 from open.
    virtual int32_t RawRead(int32_t handle, void *buffer, uint32_t count);
    virtual int32_t RawWrite(int32_t handle, const void *buffer, uint32_t count);
    virtual int32_t RawClose(int32_t handle);
    virtual int32_t RawSeek(int32_t handle, int32_t offset, int origin);
    // With _O_CREAT in flags, first clears the attributes of an existing
    // file so that a read-only one can be replaced.
    virtual int32_t RawOpen(const WCHAR *path, int flags, int permission);

    // Stream handlers behind the decompressor's file callbacks.

    // Opens a UTF-8 name for reading (any permission becomes _S_IREAD).
    int32_t OnOpen(const char *name, int flags, int permission);
    // Opens path. With _S_IWRITE in permission (an output file) the
    // descriptor is returned as it is. Otherwise the handle is tracked at
    // logical position 0 and the file is searched for "MSCF" from
    // CABINET_SEARCH_START; a match sets the cabinet base and leaves the
    // handle at the header. -1 when the open fails.
    int32_t OpenStream(const WCHAR *path, int flags, int permission);
    // Reads and advances the logical position. A read of 4 or more bytes at
    // logical position 0 must begin with "MSCF": "CRYP" gives -1 with
    // ERR_ENCIPHERED, anything else -1 with Code 2.
    int32_t OnRead(int32_t handle, void *buffer, uint32_t count);
    // Writes to a file, or to the sink in in-memory mode (-1 with
    // ERR_MEMORY_FULL when it does not fit), and reports byte progress.
    int32_t OnWrite(int32_t handle, const void *buffer, uint32_t count);
    // Closes a descriptor (handles <= 0 are ignored and give 0) and forgets
    // its position. Closing the current output file before its close
    // notification accepted it means the file is unfinished: it is deleted.
    int32_t OnClose(int32_t handle);
    // Seeks; tracked handles count from the cabinet base. -1 on failure.
    int32_t OnSeek(int32_t handle, int32_t offset, int origin);

    // Handles one decompressor notification; the result in FDI's terms.
    intptr_t OnNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION *notification);

    // Applies stored MS-DOS date and time (local time unless bit 0x100) and
    // the read-only, hidden, system and archive bits to the file at path.
    void SetFileTimeAttrs(const WCHAR *path, uint16_t date, uint16_t time, uint16_t attribs);

    // State for subclasses that test the handlers.
    int32_t CabinetBase() const { return m_CabinetBase; }
    CPosMap &Positions() { return m_Positions; }
    CMemSink &Sink() { return m_Sink; }
    CurrentFile &Current() { return m_CurrentFile; }
    void SetInMemory(bool inMemory) { m_InMemory = inMemory; }

private:
    using FdiCreateFn = decltype(&FDICreate);
    using FdiCopyFn = decltype(&FDICopy);
    using FdiIsCabinetFn = decltype(&FDIIsCabinet);
    using FdiDestroyFn = decltype(&FDIDestroy);

    // The callbacks handed to FDICreate and FDICopy. The file and
    // notification callbacks find their extractor in the thread slot.
    static void *FdiAlloc(ULONG size) noexcept;
    static void FdiFree(void *block);
    static INT_PTR FdiOpen(char *name, int flags, int permission);
    static UINT FdiRead(INT_PTR handle, void *buffer, UINT count);
    static UINT FdiWrite(INT_PTR handle, void *buffer, UINT count);
    static int FdiClose(INT_PTR handle);
    static LONG FdiSeek(INT_PTR handle, LONG offset, int origin);
    static INT_PTR FdiNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION *notification);

    bool IsCreatorThread();
    bool LoadCabinetLibrary();
    int32_t SearchCabinetHeader(int32_t handle);
    void ReportProgress(uint32_t now, float percent);
    bool RunCabinetSet(CStrBufW &name, const CStrBufW &directory);
    intptr_t OnCabinetInfoNote(const FDINOTIFICATION *notification);
    intptr_t OnCopyFileNote(const FDINOTIFICATION *notification);
    intptr_t OnCloseFileNote(const FDINOTIFICATION *notification);
    intptr_t OnNextCabinetNote(const FDINOTIFICATION *notification);
    void DecodeStoredName(const FDINOTIFICATION *notification, CStrBufW &relPath) const;
    intptr_t FailFile(int32_t detail);

    // The data members, in layout order; two of them are public.
    CurrentFile m_CurrentFile;

public:
    ExtractCallbacks Callbacks; // assign the whole record before Create

private:
    CPosMap m_Positions;    // logical position of every open cabinet handle
    CStrBufW m_Destination; // destination, ending in "\" once Copy set it
    CStrBufW m_NextCabinet; // next cabinet of the set, from the notifications
    CMemSink m_Sink;        // in-memory output

public:
    ExtractError Error; // the last failure; readable after any operation

private:
    HFDI m_Context = nullptr;
    bool m_AbortRequested = false;
    bool m_InMemory = false;
    uint32_t m_NameCodePage = NAME_CODE_PAGE;
    intptr_t m_UserData = 0;
    DWORD m_CreatorThread;
    int32_t m_CabinetBase = 0; // file offset of the embedded cabinet
    HMODULE m_Library = nullptr;
    FdiCreateFn m_FdiCreate = nullptr;
    FdiCopyFn m_FdiCopy = nullptr;
    FdiIsCabinetFn m_FdiIsCabinet = nullptr;
    FdiDestroyFn m_FdiDestroy = nullptr;
    uint32_t m_SinkFileSize = 0; // declared size of the file in the sink
};

} // namespace Cabinet
