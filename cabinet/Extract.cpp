// Cabinet::CExtract: the object, its thread binding, Create, IsCabinet and
// Destroy.
#include "cabinet/Extract.h"

#include <new>

#include "cabinet/SystemLibrary.h"
#include "cabinet/ThreadSlot.h"
#include "fdi/CabFormat.h"

namespace Cabinet {

namespace {

// IsCabinet opens the package for reading only, sequentially.
constexpr int ISCAB_OPEN_FLAGS = _O_BINARY | _O_SEQUENTIAL;
constexpr int ISCAB_PERMISSION = _S_IREAD;

bool HasSlot()
{
    return g_TlsIndex != TLS_OUT_OF_INDEXES;
}

void *SlotValue()
{
    return BoundExtractor();
}

// Entry points are resolved by name; the detour through a plain function
// pointer type keeps the cast from FARPROC free of signature warnings.
template <typename Fn>
Fn ResolveEntry(HMODULE library, const char *name)
{
    FARPROC entry = GetProcAddress(library, name);
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(entry));
}

} // namespace

void ExtractError::Reset()
{
    Erf.erfOper = 0;
    Erf.erfType = 0;
    Erf.fError = 0;
    Code = 0;
    Detail = 0;
    Reason = nullptr;
}

const char *ReasonText(const ExtractError &error)
{
    return error.Reason != nullptr ? error.Reason : "";
}

uint16_t AppliedAttributes(uint16_t stored)
{
    return stored & Fdi::CAB_ATTRIBS_OF_FILE;
}

bool CExtract::Fail(int32_t code, int32_t detail, const char *reason)
{
    Error.Code = code;
    Error.Detail = detail;
    Error.Reason = reason;
    return false;
}

void CExtract::TakeDecoderReason()
{
    if (Error.Reason != nullptr || m_FdiReason == nullptr) {
        return;
    }
    const char *reason = m_FdiReason(m_Context);
    if (reason == nullptr) {
        return;
    }
    size_t i = 0;
    for (; reason[i] != 0 && i + 1 < sizeof m_DecoderReason; ++i) {
        m_DecoderReason[i] = reason[i];
    }
    m_DecoderReason[i] = 0;
    Error.Reason = m_DecoderReason;
}

bool ExtractError::HasError() const
{
    return Erf.fError != 0 || Detail != 0 || Code != 0;
}

void CurrentFile::Reset()
{
    Handle = 0;
    Size = 0;
    Written = 0;
    LastTick = 0;
    Received = 0;
    RelPath.Data[0] = 0;
    OutPath.Data[0] = 0;
}

CExtract::CExtract() : m_CreatorThread(GetCurrentThreadId())
{
    Error.Reset();
}

CExtract::~CExtract()
{
    Destroy();
    // Even when FDIDestroy failed, the slot must not keep pointing at a
    // destroyed object.
    if (SlotValue() == this) {
        TlsSetValue(g_TlsIndex, nullptr);
    }
    if (m_Library != nullptr) {
        FreeLibrary(m_Library);
    }
}

void CExtract::Abort()
{
    m_AbortRequested = true;
}

bool CExtract::IsCreatorThread()
{
    if (GetCurrentThreadId() == m_CreatorThread) {
        return true;
    }
    return Fail(ERR_WRONG_THREAD, 0, CABINET_REASON("called on another thread than the one that made the extractor"));
}

/// Loads Cabinet.dll and resolves its four entries. Windows: from the system
/// directory only (by the search flag, or by full path where the flag is
/// unknown), so that a Cabinet.dll planted beside a downloaded package never
/// runs; POSIX: the platform layer's lookup of our decoder library.
bool CExtract::LoadCabinetLibrary()
{
    if (m_Library == nullptr) {
        m_Library = LoadSystemLibrary(WIDE("Cabinet.dll"));
    }
    if (m_Library != nullptr) {
        m_FdiCreate = ResolveEntry<FdiCreateFn>(m_Library, "FDICreate");
        m_FdiCopy = ResolveEntry<FdiCopyFn>(m_Library, "FDICopy");
        m_FdiIsCabinet = ResolveEntry<FdiIsCabinetFn>(m_Library, "FDIIsCabinet");
        m_FdiDestroy = ResolveEntry<FdiDestroyFn>(m_Library, "FDIDestroy");
        m_FdiReason = ResolveEntry<FdiReasonFn>(m_Library, FDI_REASON_ENTRY); // optional
        if (m_FdiCreate != nullptr && m_FdiCopy != nullptr && m_FdiIsCabinet != nullptr && m_FdiDestroy != nullptr) {
            return true;
        }
        // A library without the four entries is not the decompressor; it
        // stays mapped (unloading is left to process exit), and a later Create
        // tries again.
        m_Library = nullptr;
    }
    return Fail(ERR_CABINET_DLL, 0, CABINET_REASON("Cabinet.dll or one of its FDI entries is missing"));
}

/// Binds this extractor to the thread's slot (on the creating thread only,
/// and only when no extractor holds the slot), clears the error record, and
/// creates the one decompressor context of this object, loading Cabinet.dll
/// first if needed. A second Create on a live context fails.
bool CExtract::Create()
{
    if (!IsCreatorThread()) {
        return false;
    }
    if (SlotValue() != nullptr) {
        return Fail(ERR_THREAD_BUSY, 0, CABINET_REASON("this thread has an extractor already"));
    }
    if (!HasSlot() || !TlsSetValue(g_TlsIndex, this)) {
        return Fail(0, ERROR_OUTOFMEMORY, CABINET_REASON("no thread-local slot"));
    }
    Error.Reset();
    if (m_Context != nullptr) {
        return false;
    }
    if (m_Library == nullptr && !LoadCabinetLibrary()) {
        return false;
    }
    m_Context = m_FdiCreate(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpu80386, &Error.Erf);
    if (m_Context == nullptr && Error.Reason == nullptr) {
        Error.Reason = CABINET_REASON("FDICreate failed");
    }
    return m_Context != nullptr;
}

int CExtract::IsCabinet(const CStrBufW &path, FDICABINETINFO *info)
{
    if (!IsCreatorThread() || m_Context == nullptr) {
        return 0;
    }
    Error.Reset();
    m_Positions.Clear();
    m_InMemory = false;

    int32_t handle = 0;
    int result = 0;
    try {
        handle = OpenStream(path.Data, ISCAB_OPEN_FLAGS, ISCAB_PERMISSION);
        if (handle > 0) {
            FDICABINETINFO scratch{};
            result = m_FdiIsCabinet(m_Context, handle, info != nullptr ? info : &scratch);
            if (!result) {
                TakeDecoderReason();
            }
        }
    } catch (const std::bad_alloc &) {
        RecordOutOfMemory();
        result = 0;
    }
    // Closing through the stream handler makes the position table forget it.
    OnClose(handle);
    return result;
}

bool CExtract::Destroy()
{
    if (!IsCreatorThread()) {
        return false;
    }
    if (m_Context != nullptr) {
        const BOOL destroyed = m_FdiDestroy(m_Context);
        m_Context = nullptr;
        m_Sink.Release();
        if (!destroyed) {
            return false;
        }
    }
    // An extractor whose Create found the slot taken must not unbind the
    // extractor that holds it.
    void *bound = SlotValue();
    if (bound == nullptr || bound == this) {
        if (HasSlot()) {
            TlsSetValue(g_TlsIndex, nullptr);
        }
    }
    return true;
}

} // namespace Cabinet
