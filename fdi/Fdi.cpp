// The FDI entry points: FDICreate, FDIIsCabinet, FDICopy, FDIDestroy, and
// the one place where internal faults become FDIERROR codes.
#include <cstring>
#include <new>
#include <type_traits>

#include "fdi/CabParser.h"
#include "fdi/Context.h"
#include "fdi/CopySession.h"
#include "fdi/FdiApi.h"
#include "fdi/FdiReason.h"
#include "fdi/Reason.h"

#define FDI_EXPORT extern "C" __attribute__((visibility("default")))

namespace Fdi {

Fault FaultFromStatus(Status status)
{
    switch (status) {
    case Status::Ok: return Fault::None;
    case Status::NoMemory: return Fault::NoMemory;
    case Status::BadCompression: return Fault::BadCompression;
    case Status::BadData: break;
    }
    return Fault::DecoderFailure;
}

FDIERROR ErrorCodeOf(Fault fault)
{
    switch (fault) {
    case Fault::None: return FDIERROR_NONE;
    case Fault::CabinetNotFound: return FDIERROR_CABINET_NOT_FOUND;
    case Fault::NotACabinet: return FDIERROR_NOT_A_CABINET;
    case Fault::UnknownVersion: return FDIERROR_UNKNOWN_CABINET_VERSION;
    case Fault::Corrupt: return FDIERROR_CORRUPT_CABINET;
    case Fault::NoMemory: return FDIERROR_ALLOC_FAIL;
    case Fault::BadCompression: return FDIERROR_BAD_COMPR_TYPE;
    case Fault::DecoderFailure: return FDIERROR_MDI_FAIL;
    case Fault::TargetFile: return FDIERROR_TARGET_FILE;
    case Fault::WrongCabinet: return FDIERROR_WRONG_CABINET;
    case Fault::UserAbort: return FDIERROR_USER_ABORT;
    case Fault::EndOfFile: return FDIERROR_EOF;
    }
    return FDIERROR_CORRUPT_CABINET;
}

namespace {

// FDIIsCabinet reads only the header and its names.
constexpr uint32_t HEADER_READ_AHEAD = 4096;

void SetError(PERF erf, Fault fault, int32_t detail)
{
    erf->erfOper = ErrorCodeOf(fault);
    erf->erfType = detail;
    erf->fError = 1;
}

// The context behind hfdi, or NULL for a pointer that is not a live one.
Context *ContextOf(HFDI hfdi)
{
    Context *context = static_cast<Context *>(hfdi);
    return context && context->Magic == CONTEXT_MAGIC ? context : nullptr;
}

} // namespace

} // namespace Fdi

using namespace Fdi;

FDI_EXPORT HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
                          PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, PERF perf)
{
    (void)cpuType; // only meaningful to the 16-bit library
    if (perf == nullptr) {
        // Current Windows refuses a missing error block.
        return nullptr;
    }
    void *block = pfnalloc && pfnfree ? pfnalloc(uint32_t(sizeof(Context))) : nullptr;
    if (block == nullptr) {
        SetError(perf, Fault::NoMemory, 0);
        return nullptr;
    }
    Context *context = new (block) Context{CONTEXT_MAGIC,
                                           Allocator{pfnalloc, pfnfree},
                                           FileCallbacks{pfnopen, pfnread, pfnwrite, pfnclose, pfnseek},
                                           perf,
                                           false,
                                           nullptr};
    std::memset(perf, 0, sizeof(*perf));
    return context;
}

FDI_EXPORT FDI_BOOL FDIIsCabinet(HFDI hfdi, intptr_t hf, PFDICABINETINFO pfdici)
{
    Context *context = ContextOf(hfdi);
    if (context == nullptr || pfdici == nullptr || context->Files.Read == nullptr || context->Files.Seek == nullptr) {
        return 0;
    }
    // Only read and seek are used, from the handle's current position; the
    // read-ahead is given back so the handle stands just behind the header.
    uint8_t buffer[HEADER_READ_AHEAD];
    CCabStream stream(context->Files, hf, buffer, HEADER_READ_AHEAD);
    CabHeader header;
    uint16_t version = 0;
    ClearReason();
    if (ReadHeader(stream, &header, &version) != Fault::None || stream.Sync() != Fault::None) {
        context->Reason = LastReason();
        return 0;
    }
    context->Reason = nullptr;
    pfdici->cbCabinet = int32_t(header.CbCabinet);
    pfdici->cFolders = header.CFolders;
    pfdici->cFiles = header.CFiles;
    pfdici->setID = header.SetId;
    pfdici->iCabinet = header.ICabinet;
    pfdici->fReserve = header.HasReserve();
    pfdici->hasprev = header.HasPrev();
    // Cabinet.dll reports no successor here, whatever the header says.
    pfdici->hasnext = 0;
    return 1;
}

FDI_EXPORT FDI_BOOL FDICopy(HFDI hfdi, char *pszCabinet, char *pszCabPath, int flags, PFNFDINOTIFY pfnfdin,
                            PFNFDIDECRYPT pfnfdid, void *pvUser)
{
    (void)flags;   // none are defined
    (void)pfnfdid; // decryption was never implemented by Windows either
    Context *context = ContextOf(hfdi);
    if (context == nullptr || context->Busy) {
        return 0;
    }
    const FileCallbacks &files = context->Files;
    if (pszCabinet == nullptr || pszCabPath == nullptr || pfnfdin == nullptr || !files.Open || !files.Read ||
        !files.Write || !files.Close || !files.Seek) {
        context->Reason = "a cabinet name, path, notification or file callback is missing";
        SetError(context->Erf, Fault::CabinetNotFound, 0);
        return 0;
    }
    context->Busy = true;
    ClearReason();
    int32_t detail = 0;
    Fault fault = RunCopy(*context, pszCabinet, pszCabPath, pfnfdin, pvUser, &detail);
    context->Busy = false;
    context->Reason = fault == Fault::None ? nullptr : LastReason();
    if (fault != Fault::None) {
        SetError(context->Erf, fault, detail);
        return 0;
    }
    return 1;
}

// Our extra entry (FdiReason.h); the type check keeps it in step with the
// type callers look it up with.
FDI_EXPORT const char *SelfexFdiReason(void *hfdi)
{
    const Context *context = ContextOf(hfdi);
    return context != nullptr ? context->Reason : nullptr;
}
static_assert(std::is_same_v<decltype(&SelfexFdiReason), FdiReasonFn>, "SelfexFdiReason's type");

FDI_EXPORT FDI_BOOL FDIDestroy(HFDI hfdi)
{
    Context *context = ContextOf(hfdi);
    if (context == nullptr || context->Busy) {
        return 0;
    }
    PFNFREE release = context->Memory.Free;
    context->Magic = 0;
    release(context);
    return 1;
}
