// Readers for the cabinet corpus tables.
#include "tests/testlib/CorpusExpect.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

namespace TestLib {

namespace {

std::vector<std::string> SplitTabs(const std::string &line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        if (tab == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

// A tab-separated table whose cells are looked up by column name.
class CTable {
public:
    bool Load(const std::string &path, std::string *error)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            *error = "cannot open " + path;
            return false;
        }
        std::string line;
        bool header = true;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.empty()) {
                continue;
            }
            std::vector<std::string> fields = SplitTabs(line);
            if (header) {
                for (size_t i = 0; i < fields.size(); ++i) {
                    m_Columns[fields[i]] = i;
                }
                header = false;
            } else {
                m_Rows.push_back(fields);
            }
        }
        if (header) {
            *error = path + " has no header row";
            return false;
        }
        m_Path = path;
        return true;
    }

    size_t RowCount() const { return m_Rows.size(); }

    // The cell of row in column; false with *error when the column is absent.
    bool Cell(size_t row, const char *column, std::string *value, std::string *error) const
    {
        auto found = m_Columns.find(column);
        if (found == m_Columns.end()) {
            *error = m_Path + ": no column " + column;
            return false;
        }
        const std::vector<std::string> &fields = m_Rows[row];
        *value = found->second < fields.size() ? fields[found->second] : std::string();
        return true;
    }

    // A decimal or 0x-prefixed number cell no larger than max.
    bool Number(size_t row, const char *column, uint64_t max, uint64_t *value, std::string *error) const
    {
        std::string text;
        if (!Cell(row, column, &text, error)) {
            return false;
        }
        const char *begin = text.c_str();
        char *end = nullptr;
        unsigned long long parsed = std::strtoull(begin, &end, 0);
        if (text.empty() || *end != '\0' || parsed > max) {
            *error = m_Path + ": bad number '" + text + "' in column " + column;
            return false;
        }
        *value = parsed;
        return true;
    }

    template <typename T>
    bool Field(size_t row, const char *column, T *value, std::string *error) const
    {
        uint64_t wide = 0;
        if (!Number(row, column, T(~T(0)), &wide, error)) {
            return false;
        }
        *value = T(wide);
        return true;
    }

private:
    std::string m_Path;
    std::map<std::string, size_t> m_Columns;
    std::vector<std::vector<std::string>> m_Rows;
};

bool DecodeHex(const std::string &hex, std::string *bytes)
{
    if (hex.size() % 2 != 0) {
        return false;
    }
    bytes->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        char pair[3] = {hex[i], hex[i + 1], '\0'};
        char *end = nullptr;
        long value = std::strtol(pair, &end, 16);
        if (*end != '\0') {
            return false;
        }
        bytes->push_back(char(value));
    }
    return true;
}

} // namespace

std::string CorpusDir()
{
    if (const char *corpus = std::getenv("SELFEX_CORPUS")) {
        return corpus;
    }
    if (const char *source = std::getenv("SELFEX_SOURCE_DIR")) {
        return std::string(source) + "/tests/corpus";
    }
    return "tests/corpus";
}

bool ReadExpected(const std::string &path, std::vector<ExpectedEntry> *entries, std::string *error)
{
    CTable table;
    if (!table.Load(path, error)) {
        return false;
    }
    entries->clear();
    for (size_t row = 0; row < table.RowCount(); ++row) {
        ExpectedEntry entry;
        std::string nameHex;
        bool ok = table.Cell(row, "name", &entry.Name, error) && table.Cell(row, "name_hex", &nameHex, error) &&
                  table.Field(row, "size", &entry.Size, error) && table.Cell(row, "sha256", &entry.Sha256, error) &&
                  table.Field(row, "dos_date", &entry.DosDate, error) &&
                  table.Field(row, "dos_time", &entry.DosTime, error) &&
                  table.Field(row, "attribs", &entry.Attribs, error) &&
                  table.Field(row, "ifolder", &entry.IFolder, error) &&
                  table.Cell(row, "folder_compression", &entry.FolderCompression, error) &&
                  table.Cell(row, "fdi_event", &entry.FdiEvent, error) &&
                  table.Field(row, "cab_offset", &entry.CabOffset, error);
        if (!ok) {
            return false;
        }
        if (!DecodeHex(nameHex, &entry.NameBytes)) {
            *error = path + ": bad name_hex '" + nameHex + "'";
            return false;
        }
        entries->push_back(entry);
    }
    return true;
}

bool ReadManifest(const std::string &path, std::vector<ManifestEntry> *entries, std::string *error)
{
    CTable table;
    if (!table.Load(path, error)) {
        return false;
    }
    entries->clear();
    for (size_t row = 0; row < table.RowCount(); ++row) {
        ManifestEntry entry;
        bool ok = table.Cell(row, "file", &entry.File, error) &&
                  table.Cell(row, "compression", &entry.Compression, error) &&
                  table.Cell(row, "valid_or_malformed", &entry.Validity, error) &&
                  table.Cell(row, "notes", &entry.Notes, error) && table.Field(row, "size_bytes", &entry.Size, error) &&
                  table.Cell(row, "sha256_of_file", &entry.Sha256, error) &&
                  table.Cell(row, "cabextract_t_summary", &entry.CabextractSummary, error);
        if (!ok) {
            return false;
        }
        entries->push_back(entry);
    }
    return true;
}

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool FileExists(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return bool(in);
}

} // namespace TestLib
