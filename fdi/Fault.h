// The reasons an FDI call fails, as the cabinet reader reports them.
//
// Each maps to one FDIERROR code in the ERF block (Fdi.cpp); codec Status
// values are folded in by FaultFromStatus, also in Fdi.cpp, so both
// mappings live in one place.
#pragma once

#include "fdi/Codec.h"
#include "fdi/FdiApi.h"

namespace Fdi {

enum class Fault {
    None,
    CabinetNotFound, // a cabinet could not be opened
    NotACabinet,     // too short, or no "MSCF" signature
    UnknownVersion,  // header version above 1.3
    Corrupt,         // a format error, or a read or seek on a cabinet failed
    NoMemory,        // the alloc callback returned NULL
    BadCompression,  // unknown compression type or window size in a wanted folder
    DecoderFailure,  // the compressed data of a block is invalid
    TargetFile,      // a write to the target file failed or was short
    WrongCabinet,    // a continuation cabinet of another set or position
    UserAbort,       // a notification returned -1
    EndOfFile,       // the cabinet ended inside a data block
};

// The fault a codec status stands for (None for Status::Ok).
Fault FaultFromStatus(Status status);

// The FDIERROR code of a fault, as ERF.erfOper and NEXT_CABINET's fdie
// carry it.
FDIERROR ErrorCodeOf(Fault fault);

} // namespace Fdi
