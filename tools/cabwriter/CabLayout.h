// The cabinet writer's names for the format's sizes, fields and limits.
//
// Every value comes from fdi/CabFormat.h, the one description of the format
// that the decoder reads by too; these names only keep the writer's code in
// its own words. The writer never uses reserve areas or cabinet sets.
#pragma once

#include <cstdint>

#include "fdi/CabFormat.h"

namespace Selfex {

constexpr uint32_t CAB_HEADER_SIZE = Fdi::CFHEADER_SIZE;       // CFHEADER without reserve fields or set names
constexpr uint32_t CAB_FOLDER_ENTRY_SIZE = Fdi::CFFOLDER_SIZE; // CFFOLDER without reserve
constexpr uint32_t CAB_FILE_ENTRY_FIXED = Fdi::CFFILE_SIZE;    // CFFILE up to the name
constexpr uint32_t CAB_DATA_HEADER_SIZE = Fdi::CFDATA_SIZE;    // CFDATA up to the payload

constexpr uint8_t CAB_VERSION_MINOR = Fdi::CAB_VERSION_MAX_MINOR; // 1.3, the version every reader accepts
constexpr uint8_t CAB_VERSION_MAJOR = Fdi::CAB_VERSION_MAX_MAJOR;

constexpr uint16_t CAB_COMPRESS_NONE = Fdi::COMPRESS_NONE;   // typeCompress: stored
constexpr uint16_t CAB_COMPRESS_MSZIP = Fdi::COMPRESS_MSZIP; // typeCompress: "CK" + deflate per block
constexpr uint16_t CAB_COMPRESS_LZX = Fdi::COMPRESS_LZX;     // typeCompress: LZX, window bits in bits 8-12

constexpr uint16_t CAB_ATTRIB_STORABLE = Fdi::CAB_ATTRIBS_OF_FILE; // read-only, hidden, system, archive
constexpr uint16_t CAB_ATTRIB_NAME_IS_UTF = Fdi::CAB_ATTRIB_NAME_IS_UTF;

// Every block of a folder but its last holds exactly CAB_BLOCK_SIZE bytes.
constexpr uint32_t CAB_BLOCK_SIZE = Fdi::BLOCK_OUTPUT_MAX;
constexpr uint32_t CAB_MAX_PAYLOAD = Fdi::BLOCK_INPUT_MAX;
constexpr uint32_t CAB_MAX_FOLDER_BLOCKS = Fdi::FOLDER_BLOCKS_MAX;
constexpr uint32_t CAB_MAX_FOLDER_BYTES = static_cast<uint32_t>(Fdi::FOLDER_OUTPUT_MAX);
constexpr uint32_t CAB_MAX_FILES = Fdi::CAB_FILES_MAX;
constexpr uint32_t CAB_MAX_NAME_BYTES = Fdi::CAB_NAME_MAX;

using Fdi::PutLe16;
using Fdi::PutLe32;

inline uint16_t GetLe16(const uint8_t *at)
{
    return Fdi::Le16(at);
}

inline uint32_t GetLe32(const uint8_t *at)
{
    return Fdi::Le32(at);
}

} // namespace Selfex
