// Words for the extractor's failures: ExtractError's Code and Detail and the
// decompressor's error block, put together with what the tool knows about
// the run (the file under way, its output path, the system's reason), then
// the numbers behind them. The words are the tool's own, the same from the
// Linux and the Windows build where the cause is the same.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

#include "cabinet/Extract.h"

namespace Selfex {

// What the tool knows about a failed run besides the extractor's numbers.
struct FailureScene {
    std::string StoredName;  // the file under way (UTF-8), or empty
    std::string OutputPath;  // where it was going (UTF-8, "/"), or empty
    std::string Operation;   // "create", "write" or "close" when the output failed at the system
    int SystemError = 0;     // the C runtime's errno of that failure
    std::string RefusedName; // a name the extractor refused (stored name or set member), or empty
    std::string RefusedWhy;  // why, in words
    std::string LinkPath;    // the link an output path passes through, when the tool found it
};

// A sentence for the failure recorded in error, followed by its numbers:
// "cannot write /out/a.bin: No space left on device (code 0, detail 0;
// FDI error 8, type 0)".
std::string DescribeExtractError(const Cabinet::ExtractError &error, const FailureScene &scene = FailureScene());

// The system's reason for errno value code, in the same words on every
// system: "No space left on device", "Permission denied".
std::string SystemErrorText(int code);

// The same words for an error of the C++ library (the file system's), or
// its own message when it has no errno equivalent.
std::string ErrorCodeText(const std::error_code &code);

// The same words for a Windows error number (GetLastError), or "Windows
// error N" for one without them.
std::string DescribeWindowsError(int32_t code);

} // namespace Selfex
