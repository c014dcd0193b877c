// MS-CAB structure layouts, flags and limits, read by named offset.
//
// The one description of the format in the project: the decoder reads by
// it, the cabinet writer (tools/cabwriter) writes by it, and the extractor
// takes its attribute rule from it. It depends on nothing but <cstdint>, so
// the Windows builds, which have no decoder, include it all the same.
//
// Every multi-byte field of the format is little-endian; fields are loaded
// with Le16/Le32 and stored with PutLe16/PutLe32 on byte buffers, never
// through a structure laid over the bytes, so alignment and host byte order
// never matter.
//
// Format notes:
//   CFHEADER (36 bytes) [+ 4-byte reserve sizes + header reserve]
//            [+ previous cabinet and disk names] [+ next cabinet and disk names]
//   CFFOLDER (8 bytes + folder reserve) x cFolders
//   CFFILE   (16 bytes + NUL-terminated name) x cFiles, starting at coffFiles
//   CFDATA   (8 bytes + data reserve + cbData payload bytes), per folder from
//            its coffCabStart, cCFData blocks in a row
// A folder may continue into the next cabinet of a set: its last block in
// one cabinet can be the head of a block (cbUncomp 0) whose tail is the
// first block of the next cabinet's first folder.
#pragma once

#include <cstdint>

namespace Fdi {

// CFHEADER
constexpr uint32_t CFHEADER_SIZE = 36;
constexpr uint32_t CFHEADER_SIGNATURE = 0;      // CAB_SIGNATURE
constexpr uint32_t CFHEADER_CB_CABINET = 8;     // u32 cabinet size in bytes
constexpr uint32_t CFHEADER_COFF_FILES = 16;    // u32 offset of the first CFFILE
constexpr uint32_t CFHEADER_VERSION_MINOR = 24; // u8
constexpr uint32_t CFHEADER_VERSION_MAJOR = 25; // u8
constexpr uint32_t CFHEADER_C_FOLDERS = 26;     // u16 CFFOLDER entries
constexpr uint32_t CFHEADER_C_FILES = 28;       // u16 CFFILE entries
constexpr uint32_t CFHEADER_FLAGS = 30;         // u16 CAB_FLAG_*
constexpr uint32_t CFHEADER_SET_ID = 32;        // u16 shared by the cabinets of a set
constexpr uint32_t CFHEADER_I_CABINET = 34;     // u16 index in the set
constexpr uint32_t CFHEADER_RESERVE_SIZES = 4;  // u16 header, u8 folder, u8 data reserve

// The first four bytes of every cabinet.
constexpr char CAB_SIGNATURE[4] = {'M', 'S', 'C', 'F'};

constexpr uint16_t CAB_FLAG_PREV_CABINET = 0x0001;    // previous cabinet and disk named
constexpr uint16_t CAB_FLAG_NEXT_CABINET = 0x0002;    // next cabinet and disk named
constexpr uint16_t CAB_FLAG_RESERVE_PRESENT = 0x0004; // reserve sizes follow the header

// Versions above 1.3 are refused; the value packs major << 8 | minor. 1.3 is
// also the version every cabinet writer stores and every reader accepts.
constexpr uint32_t CAB_VERSION_MAX = 0x0103;
constexpr uint8_t CAB_VERSION_MAX_MINOR = CAB_VERSION_MAX & 0xFF;
constexpr uint8_t CAB_VERSION_MAX_MAJOR = CAB_VERSION_MAX >> 8;

// CFFOLDER
constexpr uint32_t CFFOLDER_SIZE = 8;
constexpr uint32_t CFFOLDER_COFF_CAB_START = 0; // u32 offset of the folder's first CFDATA
constexpr uint32_t CFFOLDER_C_CF_DATA = 4;      // u16 CFDATA blocks in this cabinet
constexpr uint32_t CFFOLDER_TYPE_COMPRESS = 6;  // u16 compression type and parameters

// typeCompress: the low nibble is the method; LZX keeps its window bits in
// bits 8-12, Quantum its level in bits 4-7 and its window bits in 8-12.
constexpr uint16_t COMPRESS_MASK_TYPE = 0x000F;
constexpr uint16_t COMPRESS_NONE = 0x0000;
constexpr uint16_t COMPRESS_MSZIP = 0x0001;
constexpr uint16_t COMPRESS_QUANTUM = 0x0002;
constexpr uint16_t COMPRESS_LZX = 0x0003;
inline unsigned CompressionWindowBits(uint16_t typeCompress)
{
    return (typeCompress >> 8) & 0x1F;
}
inline unsigned CompressionLevel(uint16_t typeCompress)
{
    return (typeCompress >> 4) & 0x0F;
}

// CFFILE
constexpr uint32_t CFFILE_SIZE = 16;
constexpr uint32_t CFFILE_CB_FILE = 0;           // u32 uncompressed size
constexpr uint32_t CFFILE_UOFF_FOLDER_START = 4; // u32 offset in the folder's output
constexpr uint32_t CFFILE_I_FOLDER = 8;          // u16 folder index or IFOLD_*
constexpr uint32_t CFFILE_DATE = 10;             // u16 MS-DOS date
constexpr uint32_t CFFILE_TIME = 12;             // u16 MS-DOS time
constexpr uint32_t CFFILE_ATTRIBS = 14;          // u16 attribute bits

// The attribute bits a file keeps in a cabinet and gets back when it is
// extracted: read-only 0x01, hidden 0x02, system 0x04, archive 0x20. The
// others say how to read the entry (0x80: the name is UTF-8; 0x100: the
// time is UTC) or ask to run it (0x40), which nothing here ever does.
constexpr uint16_t CAB_ATTRIBS_OF_FILE = 0x27;
constexpr uint16_t CAB_ATTRIB_NAME_IS_UTF = 0x80;
constexpr uint16_t CAB_ATTRIB_TIME_IS_UTC = 0x100;

constexpr uint16_t IFOLD_CONTINUED_FROM_PREV = 0xFFFD;     // data in the first folder
constexpr uint16_t IFOLD_CONTINUED_TO_NEXT = 0xFFFE;       // data in the last folder
constexpr uint16_t IFOLD_CONTINUED_PREV_AND_NEXT = 0xFFFF; // both
inline bool IsContinuedFromPrev(uint16_t iFolder)
{
    return iFolder == IFOLD_CONTINUED_FROM_PREV || iFolder == IFOLD_CONTINUED_PREV_AND_NEXT;
}
inline bool IsContinuedToNext(uint16_t iFolder)
{
    return iFolder == IFOLD_CONTINUED_TO_NEXT || iFolder == IFOLD_CONTINUED_PREV_AND_NEXT;
}

// CFDATA
constexpr uint32_t CFDATA_SIZE = 8;
constexpr uint32_t CFDATA_CSUM = 0;      // u32 checksum, 0 = none
constexpr uint32_t CFDATA_CB_DATA = 4;   // u16 payload bytes
constexpr uint32_t CFDATA_CB_UNCOMP = 6; // u16 output bytes; 0 = continues in the next cabinet

// Limits. A block decodes to at most 32 KiB and carries at most 6 KiB more
// than that (also when it was split and joined again); a folder holds at
// most 65535 blocks.
constexpr uint32_t BLOCK_OUTPUT_MAX = 32768;
constexpr uint32_t BLOCK_INPUT_MAX = 32768 + 6144;
constexpr uint32_t FOLDER_BLOCKS_MAX = 65535;
constexpr uint64_t FOLDER_OUTPUT_MAX = uint64_t(FOLDER_BLOCKS_MAX) * BLOCK_OUTPUT_MAX;
// cFolders and cFiles are 16-bit.
constexpr uint32_t CAB_FOLDERS_MAX = 65535;
constexpr uint32_t CAB_FILES_MAX = 65535;
// Names (cabinet, disk, file) hold at most 255 bytes before their NUL.
constexpr uint32_t CAB_NAME_MAX = 255;

// The project's little-endian loads and stores, for cabinet fields and any
// other little-endian structure (PE headers, LZX's E8 operands).
inline uint16_t Le16(const uint8_t *p)
{
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t Le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void PutLe16(uint8_t *p, uint16_t value)
{
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}
inline void PutLe32(uint8_t *p, uint32_t value)
{
    PutLe16(p, uint16_t(value));
    PutLe16(p + 2, uint16_t(value >> 16));
}

} // namespace Fdi
