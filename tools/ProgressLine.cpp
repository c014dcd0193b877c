// The progress line of pack, extract and test.
#include "tools/ProgressLine.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tools/PrintableText.h"

namespace Selfex {

namespace {

constexpr size_t BAR_MIN = 8; // "[######]" below this says nothing
constexpr size_t BAR_MAX = 32;
constexpr size_t NAME_MIN = 12;            // a shorter name is no help
constexpr double RATE_AFTER_SECONDS = 1.0; // before, a rate or time left is a guess
const char ELLIPSIS[] = "\xE2\x80\xA6";

size_t CodePointWidth(uint32_t c)
{
    const bool combining = (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
                           (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
                           (c >= 0xFE20 && c <= 0xFE2F) || c == 0x200B || c == 0x200C || c == 0x200D;
    if (combining) {
        return 0;
    }
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
                      (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                      (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// The code points of text with their byte lengths; an ill-formed byte is
// one unit of width 1.
struct Unit {
    size_t Bytes;
    size_t Width;
};

std::vector<Unit> Units(std::string_view text)
{
    std::vector<Unit> units;
    for (size_t at = 0; at < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = DecodeUtf8At(text, at, codePoint);
        units.push_back(length == 0 ? Unit{1, 1} : Unit{length, CodePointWidth(codePoint)});
        at += length == 0 ? 1 : length;
    }
    return units;
}

std::string Percent(const ProgressState &state)
{
    // An empty package, or one of empty files, counts by files.
    double fraction = state.BytesTotal > 0
                          ? static_cast<double>(state.BytesDone) / static_cast<double>(state.BytesTotal)
                      : state.FilesTotal > 0 ? static_cast<double>(state.FilesDone) / state.FilesTotal
                                             : 1.0;
    fraction = fraction > 1.0 ? 1.0 : fraction;
    char text[8];
    std::snprintf(text, sizeof text, "%3d%%", static_cast<int>(fraction * 100));
    return text;
}

std::string Bar(const ProgressState &state, size_t width)
{
    double fraction = state.BytesTotal > 0
                          ? static_cast<double>(state.BytesDone) / static_cast<double>(state.BytesTotal)
                      : state.FilesTotal > 0 ? static_cast<double>(state.FilesDone) / state.FilesTotal
                                             : 1.0;
    fraction = fraction > 1.0 ? 1.0 : fraction;
    const size_t inside = width - 2;
    const auto filled = static_cast<size_t>(fraction * static_cast<double>(inside));
    return "[" + std::string(filled, '#') + std::string(inside - filled, '.') + "]";
}

} // namespace

std::string FormatBytes(uint64_t bytes)
{
    if (bytes < 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    const char *units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    for (; value >= 1024 && unit < 3; ++unit) {
        value /= 1024;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string FormatDuration(double seconds)
{
    const auto total = static_cast<unsigned long>(seconds < 0 ? 0 : seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lu:%02lu", total / 60, total % 60);
    }
    return text;
}

size_t DisplayWidth(std::string_view text)
{
    size_t width = 0;
    for (const Unit &unit : Units(text)) {
        width += unit.Width;
    }
    return width;
}

std::string ShortenMiddle(std::string_view text, size_t width)
{
    const std::vector<Unit> units = Units(text);
    size_t total = 0;
    for (const Unit &unit : units) {
        total += unit.Width;
    }
    if (total <= width) {
        return std::string(text);
    }
    if (width == 0) {
        return std::string();
    }
    // The end holds the file name: it gets the larger half.
    const size_t room = width - 1;
    size_t headWidth = room / 3;
    size_t tailWidth = room - headWidth;
    size_t headBytes = 0;
    size_t used = 0;
    for (size_t i = 0; i < units.size() && used + units[i].Width <= headWidth; ++i) {
        used += units[i].Width;
        headBytes += units[i].Bytes;
    }
    tailWidth += headWidth - used; // what a wide character left over at the head
    size_t tailBytes = 0;
    used = 0;
    for (size_t i = units.size(); i > 0 && used + units[i - 1].Width <= tailWidth; --i) {
        used += units[i - 1].Width;
        tailBytes += units[i - 1].Bytes;
    }
    return std::string(text.substr(0, headBytes)) + ELLIPSIS + std::string(text.substr(text.size() - tailBytes));
}

std::string RenderProgress(const ProgressState &state, size_t width)
{
    const size_t room = width > 0 ? width - 1 : 0;
    const std::string percent = Percent(state);
    if (room < percent.size()) {
        return std::string();
    }
    const bool timed = state.Seconds >= RATE_AFTER_SECONDS && state.BytesDone > 0;
    const double rate = timed ? static_cast<double>(state.BytesDone) / state.Seconds : 0;

    // The pieces in the order they are given up when room is short; each
    // costs its width and the two spaces before it.
    const std::string bytes = FormatBytes(state.BytesDone) + " of " + FormatBytes(state.BytesTotal);
    const std::string name = PrintableText(state.CurrentName);
    const uint64_t left = state.BytesTotal > state.BytesDone ? state.BytesTotal - state.BytesDone : 0;
    const std::string eta = "ETA " + (timed ? FormatDuration(static_cast<double>(left) / rate) : std::string("-:--"));
    const std::string speed = (timed ? FormatBytes(static_cast<uint64_t>(rate)) : std::string("-")) + "/s";
    const std::string files = std::to_string(state.FilesDone) + "/" + std::to_string(state.FilesTotal) + " files";

    size_t used = percent.size();
    auto take = [&](const std::string &piece) {
        if (piece.empty() || used + 2 + piece.size() > room) {
            return false;
        }
        used += 2 + piece.size();
        return true;
    };
    const bool withBytes = take(bytes);
    const size_t nameWidth = DisplayWidth(name);
    const bool withName = nameWidth > 0 && used + 2 + std::min(nameWidth, NAME_MIN) <= room;
    if (withName) {
        used += 2 + std::min(nameWidth, NAME_MIN);
    }
    const bool withEta = take(eta);
    const bool withSpeed = take(speed);

    // The name takes what it needs of the rest before the file count and
    // the bar, which only repeat what the figures say.
    size_t nameRoom = 0;
    if (withName) {
        const size_t extra = std::min(nameWidth - std::min(nameWidth, NAME_MIN), room - used);
        nameRoom = std::min(nameWidth, NAME_MIN) + extra;
        used += extra;
    }
    const bool withFiles = take(files);
    const bool withBar = used + 2 + BAR_MIN <= room;
    size_t barWidth = 0;
    if (withBar) {
        barWidth = std::min(BAR_MAX, room - used - 2);
    }

    std::string line;
    auto append = [&line](const std::string &piece) {
        if (!line.empty()) {
            line += "  ";
        }
        line += piece;
    };
    if (withBar) {
        append(Bar(state, barWidth));
    }
    append(percent);
    if (withBytes) {
        append(bytes);
    }
    if (withFiles) {
        append(files);
    }
    if (withSpeed) {
        append(speed);
    }
    if (withEta) {
        append(eta);
    }
    if (withName) {
        append(ShortenMiddle(name, nameRoom));
    }
    return line;
}

} // namespace Selfex
