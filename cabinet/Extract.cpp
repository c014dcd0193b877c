// Cabinet::CExtract: the object, its thread binding, Create, IsCabinet and
// Destroy.
#include "cabinet/Extract.h"

#include <new>

#include "cabinet/SystemLibrary.h"
#include "cabinet/ThreadSlot.h"

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
    Error.Code = ERR_WRONG_THREAD;
    Error.Detail = 0;
    return false;
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
        if (m_FdiCreate != nullptr && m_FdiCopy != nullptr && m_FdiIsCabinet != nullptr && m_FdiDestroy != nullptr) {
            return true;
        }
        // A library without the four entries is not the decompressor; it
        // stays mapped (unloading is left to process exit), and a later Create
        // tries again.
        m_Library = nullptr;
    }
    Error.Code = ERR_CABINET_DLL;
    Error.Detail = 0;
    return false;
}

/// 1. Creator thread only. 2. The slot must be free. 3. Bind. 4. Fresh error
/// record. 5. One context per object. 6. Library. 7. FDICreate.
bool CExtract::Create()
{
    if (!IsCreatorThread()) {
        return false;
    }
    if (SlotValue() != nullptr) {
        Error.Code = ERR_THREAD_BUSY;
        Error.Detail = 0;
        return false;
    }
    if (!HasSlot() || !TlsSetValue(g_TlsIndex, this)) {
        Error.Code = 0;
        Error.Detail = ERROR_OUTOFMEMORY;
        return false;
    }
    Error.Reset();
    if (m_Context != nullptr) {
        return false;
    }
    if (m_Library == nullptr && !LoadCabinetLibrary()) {
        return false;
    }
    m_Context = m_FdiCreate(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpu80386, &Error.Erf);
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
