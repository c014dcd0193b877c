// The progress bar of "selfex extract" on a terminal: one line, redrawn in
// place, showing bytes and files done.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace Selfex {

class CProgressBar {
public:
    CProgressBar(std::ostream &out, uint64_t totalBytes, uint32_t totalFiles);

    // Redraws the line, at most every 100 ms unless force is set.
    void Update(uint64_t bytesDone, uint32_t filesDone, bool force = false);
    // Clears the line.
    void Finish();

private:
    std::ostream &m_Out;
    uint64_t m_TotalBytes;
    uint32_t m_TotalFiles;
    std::chrono::steady_clock::time_point m_LastDraw;
    bool m_Drawn = false;
};

// "1.5 MiB", "512 bytes": a byte count for people.
std::string FormatBytes(uint64_t bytes);

} // namespace Selfex
