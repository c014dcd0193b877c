// The progress line of pack, extract and test on a terminal.
#include "tools/ProgressBar.h"

#include <algorithm>

namespace Selfex {

namespace {

constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(100);
constexpr size_t DEFAULT_COLUMNS = 80;

size_t Columns(const ToolContext &context)
{
    const size_t columns = context.ErrColumns ? context.ErrColumns() : DEFAULT_COLUMNS;
    return columns < 2 ? 2 : columns;
}

} // namespace

CProgressBar::CProgressBar(ToolContext &context, bool enabled, uint64_t totalBytes, uint32_t totalFiles)
    : m_Context(context), m_Enabled(enabled && context.ErrIsTerminal), m_Start(std::chrono::steady_clock::now())
{
    m_State.BytesTotal = totalBytes;
    m_State.FilesTotal = totalFiles;
}

void CProgressBar::StartFile(const std::string &name)
{
    m_State.CurrentName = name;
    m_FileStart = m_State.BytesDone;
    Draw(false);
}

void CProgressBar::FileBytes(uint64_t written)
{
    m_State.BytesDone = m_FileStart + written;
    Draw(false);
}

void CProgressBar::EndFile(uint64_t size)
{
    m_State.BytesDone = m_FileStart + size;
    m_FileStart = m_State.BytesDone;
    ++m_State.FilesDone;
    m_State.CurrentName.clear();
    Draw(m_State.FilesDone == m_State.FilesTotal);
}

void CProgressBar::SkipFile(uint64_t size)
{
    m_State.BytesTotal -= std::min(size, m_State.BytesTotal);
    m_State.FilesTotal -= m_State.FilesTotal > 0 ? 1 : 0;
}

double CProgressBar::Seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
}

void CProgressBar::Draw(bool force)
{
    if (!m_Enabled) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_DrawnWidth != 0 && !force && now - m_LastDraw < REDRAW_INTERVAL) {
        return;
    }
    // Only when drawing: asking a Windows console its width is a round trip
    // (under Wine, a slow one), and Draw runs for every block.
    const size_t columns = Columns(m_Context);
    m_LastDraw = now;
    m_State.Seconds = Seconds();
    const std::string line = RenderProgress(m_State, columns);
    const size_t width = DisplayWidth(line);
    // Spaces over what a longer line before left, within the width: after a
    // resize to fewer columns the old line may have wrapped, which no
    // redraw can undo, but the new one stays on its row.
    const size_t pad = m_DrawnWidth > width ? std::min(m_DrawnWidth, columns - 1) - width : 0;
    // One write: a console (Wine's above all) redraws for each.
    m_Context.Err << ("\r" + line + std::string(pad, ' ')) << std::flush;
    m_DrawnWidth = width;
}

void CProgressBar::Clear()
{
    if (m_DrawnWidth == 0) {
        return;
    }
    const size_t columns = Columns(m_Context);
    m_Context.Err << "\r" << std::string(std::min(m_DrawnWidth, columns - 1), ' ') << "\r" << std::flush;
    m_DrawnWidth = 0;
}

} // namespace Selfex
