// Cabinet stream handlers: the decompressor's memory and file callbacks, the
// raw I/O slots and the handlers between them.
//
// A cabinet appended to a package is presented to the decompressor as a file
// of its own: every read open searches for the header from
// CABINET_SEARCH_START on, seeks on a tracked (read-opened) handle are shifted
// by the cabinet base found, and positions reported back count from the
// header, which is where every offset stored in a cabinet counts from.
#include <cstdio>
#include <cstring>
#include <new>

#include "cabinet/Extract.h"
#include "cabinet/ThreadSlot.h"
#include "fdi/CabFormat.h"

namespace Cabinet {

namespace {

constexpr char ENCIPHERED_MAGIC[4] = {'C', 'R', 'Y', 'P'};

bool IsValidHandle(int32_t handle)
{
    return handle != 0 && handle != -1;
}

// Sums positions the way a 32-bit file offset wraps, without signed overflow.
int32_t AddPositions(int32_t position, int32_t delta)
{
    return static_cast<int32_t>(static_cast<uint32_t>(position) + static_cast<uint32_t>(delta));
}

} // namespace

// --- The callbacks handed to the decompressor -------------------------------

// Out of memory is a failure the decompressor reports like any other
// (FDIERROR_ALLOC_FAIL); nothing may unwind through its frames.
void *CExtract::FdiAlloc(ULONG size) noexcept
{
    void *block = ::operator new(size, std::nothrow);
    CExtract *extractor = block == nullptr ? BoundExtractor() : nullptr;
    if (extractor != nullptr) {
        extractor->RecordOutOfMemory();
    }
    return block;
}

void CExtract::FdiFree(void *block) noexcept
{
    ::operator delete(block);
}

void CExtract::RecordOutOfMemory() noexcept
{
    Fail(ERR_OUT_OF_MEMORY, ERROR_NOT_ENOUGH_MEMORY, CABINET_REASON("out of memory"));
    // Decompressors that retry after a failed call stop at the next
    // notification.
    m_AbortRequested = true;
}

// Every open of the decompressor is a read open: its permission argument is
// replaced by _S_IREAD, so the file is searched and tracked.
INT_PTR CExtract::FdiOpen(char *name, int flags, int permission) noexcept
{
    CExtract *extractor = BoundExtractor();
    if (extractor == nullptr) {
        return -1;
    }
    try {
        return extractor->OnOpen(name, flags, _S_IREAD);
    } catch (const std::bad_alloc &) {
        extractor->RecordOutOfMemory();
        return -1;
    }
}

UINT CExtract::FdiRead(INT_PTR handle, void *buffer, UINT count) noexcept
{
    CExtract *extractor = BoundExtractor();
    if (extractor == nullptr) {
        return static_cast<UINT>(-1);
    }
    try {
        return static_cast<UINT>(extractor->OnRead(static_cast<int32_t>(handle), buffer, count));
    } catch (const std::bad_alloc &) {
        extractor->RecordOutOfMemory();
        return static_cast<UINT>(-1);
    }
}

UINT CExtract::FdiWrite(INT_PTR handle, void *buffer, UINT count) noexcept
{
    CExtract *extractor = BoundExtractor();
    if (extractor == nullptr) {
        return static_cast<UINT>(-1);
    }
    try {
        return static_cast<UINT>(extractor->OnWrite(static_cast<int32_t>(handle), buffer, count));
    } catch (const std::bad_alloc &) {
        extractor->RecordOutOfMemory();
        return static_cast<UINT>(-1);
    }
}

int CExtract::FdiClose(INT_PTR handle) noexcept
{
    CExtract *extractor = BoundExtractor();
    if (extractor == nullptr) {
        return -1;
    }
    try {
        return extractor->OnClose(static_cast<int32_t>(handle));
    } catch (const std::bad_alloc &) {
        extractor->RecordOutOfMemory();
        return -1;
    }
}

LONG CExtract::FdiSeek(INT_PTR handle, LONG offset, int origin) noexcept
{
    CExtract *extractor = BoundExtractor();
    if (extractor == nullptr) {
        return -1;
    }
    try {
        return extractor->OnSeek(static_cast<int32_t>(handle), offset, origin);
    } catch (const std::bad_alloc &) {
        extractor->RecordOutOfMemory();
        return -1;
    }
}

// --- Raw I/O slots ---------------------------------------------------------

int32_t CExtract::RawRead(int32_t handle, void *buffer, uint32_t count)
{
    return _read(handle, buffer, count);
}

int32_t CExtract::RawWrite(int32_t handle, const void *buffer, uint32_t count)
{
    return _write(handle, buffer, count);
}

int32_t CExtract::RawClose(int32_t handle)
{
    return _close(handle);
}

int32_t CExtract::RawSeek(int32_t handle, int32_t offset, int origin)
{
    return static_cast<int32_t>(_lseek(handle, offset, origin));
}

int32_t CExtract::RawOpen(const WCHAR *path, int flags, int permission)
{
    return _wopen(path, flags, permission);
}

// --- Stream handlers -------------------------------------------------------

int32_t CExtract::OnOpen(const char *name, int flags, int permission)
{
    // During Copy every cabinet the decompressor opens is the first one or
    // a member a header named; the latter must be a plain file name in the
    // first one's folder, whatever the decompressor does with it.
    if (m_Copying) {
        const NameRule rule = CheckCabinetOpen(name);
        if (rule != NameRule::Accepted) {
            CStrBufW shown;
            shown.AssignMultiByte(CP_UTF8, name);
            RefuseName(rule, shown.Data);
            Fail(ERR_BAD_SET_MEMBER, ERROR_INVALID_NAME, CABINET_REASON("a set member name the name rule refuses"));
            return -1;
        }
    }
    CStrBufW path;
    path.AssignMultiByte(CP_UTF8, name);
    return OpenStream(path.Data, flags, permission);
}

int32_t CExtract::OpenStream(const WCHAR *path, int flags, int permission)
{
    const int32_t handle = RawOpen(path, flags, permission);
    if ((permission & _S_IWRITE) != 0) {
        return handle; // an output file: neither tracked nor searched
    }
    if (!IsValidHandle(handle)) {
        return handle;
    }
    m_Positions.Set(handle, 0);
    SearchCabinetHeader(handle);
    return handle;
}

/// Looks for "MSCF" in the CABINET_SEARCH_WINDOW bytes from
/// CABINET_SEARCH_START on; the lowest match becomes the cabinet base and the
/// handle is left at it. Without a match the base keeps its value and the
/// handle stays behind the bytes read. Returns the match's file offset or -1.
/// The search reads through the raw slots like every other access, so that a
/// subclass serving a view of a file (the selfex tool shows a bare cabinet
/// behind a zero prefix) is searched as it reads; the default slots are the
/// runtime's own calls.
int32_t CExtract::SearchCabinetHeader(int32_t handle)
{
    // Zero-filled, so that a short read (a file that ends inside the window,
    // or before it) leaves nothing behind that could match.
    uint8_t window[CABINET_SEARCH_WINDOW] = {};
    static_cast<void>(RawSeek(handle, CABINET_SEARCH_START, SEEK_SET));
    static_cast<void>(RawRead(handle, window, sizeof window));
    const int32_t index = FindCabinetMagic(window, sizeof window);
    if (index < 0) {
        return -1;
    }
    m_CabinetBase = CABINET_SEARCH_START + index;
    static_cast<void>(RawSeek(handle, m_CabinetBase, SEEK_SET));
    return m_CabinetBase;
}

int32_t CExtract::OnRead(int32_t handle, void *buffer, uint32_t count)
{
    const int32_t position = m_Positions.Get(handle);
    const int32_t n = RawRead(handle, buffer, count);
    if (IsValidHandle(handle)) {
        m_Positions.Set(handle, AddPositions(position, n));
    }
    // Every read at logical position 0 is a header read, also after a seek
    // back to 0. Fewer than 4 bytes pass unchecked.
    if (position != 0 || n < 4) {
        return n;
    }
    if (std::memcmp(buffer, Fdi::CAB_SIGNATURE, sizeof Fdi::CAB_SIGNATURE) == 0) {
        return n;
    }
    if (std::memcmp(buffer, ENCIPHERED_MAGIC, sizeof ENCIPHERED_MAGIC) == 0) {
        Fail(ERR_ENCIPHERED, 0, CABINET_REASON("an enciphered cabinet (\"CRYP\")"));
    } else {
        Fail(FDIERROR_NOT_A_CABINET, 0, CABINET_REASON("no \"MSCF\" where the cabinet header must be"));
    }
    return -1;
}

int32_t CExtract::OnWrite(int32_t handle, const void *buffer, uint32_t count)
{
    int32_t result;
    if (m_InMemory) {
        // Whatever the handle: in-memory mode has only the sink.
        switch (m_Sink.Append(buffer, count)) {
        case SinkAppend::Appended: result = static_cast<int32_t>(count); break;
        case SinkAppend::Overflow:
            Fail(ERR_MEMORY_FULL, 0, CABINET_REASON("more bytes than the file's declared size"));
            result = -1;
            break;
        default:
            RecordOutOfMemory();
            result = -1;
            break;
        }
    } else {
        result = RawWrite(handle, buffer, count);
    }
    if (result <= 0 || handle != m_CurrentFile.Handle) {
        return result;
    }

    // Counted whatever the callbacks, so that a file cut short is known.
    m_CurrentFile.Received += static_cast<uint32_t>(result);
    if (Callbacks.OnProgress == nullptr) {
        return result;
    }
    m_CurrentFile.Written += static_cast<uint32_t>(result);
    const uint32_t now = GetTickCount();
    // The tick count wraps after 49.7 days: the difference is read as a signed
    // 32-bit number, and its magnitude is compared with the interval.
    const int32_t elapsed = static_cast<int32_t>(now - m_CurrentFile.LastTick);
    const int64_t distance = elapsed < 0 ? -static_cast<int64_t>(elapsed) : elapsed;
    const int32_t interval = static_cast<int32_t>(Callbacks.ProgressIntervalMs);
    if (interval != 0 && distance <= interval && m_CurrentFile.Written != m_CurrentFile.Size) {
        return result;
    }
    // Both counts are unsigned: files of 2 GiB and more must not turn negative.
    const double percent = static_cast<double>(m_CurrentFile.Written) * 100.0 / static_cast<double>(m_CurrentFile.Size);
    ReportProgress(now, static_cast<float>(percent));
    return result;
}

void CExtract::ReportProgress(uint32_t now, float percent)
{
    ProgressInfo info;
    info.RelPath = m_CurrentFile.RelPath.Data;
    info.OutPath = m_CurrentFile.OutPath.Data;
    info.Size = m_CurrentFile.Size;
    info.Written = m_CurrentFile.Written;
    info.Percent = percent;
    m_CurrentFile.LastTick = now;
    Callbacks.OnProgress(&info, m_UserData);
}

int32_t CExtract::OnClose(int32_t handle)
{
    // 0, -1 and the in-memory pseudo handles (negative) are not descriptors.
    if (handle <= 0) {
        return 0;
    }
    const int32_t result = RawClose(handle);
    if (handle == m_CurrentFile.Handle) {
        // The close notification hands a finished file over before closing
        // it, so the current file closed here is unfinished: the decompressor
        // gave up on it, or the run stopped before its close notification.
        // It must not stay behind looking like a good file.
        DeleteFileW(m_CurrentFile.OutPath.Data);
        m_CurrentFile.Reset();
    }
    m_Positions.Remove(handle);
    return result;
}

int32_t CExtract::OnSeek(int32_t handle, int32_t offset, int origin)
{
    if (m_Positions.Find(handle) < 0) {
        return RawSeek(handle, offset, origin); // plain file offsets
    }

    int32_t filePosition;
    if (origin == SEEK_SET) {
        const int64_t target = static_cast<int64_t>(offset) + m_CabinetBase;
        filePosition = target > INT32_MAX ? -1 : RawSeek(handle, static_cast<int32_t>(target), SEEK_SET);
    } else {
        filePosition = RawSeek(handle, offset, origin);
    }
    // A failure stays -1: shifted by the base it would pass for a position.
    if (filePosition == -1) {
        return -1;
    }
    const int32_t position = filePosition - m_CabinetBase;
    m_Positions.Set(handle, position);
    return position;
}

} // namespace Cabinet
