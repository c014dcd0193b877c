// Reads back what the cabinet writer produced, independently of the code
// under test: the tables field by field and every folder's data, inflating
// MSZIP blocks with zlib and the history of the blocks before them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct InspectedBlock {
    uint32_t Checksum;
    uint16_t CompressedSize;
    uint16_t UncompressedSize;
    std::vector<uint8_t> Payload;
};

struct InspectedFolder {
    uint32_t DataOffset;
    uint16_t BlockCount;
    uint16_t Compression;
    std::vector<InspectedBlock> Blocks;
    std::vector<uint8_t> Data; // all blocks decoded
};

struct InspectedFile {
    uint32_t Size;
    uint32_t FolderOffset;
    uint16_t Folder;
    uint16_t Date;
    uint16_t Time;
    uint16_t Attribs;
    std::string Name;
};

struct InspectedCabinet {
    uint32_t CabinetSize;
    uint32_t FilesOffset;
    uint8_t VersionMinor;
    uint8_t VersionMajor;
    uint16_t Flags;
    std::vector<InspectedFolder> Folders;
    std::vector<InspectedFile> Files;

    // The bytes of file i, cut from its folder's decoded data.
    std::vector<uint8_t> FileData(size_t i) const;
};

// Parses cab; false with a message in error when anything does not fit or
// a block does not decode (each MSZIP block must be "CK" plus a deflate
// stream that ends with a final block and uses all its input).
bool InspectCabinet(const std::vector<uint8_t> &cab, InspectedCabinet &result, std::string &error);
