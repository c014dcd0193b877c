// The CFFILE tables of a copy: the whole table of the cabinet FDICopy was
// called on, kept for the per-file loop, and the scan of another cabinet's
// table for the entries that tie it to its neighbours.
#pragma once

#include <cstdint>

#include "fdi/CabinetFile.h"

namespace Fdi {

// A CFFILE entry of the cabinet FDICopy was called on.
struct FileRecord {
    uint32_t Size;
    uint32_t Offset;
    uint16_t IFolder, Date, Time, Attribs;
    uint32_t NameOffset; // into the names block
};

class CFileTable final : private IFileVisitor {
public:
    explicit CFileTable(const Allocator &memory) : m_Memory(memory) {}
    ~CFileTable() override;

    CFileTable(const CFileTable &) = delete;
    CFileTable &operator=(const CFileTable &) = delete;

    // Reads the CFFILE table of cabinet, whose stream stands just behind its
    // folder table, and notes in cabinet whether its folders continue from
    // or into a neighbour. NoMemory when the records or the names do not
    // fit; the table's faults (ReadFiles) otherwise. Load once per object.
    Fault Load(CabinetFile &cabinet);

    // Entry index (below the cabinet's CFiles) and its name, both owned by
    // the table.
    const FileRecord &Record(uint32_t index) const { return m_Records[index]; }
    char *Name(const FileRecord &record) const { return m_Names + record.NameOffset; }

private:
    Fault OnFile(const FileEntry &entry) override;
    Fault ReserveNames(uint32_t need);

    const Allocator &m_Memory;
    CabinetFile *m_Cabinet = nullptr; // the cabinet being loaded
    FileRecord *m_Records = nullptr;  // CFiles records
    uint32_t m_Count = 0;             // records filled
    char *m_Names = nullptr;          // every name with its NUL, back to back
    uint32_t m_NamesSize = 0, m_NamesUsed = 0;
};

// Reads the CFFILE table of another cabinet of the set (its stream just
// behind its folder table) only to note in cabinet whether its folders
// continue from or into a neighbour. *found: whether an entry continued
// from the previous cabinet is named continuedName (ignoring ASCII letter
// case); continuedName NULL looks for none.
Fault ScanContinuations(CabinetFile &cabinet, const char *continuedName, bool *found);

} // namespace Fdi
