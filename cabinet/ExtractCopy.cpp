// Cabinet::CExtract: Copy, the decompressor's notifications and file output.
//
// While FDICopy runs, the decompressor announces each cabinet it opens, each
// file it is about to write, each file it has finished and each move into a
// continuation cabinet; the result of the notification tells it where to
// write, to skip a file, to go on or to stop. The file data itself arrives
// through the write handler.
//
// A file counts as extracted only once its close notification shows that it
// received all its declared bytes. Whatever else ends a file -- the
// decompressor closing it after a failure (documented FDI), a close
// notification for a short file (Wine's FDI sends one after a failure), or a
// run stopped before the close notification -- deletes it, so that a failed
// run never leaves a truncated file under its final name.
//
// Every stored name is checked against the name rule (NameCheck.h) before
// the client sees it and before anything is created for it; so is every
// cabinet-set member a header names, before the decompressor opens it.
#include <cstring>
#include <list>
#include <new>

#include "cabinet/Extract.h"
#include "cabinet/NameCheck.h"
#include "cabinet/ThreadSlot.h"
#include "fdi/CabFormat.h"
#include "support/PathUtil.h"
#include "support/WideText.h"

namespace Cabinet {

namespace {

// A new file: any file of that name has been deleted before, and _O_EXCL
// keeps the open from reaching whatever appeared there meanwhile (a link
// included).
constexpr int OUTPUT_OPEN_FLAGS = _O_BINARY | _O_CREAT | _O_EXCL | _O_SEQUENTIAL | _O_WRONLY;
// _S_IWRITE in the permission also tells OpenStream that this is an output
// file, which is neither searched nor tracked.
constexpr int OUTPUT_PERMISSION = _S_IREAD | _S_IWRITE;

constexpr WCHAR MEMORY_DESTINATION[] = WIDE("MEMORY\\");

const char *TextOrEmpty(const char *text)
{
    return text != nullptr ? text : "";
}

// The record of a CABINET_INFO or NEXT_CABINET notification; cabinetPath
// receives the directory as wide text and must outlive the record.
CabinetInfo CabinetInfoOf(const FDINOTIFICATION *notification, CStrBufW &cabinetPath)
{
    cabinetPath.AssignMultiByte(CP_UTF8, TextOrEmpty(notification->psz3));
    CabinetInfo info{};
    info.NextCabinet = TextOrEmpty(notification->psz1);
    info.NextDisk = TextOrEmpty(notification->psz2);
    info.CabinetPath = cabinetPath.Data;
    info.SetId = notification->setID;
    info.CabinetIndex = notification->iCabinet;
    return info;
}

// Why the output path could not be prepared, by the Detail it gave.
const char *OutputPathReason(DWORD detail, const char *otherwise)
{
    if (detail == static_cast<DWORD>(DETAIL_REPARSE_POINT)) {
        return CABINET_REASON("a link below the destination");
    }
    if (detail == static_cast<DWORD>(DETAIL_NOT_A_FILE)) {
        return CABINET_REASON("a FIFO, socket or device at the output path");
    }
    return otherwise;
}

} // namespace

/// Runs on the creating thread with a context only. Every run starts afresh
/// (error, positions, names met, folders checked), takes its destination and
/// mode (disk or memory), then extracts the cabinet and every cabinet it
/// leads to. A file still open at the end is unfinished: it is closed and
/// deleted. Success only when nothing recorded a failure.
bool CExtract::Copy(const CStrBufW &cabinetPath, const CStrBufW &destination, intptr_t userData)
{
    if (!IsCreatorThread() || m_Context == nullptr) {
        return false;
    }
    m_UserData = userData;
    m_AbortRequested = false;
    m_CurrentFile.Reset();
    Error.Reset();
    m_Positions.Clear();
    m_RunNames.Clear();
    m_CheckedFolders.Clear();
    m_MadeFolders.Clear();
    m_DestinationReady = false;
    m_RefusedRule = NameRule::Accepted;
    m_RefusedName.Data[0] = 0;

    bool copied = false;
    m_Copying = true;
    try {
        m_Destination.Assign(destination);
        AppendBackslash(m_Destination);
        m_InMemory = WideCompareNoCase(m_Destination.Data, MEMORY_DESTINATION) == 0;
        copied = CopyCabinetSet(cabinetPath);
    } catch (const std::bad_alloc &) {
        RecordOutOfMemory();
    }
    m_Copying = false;
    OnClose(m_CurrentFile.Handle);
    return copied && !Error.HasError();
}

/// Splits the cabinet path into the folder where every member of the set
/// is looked for and the first member's name, then runs the set.
bool CExtract::CopyCabinetSet(const CStrBufW &cabinetPath)
{
    CStrBufW directory;
    CStrBufW name;
    SplitPath(cabinetPath, &directory, &name);
    if (directory.Length() < 2 || name.Length() < 2) {
        return Fail(ERR_BAD_PATH, 0, CABINET_REASON("the cabinet path has no folder or no name"));
    }
    m_CabinetDirectory.AssignUtf8(directory.Data);
    m_FirstCabinet.AssignUtf8(name.Data);
    return RunCabinetSet(name, directory);
}

/// Runs FDICopy on name, then on each next cabinet the notifications named,
/// all in directory. False as soon as one FDICopy fails, or when a set leads
/// back to a cabinet it already passed (which would repeat forever).
bool CExtract::RunCabinetSet(CStrBufW &name, const CStrBufW &directory)
{
    // A list of our own buffers: std::vector and std::basic_string would pull
    // libstdc++'s string instantiations (about 120 KB) into the GUI stub.
    std::list<CStrBufW> visited;
    for (;;) {
        for (const auto &earlier : visited) {
            if (WideCompareNoCase(earlier.Data, name.Data) == 0) {
                return Fail(ERR_CABINET_LOOP, 0, CABINET_REASON("the cabinet set leads back to a cabinet it passed"));
            }
        }
        visited.emplace_back(name.Data);

        m_NextCabinet.Data[0] = 0;
        CStrBufA nameUtf8;
        CStrBufA directoryUtf8;
        nameUtf8.AssignUtf8(name.Data);
        directoryUtf8.AssignUtf8(directory.Data);
        const BOOL extracted = m_FdiCopy(m_Context, nameUtf8.Data, directoryUtf8.Data, 0, FdiNotify, nullptr,
                                         reinterpret_cast<void *>(m_UserData));
        if (!extracted) {
            TakeDecoderReason();
            return false;
        }
        if (m_NextCabinet.Data[0] == 0) {
            return true;
        }
        name.Assign(m_NextCabinet);
    }
}

INT_PTR CExtract::FdiNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION *notification) noexcept
{
    CExtract *extractor = BoundExtractor();
    if (extractor == nullptr) {
        return -1;
    }
    try {
        return extractor->OnNotify(type, notification);
    } catch (const std::bad_alloc &) {
        extractor->RecordOutOfMemory();
        return -1;
    }
}

intptr_t CExtract::OnNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION *notification)
{
    // A requested stop refuses every notification; the decompressor then
    // fails FDICopy and records the stop in Erf.
    if (m_AbortRequested) {
        return -1;
    }
    switch (type) {
    case fdintCABINET_INFO: return OnCabinetInfoNote(notification);
    case fdintCOPY_FILE: return OnCopyFileNote(notification);
    case fdintCLOSE_FILE_INFO: return OnCloseFileNote(notification);
    case fdintNEXT_CABINET: return OnNextCabinetNote(notification);
    default: // PARTIAL_FILE, ENUMERATE and anything newer
        return 0;
    }
}

/// Sent for every cabinet the decompressor opens. The first one of an FDICopy
/// names the successor; a continuation cabinet opened to finish a spanning
/// file does not replace it.
intptr_t CExtract::OnCabinetInfoNote(const FDINOTIFICATION *notification)
{
    if (m_NextCabinet.Data[0] == 0) {
        m_NextCabinet.AssignMultiByte(CP_UTF8, TextOrEmpty(notification->psz1));
    }
    if (Callbacks.OnCabinetInfo != nullptr) {
        CStrBufW cabinetPath;
        const CabinetInfo info = CabinetInfoOf(notification, cabinetPath);
        Callbacks.OnCabinetInfo(&info, m_UserData);
    }
    return 0;
}

/// A file is about to be written: decode and check its name, ask the client,
/// then hand the decompressor a pseudo handle (in-memory mode) or a freshly
/// created output file below the destination.
intptr_t CExtract::OnCopyFileNote(const FDINOTIFICATION *notification)
{
    CStrBufW relPath;
    if (!DecodeStoredName(notification, relPath)) {
        CStrBufW shown;
        shown.AssignMultiByte(CP_UTF8, TextOrEmpty(notification->psz1));
        return RefuseName(NameRule::InvalidText, shown.Data);
    }
    // Before the client sees the name and before anything is created for it.
    const NameRule rule = CheckNewName(relPath);
    if (rule != NameRule::Accepted) {
        return RefuseName(rule, relPath.Data);
    }

    CStrBufW relDir;
    CStrBufW name;
    SplitPath(relPath, &relDir, &name);
    CStrBufW outDir;
    outDir.Assign(m_Destination);
    outDir.Append(relDir);
    CStrBufW outPath;
    outPath.Assign(outDir);
    outPath.Append(name);
    const uint32_t size = static_cast<uint32_t>(notification->cb);

    if (Callbacks.OnCopyFile != nullptr) {
        CopyFileInfo info{};
        info.Name = name.Data;
        info.RelDir = relDir.Data;
        info.RelPath = relPath.Data;
        info.OutDir = outDir.Data;
        info.OutPath = outPath.Data;
        info.Size = size;
        info.Attribs = notification->attribs;
        if (!DosDateTimeToFileTime(notification->date, notification->time, &info.Time)) {
            info.Time = FILETIME{};
        }
        if (Callbacks.OnCopyFile(&info, m_UserData) == 0) {
            return 0; // skipped: nothing follows for this file
        }
    }

    if (m_InMemory) {
        m_Sink.Reset(notification->cb);
        m_SinkFileSize = size;
        // Any value the position table does not hold as a real handle.
        int32_t candidate = PSEUDO_HANDLE_BASE;
        while (m_Positions.Find(candidate) >= 0) {
            ++candidate;
        }
        return candidate;
    }

    DWORD error = PrepareFolders(relDir);
    if (error != 0) {
        return FailFile(static_cast<int32_t>(error),
                        OutputPathReason(error, CABINET_REASON("a folder below the destination cannot be made")));
    }
    if (!InFolderMadeThisRun(relDir)) {
        error = ClearOutputPath(outPath.Data);
    }
    if (error != 0) {
        return FailFile(static_cast<int32_t>(error),
                        OutputPathReason(error, CABINET_REASON("an existing file cannot be replaced")));
    }
    // The texts first: a failed allocation must not leave an open file
    // that CurrentFile does not know.
    m_CurrentFile.Reset();
    m_CurrentFile.OutPath.Assign(outPath);
    m_CurrentFile.RelPath.Assign(relPath);
    const int32_t handle = OpenStream(outPath.Data, OUTPUT_OPEN_FLAGS, OUTPUT_PERMISSION);
    if (handle <= 0) {
        m_CurrentFile.Reset();
        FailFile(0, CABINET_REASON("the output file does not open"));
        return handle;
    }
    m_CurrentFile.Handle = handle;
    m_CurrentFile.Size = size;
    m_CurrentFile.LastTick = GetTickCount();
    // The first report does not wait for the interval; later ones come from
    // the write handler, measured from LastTick.
    if (Callbacks.OnProgress != nullptr) {
        ReportProgress(m_CurrentFile.LastTick, 0.0f);
    }
    return handle;
}

/// The name rule, the output path's length (files on disk only) and, last,
/// the names met so far, which then include this one.
NameRule CExtract::CheckNewName(const CStrBufW &relPath)
{
    NameRule rule = CheckStoredName(relPath.Data);
    if (rule == NameRule::Accepted && !m_InMemory) {
        rule = CheckOutputPath(m_Destination.Length(), relPath.Data);
    }
    if (rule == NameRule::Accepted && !m_RunNames.Add(relPath.Data, relPath.Length())) {
        rule = NameRule::Duplicate;
    }
    return rule;
}

/// name (UTF-8, as the decompressor opens it) must be the cabinet folder
/// followed by the first cabinet's name or by a plain file name.
NameRule CExtract::CheckCabinetOpen(const char *name)
{
    const uint32_t folderLength = m_CabinetDirectory.Length();
    if (std::strncmp(name, m_CabinetDirectory.Data, folderLength) != 0) {
        return NameRule::Separator; // a file in another folder
    }
    const char *member = name + folderLength;
    if (std::strcmp(member, m_FirstCabinet.Data) == 0) {
        return NameRule::Accepted; // the caller's own choice
    }
    CStrBufW wide;
    if (!wide.AssignMultiByteStrict(CP_UTF8, member)) {
        return NameRule::InvalidText;
    }
    return CheckSetMemberName(wide.Data);
}

/// Records a refused name (Code 8 / Detail 123, the rule and the name) and
/// stops the run.
intptr_t CExtract::RefuseName(NameRule rule, const WCHAR *name)
{
    m_RefusedRule = rule;
    m_RefusedName.Assign(name);
    m_AbortRequested = true;
    return FailFile(ERROR_INVALID_NAME, CABINET_REASON("a stored name the name rule refuses"));
}

/// A file is finished. Only a file that received all its declared bytes is
/// accepted: given its stored time through the open file, closed, given its
/// attributes and reported. A short one (the decompressor failed while
/// writing it) is closed, deleted and fails the run.
intptr_t CExtract::OnCloseFileNote(const FDINOTIFICATION *notification)
{
    CStrBufW relPath;
    DecodeStoredName(notification, relPath);
    CStrBufW path;
    path.Assign(m_Destination);
    path.Append(relPath);

    bool complete;
    if (m_InMemory) {
        complete = static_cast<uint32_t>(m_Sink.Used()) == m_SinkFileSize;
    } else {
        const int32_t handle = static_cast<int32_t>(notification->hf);
        complete = handle == m_CurrentFile.Handle && m_CurrentFile.Received == m_CurrentFile.Size;
        // Handing a finished file over before closing it keeps OnClose from
        // deleting it as unfinished.
        if (complete) {
            SetStoredTime(handle, notification->date, notification->time, notification->attribs);
            m_CurrentFile.Reset();
        }
        OnClose(handle);
    }
    if (!complete) {
        if (Error.Code == 0) {
            FailFile(0, CABINET_REASON("a file closed with fewer bytes than its declared size"));
        }
        // Decompressors that ignore this result stop at the next notification.
        m_AbortRequested = true;
        return -1;
    }
    // A new file carries the archive bit alone already. Otherwise by name,
    // but the platform never changes attributes through a link (and this
    // run created the file itself).
    const DWORD applied = AppliedAttributes(notification->attribs);
    if (!m_InMemory && applied != FILE_ATTRIBUTE_ARCHIVE) {
        SetFileAttributesW(path.Data, applied);
    }
    if (Callbacks.OnFileDone != nullptr) {
        Callbacks.OnFileDone(path.Data, m_InMemory ? &m_Sink : nullptr, m_UserData);
    }
    return TRUE;
}

/// A file continues into the next cabinet. The name is kept for Copy in any
/// case; a non-zero fdie means the decompressor could not use the cabinet it
/// looked for, and ends the run.
intptr_t CExtract::OnNextCabinetNote(const FDINOTIFICATION *notification)
{
    const char *next = TextOrEmpty(notification->psz1);
    m_NextCabinet.AssignMultiByte(CP_UTF8, next);
    if (notification->fdie != FDIERROR_NONE) {
        // A member refused at its open keeps that reason.
        if (Error.Code != ERR_BAD_SET_MEMBER) {
            // The decompressor's reason, if it gives one, tells why.
            Fail(static_cast<int32_t>(notification->fdie), 0, nullptr);
        }
        return -1;
    }
    if (Callbacks.OnNextCabinet != nullptr) {
        CStrBufW cabinetPath;
        const CabinetInfo info = CabinetInfoOf(notification, cabinetPath);
        Callbacks.OnNextCabinet(&info, 0, m_UserData);
    }
    // psz3 stays as it is: the next cabinet is looked for where this one is.
    return 0;
}

/// Stored names are UTF-8 with attribute bit 0x80, else in NAME_CODE_PAGE;
/// "/" and "\" both separate levels. UTF-8 is decoded strictly: false for
/// a name that is not valid UTF-8 (nothing is replaced by U+FFFD).
bool CExtract::DecodeStoredName(const FDINOTIFICATION *notification, CStrBufW &relPath) const
{
    const char *stored = TextOrEmpty(notification->psz1);
    bool decoded = true;
    if ((notification->attribs & Fdi::CAB_ATTRIB_NAME_IS_UTF) != 0) {
        decoded = relPath.AssignMultiByteStrict(CP_UTF8, stored);
    } else {
        relPath.AssignMultiByte(m_NameCodePage, stored);
    }
    relPath.Replace(WIDE('/'), WIDE('\\'));
    return decoded;
}

/// Records a failed target file (FDIERROR_TARGET_FILE) and answers -1.
intptr_t CExtract::FailFile(int32_t detail, const char *reason)
{
    Fail(FDIERROR_TARGET_FILE, detail, reason);
    return -1;
}

/// Stored local time is turned into UTC unless bit 0x100 says it is UTC
/// already; the creation and last-write times get it, through the
/// descriptor's own handle. Nothing here can fail the file.
void CExtract::SetStoredTime(int32_t handle, uint16_t date, uint16_t time, uint16_t attribs)
{
    FILETIME stored;
    if (!DosDateTimeToFileTime(date, time, &stored)) {
        return;
    }
    FILETIME utc = stored;
    if ((attribs & Fdi::CAB_ATTRIB_TIME_IS_UTC) == 0) {
        LocalFileTimeToFileTime(&stored, &utc);
    }
    const intptr_t file = _get_osfhandle(handle);
    if (file != -1) {
        SetFileTime(reinterpret_cast<HANDLE>(file), &utc, nullptr, &utc);
    }
}

} // namespace Cabinet
