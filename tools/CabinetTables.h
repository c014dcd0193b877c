// The tables of one cabinet as stored -- header, folders, files -- read
// without decoding any data and without the extractor, which refuses an
// unsafe name before its client sees it. "selfex list" shows every entry
// it can read this way, and the compressed size of every folder, which the
// decompressor interface never reports.
//
// The cabinet is found where the extractor looks for it: at the start of a
// bare cabinet (a file that begins with "MSCF"), else by the stub's search
// from offset 160000 on.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace Selfex {

struct CabinetHeader {
    uint32_t Offset = 0; // of "MSCF" in the file
    uint32_t Size = 0;   // cbCabinet: the cabinet's own bytes
    uint16_t Flags = 0;
    uint16_t SetId = 0;
    uint16_t Index = 0; // iCabinet: 0 for the first cabinet of a set
    uint16_t FolderCount = 0;
    uint16_t FileCount = 0;
    uint32_t FilesAt = 0;    // coffFiles, from Offset
    uint8_t DataReserve = 0; // bytes behind each CFDATA header
    std::string PrevCabinet; // names as stored (bytes), empty when the header names none
    std::string NextCabinet;

    bool HasPrev() const;
    bool HasNext() const;
};

struct FolderEntry {
    uint32_t DataAt = 0; // coffCabStart, from the cabinet's start
    uint16_t Blocks = 0; // cCFData in this cabinet
    uint16_t TypeCompress = 0;
    // Filled by ReadBlocks: CFDATA headers and payloads, and what they decode to.
    uint64_t CompressedBytes = 0;
    uint64_t UncompressedBytes = 0;
    bool EndsInNext = false; // the last block is the head of one the next cabinet completes
};

struct FileEntry {
    std::string Name;      // stored name, UTF-8 ("\" between levels, as the extractor makes it)
    bool ValidText = true; // false: flagged UTF-8 (attribute 0x80) that is not valid UTF-8
    uint32_t Size = 0;
    uint32_t FolderOffset = 0;
    uint16_t Folder = 0; // iFolder, or one of the IFOLD_CONTINUED_* values
    uint16_t Date = 0;
    uint16_t Time = 0;
    uint16_t Attribs = 0;
};

// "MSZIP", "LZX:21", "Quantum 4:21", "none", or "method N" for an unknown one.
std::string CompressionName(uint16_t typeCompress);

class CCabinetTables {
public:
    // Reads the header, the folder table and the file table of the cabinet
    // in path (UTF-8). False with the reason in words when the cabinet
    // cannot be found or a table is cut short or damaged; the entries read
    // before the fault stay in Folders() and Files().
    bool Read(const std::string &path, std::string &problem);
    // Reads only as far as the header: for walking a set.
    bool ReadHeader(const std::string &path, std::string &problem);
    // Walks the CFDATA headers of every folder and fills its sizes. False
    // with the reason when a folder's blocks run past the file.
    bool ReadBlocks(std::string &problem);

    // True once the header and its set names were read, even when a table failed after.
    bool HeaderRead() const { return m_HeaderRead; }
    const CabinetHeader &Header() const { return m_Header; }
    const std::vector<FolderEntry> &Folders() const { return m_Folders; }
    const std::vector<FileEntry> &Files() const { return m_Files; }
    const std::string &Path() const { return m_Path; }

private:
    bool Load(const std::string &path, bool tables, std::string &problem);
    bool FindCabinet(std::ifstream &in, std::string &problem);
    bool ReadHeaderArea(std::ifstream &in, uint64_t &tablesAt, std::string &problem);
    bool ReadFolders(std::ifstream &in, uint64_t tablesAt, std::string &problem);
    bool ReadFiles(std::ifstream &in, uint64_t tablesAt, std::string &problem);

    std::string m_Path;
    uint64_t m_FileSize = 0;
    CabinetHeader m_Header;
    bool m_HeaderRead = false;
    uint8_t m_FolderReserve = 0; // bytes behind each CFFOLDER entry
    std::vector<FolderEntry> m_Folders;
    std::vector<FileEntry> m_Files;
};

} // namespace Selfex
