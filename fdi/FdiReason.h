// The decoder's extra entry: why its last call on a context failed.
//
// Our libcabinet.so exports it besides the FDI functions; Windows'
// Cabinet.dll has nothing like it, so a caller looks it up by name
// (GetProcAddress) and does without when it is missing. Dependency-free:
// the extractor, built for Windows too, includes it for the name and type.
#pragma once

// const char *SelfexFdiReason(HFDI hfdi): why the last FDICopy or
// FDIIsCabinet on hfdi failed, in a few words ("CFDATA checksum does not
// match"); NULL after a success, for a pointer that is no live context, or
// when the failure recorded no reason. The text is a constant of the
// library: valid while it stays loaded.
constexpr char FDI_REASON_ENTRY[] = "SelfexFdiReason";
using FdiReasonFn = const char *(*)(void *hfdi);
