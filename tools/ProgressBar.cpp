// The progress bar of "selfex extract".
#include "tools/ProgressBar.h"

#include <cstdio>
#include <string>

namespace Selfex {

namespace {

constexpr int BAR_WIDTH = 30;
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(100);
constexpr size_t LINE_WIDTH = 79;

} // namespace

std::string FormatBytes(uint64_t bytes)
{
    if (bytes < 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    const char *units[] = {"KiB", "MiB", "GiB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    for (; value >= 1024 && unit < 2; ++unit) {
        value /= 1024;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

CProgressBar::CProgressBar(std::ostream &out, uint64_t totalBytes, uint32_t totalFiles)
    : m_Out(out), m_TotalBytes(totalBytes), m_TotalFiles(totalFiles)
{
}

void CProgressBar::Update(uint64_t bytesDone, uint32_t filesDone, bool force)
{
    auto now = std::chrono::steady_clock::now();
    if (m_Drawn && !force && now - m_LastDraw < REDRAW_INTERVAL) {
        return;
    }
    m_LastDraw = now;
    m_Drawn = true;

    // An empty package, or one of empty files, counts by files.
    double fraction = m_TotalBytes > 0   ? static_cast<double>(bytesDone) / static_cast<double>(m_TotalBytes)
                      : m_TotalFiles > 0 ? static_cast<double>(filesDone) / m_TotalFiles
                                         : 1.0;
    if (fraction > 1.0) {
        fraction = 1.0;
    }
    int filled = static_cast<int>(fraction * BAR_WIDTH);
    std::string line = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(BAR_WIDTH - filled), '.') + "] ";
    char figures[96];
    std::snprintf(figures, sizeof figures, "%3d%%  %u/%u files  %s of %s", static_cast<int>(fraction * 100), filesDone,
                  m_TotalFiles, FormatBytes(bytesDone).c_str(), FormatBytes(m_TotalBytes).c_str());
    line += figures;
    if (line.size() < LINE_WIDTH + 1) {
        line += std::string(LINE_WIDTH + 1 - line.size(), ' ');
    }
    m_Out << line << std::flush;
}

void CProgressBar::Finish()
{
    if (m_Drawn) {
        m_Out << "\r" << std::string(LINE_WIDTH, ' ') << "\r" << std::flush;
    }
    m_Drawn = false;
}

} // namespace Selfex
