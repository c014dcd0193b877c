// The progress line of pack, extract and test, rendered without a terminal:
// a state and a width in, one line of text out, so that its fit can be
// checked at any width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Selfex {

struct ProgressState {
    uint64_t BytesDone = 0;
    uint64_t BytesTotal = 0;
    uint32_t FilesDone = 0;
    uint32_t FilesTotal = 0;
    double Seconds = 0;      // since the run started
    std::string CurrentName; // the file under way (UTF-8, as stored), or empty
};

// One line, without a line end, of at most width - 1 terminal columns (a
// line that reaches the last column makes some terminals wrap): the
// percentage always; then, as far as they fit, bytes done and total, the
// current file (shortened in the middle), the time left, the rate, the
// file count and a bar. The name is escaped as PrintableText does.
std::string RenderProgress(const ProgressState &state, size_t width);

// "1.5 MiB", "512 bytes": a byte count for people.
std::string FormatBytes(uint64_t bytes);

// "0:07", "12:34", "1:02:03": a duration for people, whole seconds.
std::string FormatDuration(double seconds);

// Terminal columns text takes (UTF-8): 2 for East Asian wide characters, 0
// for combining marks, 1 for the rest (an ill-formed byte counts 1).
size_t DisplayWidth(std::string_view text);

// text cut to at most width columns by replacing its middle with "…", so
// that both the start and the end (the file name) stay visible.
std::string ShortenMiddle(std::string_view text, size_t width);

} // namespace Selfex
