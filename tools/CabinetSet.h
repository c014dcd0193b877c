// A cabinet and the cabinets that follow it in its set, as "selfex list"
// shows them: every file once, in the cabinet where it begins (as the
// decompressor extracts it), every folder once with its compressed size
// summed over the cabinets it spans, and each name checked against the
// extractor's rule. Set members are plain file names beside the first
// cabinet, as the extractor takes them; each must carry the set's ID and
// the next index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/CabinetTables.h"

namespace Selfex {

constexpr uint32_t NO_FOLDER = UINT32_MAX;

struct ListedCabinet {
    std::string Name; // file name, UTF-8
    CabinetHeader Header;
};

struct ListedFile {
    FileEntry Entry;
    size_t Cabinet = 0;          // index in Cabinets()
    uint32_t Folder = NO_FOLDER; // index in Folders(); NO_FOLDER for an iFolder beyond the table
    bool FromEarlier = false;    // begins in a cabinet before the first one read
    std::string Unsafe;          // why extract and test refuse the name, in words; empty when they take it
};

struct ListedFolder {
    size_t Cabinet = 0; // where the folder begins
    uint16_t TypeCompress = 0;
    uint32_t Blocks = 0;
    uint64_t CompressedBytes = 0;
    uint64_t UncompressedBytes = 0;
};

// Where a set starts, for a cabinet that continues one.
struct SetStart {
    std::string Name;   // the first cabinet of the set, or the earliest one named
    bool Found = false; // Name is the set's first cabinet and lies beside the others
    std::string Text;   // "... is cabinet 3 of set 1234 and continues 'b.cab'; the set starts with 'a.cab'"
};

class CCabinetSetListing {
public:
    // Reads the cabinet at path (UTF-8; a package or a bare cabinet), then
    // each next cabinet of its set; with blocks, walks every folder's data
    // blocks too. False with the reason in words (naming the cabinet at
    // fault) when a cabinet is missing, damaged or not of the set; what was
    // read before stays listed.
    bool Read(const std::string &path, bool blocks, std::string &error);

    const std::vector<ListedCabinet> &Cabinets() const { return m_Cabinets; }
    const std::vector<ListedFile> &Files() const { return m_Files; }
    const std::vector<ListedFolder> &Folders() const { return m_Folders; }
    // Names the extractor refuses.
    size_t UnsafeCount() const;
    // Filled when the first cabinet continues a set.
    const SetStart &Start() const { return m_Start; }

private:
    bool AddCabinet(const CCabinetTables &tables, bool first);

    std::vector<ListedCabinet> m_Cabinets;
    std::vector<ListedFile> m_Files;
    std::vector<ListedFolder> m_Folders;
    SetStart m_Start;
};

// Where the set that the cabinet in tables continues starts: the previous
// cabinets are followed back by the names their headers give, beside it.
SetStart FindSetStart(const CCabinetTables &tables);

} // namespace Selfex
