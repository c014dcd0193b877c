// The progress line of pack, extract and test on a terminal: redrawn in
// place on the error output at most ten times a second, fitted to the
// terminal's current width (ToolContext::ErrColumns, which follows resizes).
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "tools/Cli.h"
#include "tools/ProgressLine.h"

namespace Selfex {

class CProgressBar {
public:
    // Draws nothing unless context's error output is a terminal and the
    // command is not quiet.
    CProgressBar(ToolContext &context, bool enabled, uint64_t totalBytes, uint32_t totalFiles);
    ~CProgressBar() { Clear(); }
    CProgressBar(const CProgressBar &) = delete;
    CProgressBar &operator=(const CProgressBar &) = delete;

    bool Enabled() const { return m_Enabled; }

    // A file begins; name as stored.
    void StartFile(const std::string &name);
    // written bytes of the current file are done.
    void FileBytes(uint64_t written);
    // The current file is done (size bytes).
    void EndFile(uint64_t size);
    // A file of size bytes counted in the totals will not be done after all.
    void SkipFile(uint64_t size);

    // Removes the line, so that a message or a question can take its place;
    // the next update draws it again.
    void Clear();
    // Seconds since construction.
    double Seconds() const;
    const ProgressState &State() const { return m_State; }

private:
    void Draw(bool force);

    ToolContext &m_Context;
    bool m_Enabled;
    ProgressState m_State;
    uint64_t m_FileStart = 0; // BytesDone when the current file began
    std::chrono::steady_clock::time_point m_Start;
    std::chrono::steady_clock::time_point m_LastDraw;
    size_t m_DrawnWidth = 0; // columns of the line on screen; 0 when none
};

} // namespace Selfex
