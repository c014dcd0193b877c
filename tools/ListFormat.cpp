// Output of "selfex list".
#include "tools/ListFormat.h"

#include <cstdio>
#include <set>

#include "tools/PrintableText.h"
#include "tools/ProgressLine.h"

namespace Selfex {

namespace {

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

char Mark(const ListedFile &file)
{
    return !file.Unsafe.empty() ? '!' : file.FromEarlier ? '<' : ' ';
}

std::string FolderLabel(uint32_t folder)
{
    return folder == NO_FOLDER ? std::string("-") : std::to_string(folder);
}

struct Totals {
    uint64_t Bytes = 0;
    uint64_t CabinetBytes = 0;
    std::string Compression; // the methods, in order of first use
};

Totals Sum(const CCabinetSetListing &listing)
{
    Totals totals;
    for (const ListedFile &file : listing.Files()) {
        totals.Bytes += file.Entry.Size;
    }
    for (const ListedCabinet &cabinet : listing.Cabinets()) {
        totals.CabinetBytes += cabinet.Header.Size;
    }
    std::set<std::string> seen;
    for (const ListedFolder &folder : listing.Folders()) {
        const std::string name = CompressionName(folder.TypeCompress);
        if (seen.insert(name).second) {
            totals.Compression += (totals.Compression.empty() ? "" : ", ") + name;
        }
    }
    return totals;
}

std::string Plural(uint64_t count, const char *one, const char *many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string JsonNameOrNull(bool present, const std::string &name)
{
    return present ? JsonString(name) : std::string("null");
}

} // namespace

bool IsValidDosDateTime(uint16_t date, uint16_t time)
{
    static const unsigned DAYS[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const unsigned year = 1980u + (date >> 9);
    const unsigned month = (date >> 5) & 15u;
    const unsigned day = date & 31u;
    if (month < 1 || month > 12 || day < 1 || day > DAYS[month - 1]) {
        return false;
    }
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (month == 2 && day == 29 && !leap) {
        return false;
    }
    return (time >> 11) < 24 && ((time >> 5) & 63u) < 60 && (time & 31u) < 30;
}

std::string FormatDosDateTime(uint16_t date, uint16_t time)
{
    if (!IsValidDosDateTime(date, time)) {
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

std::string FormatRatio(uint64_t part, uint64_t whole)
{
    if (whole == 0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return text;
}

void WriteListText(std::ostream &out, const CCabinetSetListing &listing, Verbosity verbosity)
{
    const bool verbose = verbosity == Verbosity::Verbose;
    for (const ListedFile &file : listing.Files()) {
        char size[16];
        std::snprintf(size, sizeof size, "%10u", file.Entry.Size);
        out << size << "  " << FormatDosDateTime(file.Entry.Date, file.Entry.Time) << "  "
            << FormatAttributes(file.Entry.Attribs) << "  ";
        if (verbose) {
            const std::string label = FolderLabel(file.Folder);
            out << std::string(label.size() < 5 ? 5 - label.size() : 0, ' ') << label << "  ";
        }
        out << Mark(file) << " " << PrintableText(file.Entry.Name) << "\n";
    }
    if (verbosity == Verbosity::Quiet || listing.Cabinets().empty()) {
        return;
    }
    const bool set = listing.Cabinets().size() > 1;
    if (verbose) {
        for (size_t i = 0; i < listing.Folders().size(); ++i) {
            const ListedFolder &folder = listing.Folders()[i];
            out << "folder " << i;
            if (set) {
                out << " (from " << PrintableText(listing.Cabinets()[folder.Cabinet].Name) << ")";
            }
            out << ": " << CompressionName(folder.TypeCompress) << ", " << Plural(folder.Blocks, "block", "blocks")
                << ", " << folder.UncompressedBytes << " bytes in " << folder.CompressedBytes << " ("
                << FormatRatio(folder.CompressedBytes, folder.UncompressedBytes) << ")\n";
        }
    }
    const Totals totals = Sum(listing);
    out << Plural(listing.Files().size(), "file", "files") << ", " << Plural(totals.Bytes, "byte", "bytes");
    if (totals.Bytes >= 1024) {
        out << " (" << FormatBytes(totals.Bytes) << ")";
    }
    out << " in " << Plural(listing.Folders().size(), "folder", "folders");
    if (!totals.Compression.empty()) {
        out << " (" << totals.Compression << ")";
    }
    out << "; " << (set ? Plural(listing.Cabinets().size(), "cabinet", "cabinets") + " of " : "cabinet of ")
        << totals.CabinetBytes << " bytes, " << FormatRatio(totals.CabinetBytes, totals.Bytes) << "\n";
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

void WriteListJson(std::ostream &out, const std::string &path, const CCabinetSetListing &listing,
                   const std::string &error, const std::string &signature)
{
    const uint32_t offset = listing.Cabinets().empty() ? 0 : listing.Cabinets()[0].Header.Offset;
    out << "{\n  \"path\": " << JsonString(path) << ",\n  \"cabinetOffset\": " << offset << ",\n";
    if (!signature.empty()) {
        out << "  \"signature\": " << JsonString(signature) << ",\n";
    }
    out << "  \"files\": [";
    const std::vector<ListedFile> &files = listing.Files();
    for (size_t i = 0; i < files.size(); ++i) {
        const FileEntry &file = files[i].Entry;
        const bool dated = IsValidDosDateTime(file.Date, file.Time);
        out << (i == 0 ? "\n" : ",\n") << "    {\"name\": " << JsonString(file.Name) << ", \"size\": " << file.Size
            << ", \"date\": " << (dated ? JsonString(FormatDate(file.Date)) : "null")
            << ", \"time\": " << (dated ? JsonString(FormatTime(file.Time)) : "null")
            << ", \"attributes\": " << JsonString(FormatAttributes(file.Attribs)) << ", \"attribs\": " << file.Attribs
            << ", \"folder\": " << (files[i].Folder == NO_FOLDER ? "null" : std::to_string(files[i].Folder))
            << ", \"cabinet\": " << files[i].Cabinet
            << ", \"fromEarlierCabinet\": " << (files[i].FromEarlier ? "true" : "false")
            << ", \"unsafe\": " << (files[i].Unsafe.empty() ? std::string("null") : JsonString(files[i].Unsafe)) << "}";
    }
    out << (files.empty() ? "],\n" : "\n  ],\n") << "  \"folders\": [";
    const std::vector<ListedFolder> &folders = listing.Folders();
    for (size_t i = 0; i < folders.size(); ++i) {
        out << (i == 0 ? "\n" : ",\n") << "    {\"cabinet\": " << folders[i].Cabinet
            << ", \"compression\": " << JsonString(CompressionName(folders[i].TypeCompress))
            << ", \"typeCompress\": " << folders[i].TypeCompress << ", \"blocks\": " << folders[i].Blocks
            << ", \"compressedBytes\": " << folders[i].CompressedBytes
            << ", \"uncompressedBytes\": " << folders[i].UncompressedBytes << "}";
    }
    out << (folders.empty() ? "],\n" : "\n  ],\n") << "  \"cabinets\": [";
    const std::vector<ListedCabinet> &cabinets = listing.Cabinets();
    for (size_t i = 0; i < cabinets.size(); ++i) {
        const CabinetHeader &header = cabinets[i].Header;
        out << (i == 0 ? "\n" : ",\n") << "    {\"name\": " << JsonString(cabinets[i].Name)
            << ", \"offset\": " << header.Offset << ", \"size\": " << header.Size << ", \"setId\": " << header.SetId
            << ", \"index\": " << header.Index
            << ", \"previous\": " << JsonNameOrNull(header.HasPrev(), header.PrevCabinet)
            << ", \"next\": " << JsonNameOrNull(header.HasNext(), header.NextCabinet) << "}";
    }
    const Totals totals = Sum(listing);
    out << (cabinets.empty() ? "],\n" : "\n  ],\n") << "  \"totals\": {\"files\": " << files.size()
        << ", \"bytes\": " << totals.Bytes << ", \"folders\": " << folders.size()
        << ", \"cabinetBytes\": " << totals.CabinetBytes << ", \"unsafe\": " << listing.UnsafeCount() << "},\n"
        << "  \"setStart\": ";
    if (listing.Start().Text.empty()) {
        out << "null";
    } else {
        out << "{\"name\": " << JsonString(listing.Start().Name)
            << ", \"found\": " << (listing.Start().Found ? "true" : "false") << "}";
    }
    if (!error.empty()) {
        out << ",\n  \"error\": " << JsonString(error);
    }
    out << "\n}\n";
}

} // namespace Selfex
