// The tables of one cabinet as stored.
#include "tools/CabinetTables.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "fdi/CabFormat.h"
#include "platform/Win32.h"
#include "tools/PackageLayout.h"
#include "tools/TextConv.h"

namespace fs = std::filesystem;

namespace Selfex {

namespace {

constexpr uint16_t ATTRIB_NAME_IS_UTF = 0x80;
constexpr uint32_t RESERVE_SIZES_BYTES = 4;

// Reads count bytes at offset, fewer at the end of the file.
std::vector<uint8_t> ReadAt(std::ifstream &file, uint64_t offset, uint64_t count)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<size_t>(file.gcount()));
    return bytes;
}

// A NUL-terminated name of at most 255 bytes at bytes[at]; false when it
// has no end within the limit or the bytes.
bool TakeName(const std::vector<uint8_t> &bytes, size_t &at, std::string &name)
{
    const size_t limit = std::min<size_t>(bytes.size(), at + Fdi::CAB_NAME_MAX + 1);
    for (size_t end = at; end < limit; ++end) {
        if (bytes[end] == 0) {
            name.assign(reinterpret_cast<const char *>(bytes.data() + at), end - at);
            at = end + 1;
            return true;
        }
    }
    return false;
}

// The stored name as the extractor decodes it: UTF-8 when flagged, else
// code page 1252; "/" becomes "\".
void DecodeName(const std::string &stored, uint16_t attribs, FileEntry &entry)
{
    std::string name = stored;
    if ((attribs & ATTRIB_NAME_IS_UTF) != 0) {
        entry.ValidText = IsValidUtf8(stored);
    } else if (!stored.empty()) {
        std::vector<WCHAR> wide(stored.size() + 1);
        const int count = MultiByteToWideChar(1252, 0, stored.data(), static_cast<int>(stored.size()), wide.data(),
                                              static_cast<int>(wide.size()));
        wide[count > 0 ? static_cast<size_t>(count) : 0] = 0;
        name = WideToUtf8(wide.data());
    }
    std::replace(name.begin(), name.end(), '/', '\\');
    entry.Name = name;
}

} // namespace

bool CabinetHeader::HasPrev() const
{
    return (Flags & Fdi::CAB_FLAG_PREV_CABINET) != 0;
}

bool CabinetHeader::HasNext() const
{
    return (Flags & Fdi::CAB_FLAG_NEXT_CABINET) != 0;
}

std::string CompressionName(uint16_t typeCompress)
{
    switch (typeCompress & Fdi::COMPRESS_MASK_TYPE) {
    case Fdi::COMPRESS_NONE: return "none";
    case Fdi::COMPRESS_MSZIP: return "MSZIP";
    case Fdi::COMPRESS_LZX: return "LZX:" + std::to_string(Fdi::CompressionWindowBits(typeCompress));
    case Fdi::COMPRESS_QUANTUM:
        return "Quantum " + std::to_string(Fdi::CompressionLevel(typeCompress)) + ":" +
               std::to_string(Fdi::CompressionWindowBits(typeCompress));
    default: return "method " + std::to_string(typeCompress & Fdi::COMPRESS_MASK_TYPE);
    }
}

bool CCabinetTables::Read(const std::string &path, std::string &problem)
{
    return Load(path, true, problem);
}

bool CCabinetTables::ReadHeader(const std::string &path, std::string &problem)
{
    return Load(path, false, problem);
}

bool CCabinetTables::Load(const std::string &path, bool tables, std::string &problem)
{
    *this = CCabinetTables();
    m_Path = path;
    std::error_code failure;
    const fs::path file = fs::u8path(path);
    if (!fs::is_regular_file(file, failure)) {
        problem = fs::exists(file, failure) ? "not a regular file" : "no such file";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    m_FileSize = fs::file_size(file, failure);
    if (!in || failure) {
        problem = "cannot read it";
        return false;
    }
    uint64_t tablesAt = 0;
    if (!FindCabinet(in, problem) || !ReadHeaderArea(in, tablesAt, problem)) {
        return false;
    }
    m_HeaderRead = true;
    return !tables || (ReadFolders(in, tablesAt, problem) && ReadFiles(in, tablesAt, problem));
}

// Where the extractor finds the cabinet: at the start of a bare cabinet,
// else by the stub's search.
bool CCabinetTables::FindCabinet(std::ifstream &in, std::string &problem)
{
    const std::vector<uint8_t> magic = ReadAt(in, 0, 4);
    if (magic.size() == 4 && std::memcmp(magic.data(), "MSCF", 4) == 0) {
        m_Header.Offset = 0;
        return true;
    }
    const std::vector<uint8_t> window = ReadAt(in, PACKAGE_SEARCH_START, PACKAGE_SEARCH_WINDOW);
    const int32_t found = FindCabinetHeader(window.data(), window.size());
    if (found < 0) {
        problem = "no cabinet found (no \"MSCF\" header where a package keeps its cabinet)";
        return false;
    }
    m_Header.Offset = PACKAGE_SEARCH_START + static_cast<uint32_t>(found);
    return true;
}

// The header with its reserve and set names; tablesAt: where the folder
// table follows, from the cabinet's start.
bool CCabinetTables::ReadHeaderArea(std::ifstream &in, uint64_t &tablesAt, std::string &problem)
{
    using namespace Fdi;
    // At most 36 + 4 + 65535 bytes of header and reserve, 4 names of 256.
    const std::vector<uint8_t> head =
        ReadAt(in, m_Header.Offset, CFHEADER_SIZE + RESERVE_SIZES_BYTES + 65535 + 4 * 256);
    if (head.size() < CFHEADER_SIZE) {
        problem = "the cabinet header is cut short";
        return false;
    }
    CabinetHeader &header = m_Header;
    header.Size = Le32(&head[CFHEADER_CB_CABINET]);
    header.FilesAt = Le32(&head[CFHEADER_COFF_FILES]);
    header.FolderCount = Le16(&head[CFHEADER_C_FOLDERS]);
    header.FileCount = Le16(&head[CFHEADER_C_FILES]);
    header.Flags = Le16(&head[CFHEADER_FLAGS]);
    header.SetId = Le16(&head[CFHEADER_SET_ID]);
    header.Index = Le16(&head[CFHEADER_I_CABINET]);
    size_t at = CFHEADER_SIZE;
    if ((header.Flags & CAB_FLAG_RESERVE_PRESENT) != 0) {
        if (head.size() < at + RESERVE_SIZES_BYTES) {
            problem = "the cabinet header is cut short";
            return false;
        }
        const uint16_t headerReserve = Le16(&head[at]);
        m_FolderReserve = head[at + 2];
        header.DataReserve = head[at + 3];
        at += RESERVE_SIZES_BYTES + headerReserve;
    }
    std::string disk;
    if ((header.HasPrev() && !(TakeName(head, at, header.PrevCabinet) && TakeName(head, at, disk))) ||
        (header.HasNext() && !(TakeName(head, at, header.NextCabinet) && TakeName(head, at, disk)))) {
        problem = "the cabinet header's set names are cut short or longer than 255 bytes";
        return false;
    }
    tablesAt = at;
    return true;
}

bool CCabinetTables::ReadFolders(std::ifstream &in, uint64_t tablesAt, std::string &problem)
{
    using namespace Fdi;
    const size_t folderBytes = CFFOLDER_SIZE + m_FolderReserve;
    const uint16_t count = m_Header.FolderCount;
    const std::vector<uint8_t> folders = ReadAt(in, m_Header.Offset + tablesAt, uint64_t(count) * folderBytes);
    for (size_t i = 0; i < count; ++i) {
        if (folders.size() < (i + 1) * folderBytes) {
            problem = "the folder table is cut short after " + std::to_string(i) + " of " + std::to_string(count) +
                      " folders";
            return false;
        }
        const uint8_t *entry = &folders[i * folderBytes];
        FolderEntry folder;
        folder.DataAt = Le32(entry + CFFOLDER_COFF_CAB_START);
        folder.Blocks = Le16(entry + CFFOLDER_C_CF_DATA);
        folder.TypeCompress = Le16(entry + CFFOLDER_TYPE_COMPRESS);
        m_Folders.push_back(folder);
    }
    return true;
}

// The file table: 16 bytes and a name of up to 256 each. Decompressors read
// it behind the folder table, where coffFiles must point; Wine's ignores
// coffFiles, ours refuses a cabinet whose coffFiles points elsewhere (where
// other readers would find other entries).
bool CCabinetTables::ReadFiles(std::ifstream &in, uint64_t tablesAt, std::string &problem)
{
    using namespace Fdi;
    const uint16_t count = m_Header.FileCount;
    const uint64_t filesAt = tablesAt + uint64_t(m_Header.FolderCount) * (CFFOLDER_SIZE + m_FolderReserve);
    const std::vector<uint8_t> files =
        ReadAt(in, m_Header.Offset + filesAt, uint64_t(count) * (CFFILE_SIZE + CAB_NAME_MAX + 1));
    size_t next = 0;
    for (size_t i = 0; i < count; ++i) {
        std::string stored;
        size_t nameAt = next + CFFILE_SIZE;
        if (files.size() < nameAt || !TakeName(files, nameAt, stored)) {
            problem = "the file table is cut short or damaged after " + std::to_string(i) + " of " +
                      std::to_string(count) + " files";
            return false;
        }
        const uint8_t *entry = &files[next];
        FileEntry listed;
        listed.Size = Le32(entry + CFFILE_CB_FILE);
        listed.FolderOffset = Le32(entry + CFFILE_UOFF_FOLDER_START);
        listed.Folder = Le16(entry + CFFILE_I_FOLDER);
        listed.Date = Le16(entry + CFFILE_DATE);
        listed.Time = Le16(entry + CFFILE_TIME);
        listed.Attribs = Le16(entry + CFFILE_ATTRIBS);
        DecodeName(stored, listed.Attribs, listed);
        m_Files.push_back(listed);
        next = nameAt;
    }
    if (count > 0 && m_Header.FilesAt != filesAt) {
        problem = "the header places the file table at " + std::to_string(m_Header.FilesAt) +
                  ", not behind the folder table at " + std::to_string(filesAt) +
                  " (these are the entries found there; readers that follow the header find others)";
        return false;
    }
    return true;
}

bool CCabinetTables::ReadBlocks(std::string &problem)
{
    using namespace Fdi;
    std::ifstream in(fs::u8path(m_Path), std::ios::binary);
    const uint32_t headerBytes = CFDATA_SIZE + m_Header.DataReserve;
    for (size_t i = 0; i < m_Folders.size(); ++i) {
        FolderEntry &folder = m_Folders[i];
        uint64_t at = uint64_t(m_Header.Offset) + folder.DataAt;
        for (uint32_t block = 0; block < folder.Blocks; ++block) {
            const std::vector<uint8_t> head = ReadAt(in, at, CFDATA_SIZE);
            if (head.size() < CFDATA_SIZE || at + headerBytes + Le16(&head[CFDATA_CB_DATA]) > m_FileSize) {
                problem = "the data of folder " + std::to_string(i) + " is cut short at block " +
                          std::to_string(block) + " of " + std::to_string(folder.Blocks);
                return false;
            }
            const uint16_t payload = Le16(&head[CFDATA_CB_DATA]);
            const uint16_t output = Le16(&head[CFDATA_CB_UNCOMP]);
            folder.CompressedBytes += headerBytes + payload;
            folder.UncompressedBytes += output;
            folder.EndsInNext = output == 0 && block + 1 == folder.Blocks;
            at += headerBytes + payload;
        }
    }
    return true;
}

} // namespace Selfex
