// MS-CAB structure sizes, field values and limits, as the cabinet writer lays them out.
//
// All multi-byte fields of a cabinet are little-endian. A cabinet is one
// CFHEADER, then one CFFOLDER per folder, then one CFFILE per file (16 fixed
// bytes and the zero-terminated name), then the CFDATA blocks of each folder
// in folder order. The writer never uses reserve areas or cabinet sets.
#pragma once

#include <cstdint>

namespace Selfex {

constexpr uint32_t CAB_HEADER_SIZE = 36;      // CFHEADER without reserve fields or set names
constexpr uint32_t CAB_FOLDER_ENTRY_SIZE = 8; // CFFOLDER without reserve
constexpr uint32_t CAB_FILE_ENTRY_FIXED = 16; // CFFILE up to the name
constexpr uint32_t CAB_DATA_HEADER_SIZE = 8;  // CFDATA up to the payload

constexpr uint8_t CAB_VERSION_MINOR = 3; // 1.3, the version every reader accepts
constexpr uint8_t CAB_VERSION_MAJOR = 1;

constexpr uint16_t CAB_COMPRESS_NONE = 0;  // typeCompress: stored
constexpr uint16_t CAB_COMPRESS_MSZIP = 1; // typeCompress: "CK" + deflate per block
constexpr uint16_t CAB_COMPRESS_LZX = 3;   // typeCompress: LZX, window bits in bits 8-12

constexpr uint16_t CAB_ATTRIB_STORABLE = 0x27; // read-only, hidden, system, archive
constexpr uint16_t CAB_ATTRIB_NAME_IS_UTF = 0x80;

// A block holds at most 32768 uncompressed bytes; every block of a folder but
// its last holds exactly that many.
constexpr uint32_t CAB_BLOCK_SIZE = 32768;
// Readers accept at most 6144 bytes of expansion in a compressed payload.
constexpr uint32_t CAB_MAX_PAYLOAD = CAB_BLOCK_SIZE + 6144;
// cCFData is 16-bit, so a folder holds at most 65535 blocks.
constexpr uint32_t CAB_MAX_FOLDER_BLOCKS = 65535;
constexpr uint32_t CAB_MAX_FOLDER_BYTES = CAB_BLOCK_SIZE * CAB_MAX_FOLDER_BLOCKS;
// cFiles and cFolders are 16-bit.
constexpr uint32_t CAB_MAX_FILES = 65535;
// Names are at most 255 bytes before their terminator.
constexpr uint32_t CAB_MAX_NAME_BYTES = 255;

inline void PutLe16(uint8_t *at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutLe32(uint8_t *at, uint32_t value)
{
    PutLe16(at, static_cast<uint16_t>(value));
    PutLe16(at + 2, static_cast<uint16_t>(value >> 16));
}

inline uint16_t GetLe16(const uint8_t *at)
{
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

inline uint32_t GetLe32(const uint8_t *at)
{
    return GetLe16(at) | static_cast<uint32_t>(GetLe16(at + 2)) << 16;
}

} // namespace Selfex
