// Why a decoder call failed: one fixed text per failure site.
//
// The FDI codes say what kind of failure ended a call; the reason says why,
// in a few words, as libmspack logs at each site ("bad block type", "match
// offset beyond window"). Every site that makes a call fail goes through
// Fail, which records the text and returns the fault or status, so that
// each site stays one greppable line:
//     return Fail(Fault::Corrupt, "CFDATA checksum does not match");
// A site that only passes a fault on records nothing; one that turns a
// fault into another may say why anew. The latest text on the calling
// thread is kept until ClearReason: FDICopy and FDIIsCabinet clear it when
// they start and hand it to their context when they fail, where the
// library's extra entry SelfexFdiReason (FdiReason.h) reads it. The texts
// are string literals: they live as long as the library.
#pragma once

#include "fdi/Fault.h"

namespace Fdi {

[[gnu::cold]] Fault Fail(Fault fault, const char *reason);
[[gnu::cold]] Status Fail(Status status, const char *reason);

// The text of the latest failure on this thread, or NULL.
const char *LastReason();
void ClearReason();

} // namespace Fdi
