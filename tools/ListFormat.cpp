// Output of "selfex list".
#include "tools/ListFormat.h"

#include <cstdio>

#include "tools/PrintableText.h"

namespace Selfex {

namespace {

bool HasDate(const StoredFile &file)
{
    return file.Date != 0 || file.Time != 0;
}

std::string FormatDate(uint16_t date)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", 1980u + (date >> 9), (date >> 5) & 15u, date & 31u);
    return text;
}

std::string FormatTime(uint16_t time)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
    return text;
}

} // namespace

std::string FormatDosDateTime(uint16_t date, uint16_t time)
{
    if (date == 0 && time == 0) {
        return "---------- --------";
    }
    return FormatDate(date) + " " + FormatTime(time);
}

std::string FormatAttributes(uint16_t attribs)
{
    std::string text = "----";
    const char letters[] = "RHS";
    for (int bit = 0; bit < 3; ++bit) {
        if (attribs & (1u << bit)) {
            text[static_cast<size_t>(bit)] = letters[bit];
        }
    }
    if (attribs & 0x20) {
        text[3] = 'A';
    }
    return text;
}

void WriteListText(std::ostream &out, const std::vector<StoredFile> &files)
{
    for (const StoredFile &file : files) {
        char size[16];
        std::snprintf(size, sizeof size, "%10u", file.Size);
        out << size << "  " << FormatDosDateTime(file.Date, file.Time) << "  " << FormatAttributes(file.Attribs) << "  "
            << PrintableText(file.Name) << "\n";
    }
}

std::string JsonString(const std::string &text)
{
    std::string quoted = "\"";
    for (size_t at = 0; at < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = DecodeUtf8At(text, at, codePoint);
        if (length == 0) {
            // JSON text is Unicode: an ill-formed byte can only be replaced.
            quoted += "\\ufffd";
            ++at;
            continue;
        }
        if (codePoint == '"' || codePoint == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(codePoint);
        } else if (IsUnprintableCodePoint(codePoint)) {
            // Valid JSON either way; escaped, it is safe on a terminal too.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(codePoint));
            quoted += escape;
        } else {
            quoted.append(text, at, length);
        }
        at += length;
    }
    return quoted + "\"";
}

void WriteListJson(std::ostream &out, const std::string &path, uint32_t cabinetOffset,
                   const std::vector<StoredFile> &files, const std::string &signature)
{
    out << "{\n  \"path\": " << JsonString(path) << ",\n  \"cabinetOffset\": " << cabinetOffset << ",\n";
    if (!signature.empty()) {
        out << "  \"signature\": " << JsonString(signature) << ",\n";
    }
    out << "  \"files\": [";
    for (size_t i = 0; i < files.size(); ++i) {
        const StoredFile &file = files[i];
        bool dated = HasDate(file);
        out << (i == 0 ? "\n" : ",\n") << "    {\"name\": " << JsonString(file.Name) << ", \"size\": " << file.Size
            << ", \"date\": " << (dated ? JsonString(FormatDate(file.Date)) : "null")
            << ", \"time\": " << (dated ? JsonString(FormatTime(file.Time)) : "null")
            << ", \"attributes\": " << JsonString(FormatAttributes(file.Attribs)) << ", \"attribs\": " << file.Attribs
            << "}";
    }
    out << (files.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

} // namespace Selfex
