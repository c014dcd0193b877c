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
#include "cabinet/NameCheck.h"
#include "cabinet/NameSet.h"
#include "cabinet/PackageLayout.h"
#include "cabinet/PosMap.h"
#include "fdi/FdiReason.h"
#include "platform/Win32.h"
#include "support/StrBuf.h"

namespace Cabinet {

// ExtractError::Code values of the extractor's own failures. Besides these,
// Code holds the decompressor's numbers where the failure is one it names:
// 0 with Detail 14 (ERROR_OUTOFMEMORY) when Create cannot set the thread
// slot, 2 (FDIERROR_NOT_A_CABINET) for a header that is not "MSCF",
// 8 (FDIERROR_TARGET_FILE) for an output file that failed, and a
// next-cabinet notification's fdie. Detail with Code 8:
//   123 (ERROR_INVALID_NAME)  the stored name breaks the name rule
//                             (NameCheck.h; a subclass reads which rule in
//                             RefusedNameRule) -- nothing was created for it;
//   DETAIL_REPARSE_POINT      the output path below the destination is, or
//                             passes through, a link (symbolic link,
//                             junction), or names an existing file known by
//                             another path (a link Wine does not show, a
//                             short-name alias): nothing is written there;
//   DETAIL_NOT_A_FILE         a FIFO, socket or device stands at the output
//                             path: only regular files are written;
//   0                         the output file did not open or came out short;
//   other                     the platform error of a folder that could not
//                             be made, or of a file that could not be replaced.
constexpr int32_t ERR_CABINET_DLL = 1000;    // Create: Cabinet.dll or one of its entries missing
constexpr int32_t ERR_BAD_PATH = 1002;       // Copy: directory or name of the cabinet path shorter than 2
constexpr int32_t ERR_ENCIPHERED = 1008;     // the cabinet header reads "CRYP"
constexpr int32_t ERR_MEMORY_FULL = 1009;    // in-memory write beyond the file's declared size
constexpr int32_t ERR_WRONG_THREAD = 1011;   // operation on a thread other than the creator
constexpr int32_t ERR_THREAD_BUSY = 1012;    // Create: this thread already has a bound extractor
constexpr int32_t ERR_CABINET_LOOP = 1013;   // Copy: a cabinet set names a cabinet it already visited
constexpr int32_t ERR_OUT_OF_MEMORY = 1014;  // an allocation failed; Detail 8 (ERROR_NOT_ENOUGH_MEMORY)
constexpr int32_t ERR_BAD_SET_MEMBER = 1015; // a header names a next or previous cabinet that is no plain
                                             // file name (Detail 123); refused before it is opened

constexpr int32_t DETAIL_REPARSE_POINT = 4395; // ERROR_REPARSE_POINT_ENCOUNTERED
constexpr int32_t DETAIL_NOT_A_FILE = 222;     // ERROR_BAD_FILE_TYPE

// In-memory mode hands the decompressor pseudo handles from 0xFF000000 up;
// as signed 32-bit handles they are negative.
constexpr int32_t PSEUDO_HANDLE_BASE = -0x01000000;

// Code page of stored names without the UTF-8 attribute bit (0x80).
constexpr uint32_t NAME_CODE_PAGE = 1252;

constexpr uint32_t DEFAULT_PROGRESS_INTERVAL_MS = 200;

// Builds that show no reasons (the 32-bit stub shows "Extract Failed." and
// nothing else) may leave their texts out with SELFEX_NO_REASONS.
#if defined(SELFEX_NO_REASONS)
#define CABINET_REASON(text) nullptr
#else
#define CABINET_REASON(text) text
#endif

// The last failure. Reset sets all five numbers to 0 and Reason to null.
struct ExtractError {
    ERF Erf;        // the decompressor's error block; FDICreate gets its address
    int32_t Code;   // see the ERR_* constants above
    int32_t Detail; // a platform error number, or 0
    // Why, in a few words ("a data block checksum does not match"): the
    // extractor's own reason, else the decoder's where it gives one (our
    // libcabinet.so does, Cabinet.dll does not); null when none is known.
    // Valid until the extractor's next operation or its destruction.
    const char *Reason;

    void Reset();
    // True when Erf.fError, Code or Detail is non-zero.
    bool HasError() const;
};

// error.Reason, or an empty text when there is none: never null.
const char *ReasonText(const ExtractError &error);

// The attributes an extracted file gets from its stored bits: read-only,
// hidden, system and archive, nothing else -- never "run after extraction"
// (0x40), nor the bits that only say how to read the entry (0x80, 0x100).
uint16_t AppliedAttributes(uint16_t stored);

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
    // files completed before it stay. A stored name that breaks the name
    // rule (NameCheck.h; also a name met before in this run, in any letter
    // case) is refused with Code 8 / Detail 123 before anything is created
    // for it, and the run stops; so is a cabinet-set member name from a
    // header (ERR_BAD_SET_MEMBER) before it is opened. Below the
    // destination (which may itself be a link) nothing is written through
    // a link and only regular files are written: an existing file is
    // deleted and a new one created in its place. Stored times are applied
    // through the open file, the attributes by name after it is closed.
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
    // The runtime's _wopen. Output files are opened with _O_CREAT | _O_EXCL
    // after any file of that name is gone, so an open never reaches an
    // existing file (or what a link at that name leads to).
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

    // Applies the stored MS-DOS date and time (local time unless attribute
    // bit 0x100) as creation and last-write time to the open output file
    // handle, through the descriptor: no second open by name.
    void SetStoredTime(int32_t handle, uint16_t date, uint16_t time, uint16_t attribs);

    // The rule the last refused name broke and that name (a stored name, or
    // a cabinet-set member name with ERR_BAD_SET_MEMBER); Accepted and
    // empty when Copy refused none. For a tool that says why in words.
    NameRule RefusedNameRule() const { return m_RefusedRule; }
    const CStrBufW &RefusedName() const { return m_RefusedName; }

    // State for subclasses that test the handlers.
    int32_t CabinetBase() const { return m_CabinetBase; }
    CPosMap &Positions() { return m_Positions; }
    CMemSink &Sink() { return m_Sink; }
    const CStrBufW &NextCabinet() const { return m_NextCabinet; }
    CurrentFile &Current() { return m_CurrentFile; }
    void SetInMemory(bool inMemory) { m_InMemory = inMemory; }

private:
    using FdiCreateFn = decltype(&FDICreate);
    using FdiCopyFn = decltype(&FDICopy);
    using FdiIsCabinetFn = decltype(&FDIIsCabinet);
    using FdiDestroyFn = decltype(&FDIDestroy);

    // The callbacks handed to FDICreate and FDICopy. The file and
    // notification callbacks find their extractor in the thread slot.
    // None of them lets an exception through to the decompressor's frames:
    // a failed allocation becomes ERR_OUT_OF_MEMORY and a failed call.
    static void *FdiAlloc(ULONG size) noexcept;
    static void FdiFree(void *block) noexcept;
    static INT_PTR FdiOpen(char *name, int flags, int permission) noexcept;
    static UINT FdiRead(INT_PTR handle, void *buffer, UINT count) noexcept;
    static UINT FdiWrite(INT_PTR handle, void *buffer, UINT count) noexcept;
    static int FdiClose(INT_PTR handle) noexcept;
    static LONG FdiSeek(INT_PTR handle, LONG offset, int origin) noexcept;
    static INT_PTR FdiNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION *notification) noexcept;

    bool IsCreatorThread();
    bool LoadCabinetLibrary();
    int32_t SearchCabinetHeader(int32_t handle);
    void ReportProgress(uint32_t now, float percent);
    bool CopyCabinetSet(const CStrBufW &cabinetPath);
    bool RunCabinetSet(CStrBufW &name, const CStrBufW &directory);
    intptr_t OnCabinetInfoNote(const FDINOTIFICATION *notification);
    intptr_t OnCopyFileNote(const FDINOTIFICATION *notification);
    intptr_t OnCloseFileNote(const FDINOTIFICATION *notification);
    intptr_t OnNextCabinetNote(const FDINOTIFICATION *notification);
    bool DecodeStoredName(const FDINOTIFICATION *notification, CStrBufW &relPath) const;
    NameRule CheckNewName(const CStrBufW &relPath);
    NameRule CheckCabinetOpen(const char *name);
    intptr_t RefuseName(NameRule rule, const WCHAR *name);
    intptr_t FailFile(int32_t detail, const char *reason);
    // Output below the destination (ExtractOutput.cpp): the destination, then
    // each folder of relDir, made or checked once per run; then the output
    // path cleared for a new file. 0, or the Detail of the failure.
    DWORD PrepareFolders(const CStrBufW &relDir);
    DWORD ClearOutputPath(const WCHAR *outPath);
    bool InFolderMadeThisRun(const CStrBufW &relDir);
    // Records an out-of-memory failure and stops the run.
    void RecordOutOfMemory() noexcept;
    // Records a failure of the extractor's own (Code, Detail and a reason
    // from CABINET_REASON) and returns false, so each site is one line.
    bool Fail(int32_t code, int32_t detail, const char *reason);
    // After a failed decompressor call: its reason, where the library has
    // the extra entry (FdiReason.h) and the extractor recorded none.
    void TakeDecoderReason();

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
    FdiReasonFn m_FdiReason = nullptr; // null with Windows' Cabinet.dll
    char m_DecoderReason[128] = {};    // a copy: the library may be unloaded
    uint32_t m_SinkFileSize = 0;       // declared size of the file in the sink

    // State of one Copy run.
    bool m_Copying = false;           // inside Copy: cabinet opens come from the decompressor
    bool m_DestinationReady = false;  // the destination folder exists
    CNameSet m_RunNames{true};        // stored names met, letter case folded
    CNameSet m_CheckedFolders{false}; // folders below the destination known to be real folders
    CNameSet m_MadeFolders{false};    // those of them this run created: no file in them predates it
    CStrBufA m_CabinetDirectory;      // the cabinet folder handed to FDICopy, UTF-8
    CStrBufA m_FirstCabinet;          // the cabinet name Copy was given, UTF-8
    NameRule m_RefusedRule = NameRule::Accepted;
    CStrBufW m_RefusedName;
};

} // namespace Cabinet
