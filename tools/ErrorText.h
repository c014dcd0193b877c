// Words for the extractor's failures: ExtractError's Code and Detail and the
// decompressor's error block, translated, with the numbers behind them.
#pragma once

#include <cstdint>
#include <string>

#include "cabinet/Extract.h"

namespace Selfex {

// A sentence for the failure recorded in error, followed by its numbers:
// "the cabinet is corrupt or truncated (code 0, detail 0; FDI error 4)".
std::string DescribeExtractError(const Cabinet::ExtractError &error);

// Words for a Windows error number ("access denied"), or "error N".
std::string DescribeWindowsError(int32_t code);

} // namespace Selfex
