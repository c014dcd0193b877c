// Parsing of the cabinet directory: CFHEADER with its reserve sizes and
// set names, the CFFOLDER table and the CFFILE table.
//
// All reads go through a CCabStream positioned at the structure. Names are
// bounded (CAB_NAME_MAX bytes) and must be terminated within the bytes the
// cabinet really holds; nothing is taken from beyond what a read returned.
#pragma once

#include <cstdint>

#include "fdi/CabFormat.h"
#include "fdi/CabStream.h"
#include "fdi/Fault.h"

namespace Fdi {

// A parsed CFHEADER.
struct CabHeader {
    uint32_t CbCabinet;                 // cabinet size as stored (not trusted for anything)
    uint32_t CoffFiles;                 // offset of the first CFFILE
    uint16_t Version;                   // major << 8 | minor
    uint16_t CFolders;                  // CFFOLDER entries
    uint16_t CFiles;                    // CFFILE entries
    uint16_t Flags;                     // CAB_FLAG_*
    uint16_t SetId;                     // identifier shared by the cabinets of a set
    uint16_t ICabinet;                  // index of this cabinet in its set
    uint16_t HeaderReserve;             // bytes skipped after the reserve sizes
    uint8_t FolderReserve;              // bytes after each CFFOLDER
    uint8_t DataReserve;                // bytes after each CFDATA header
    char PrevCabinet[CAB_NAME_MAX + 1]; // "" unless CAB_FLAG_PREV_CABINET
    char PrevDisk[CAB_NAME_MAX + 1];
    char NextCabinet[CAB_NAME_MAX + 1]; // "" unless CAB_FLAG_NEXT_CABINET
    char NextDisk[CAB_NAME_MAX + 1];

    bool HasPrev() const { return (Flags & CAB_FLAG_PREV_CABINET) != 0; }
    bool HasNext() const { return (Flags & CAB_FLAG_NEXT_CABINET) != 0; }
    bool HasReserve() const { return (Flags & CAB_FLAG_RESERVE_PRESENT) != 0; }
};

// A CFFOLDER entry.
struct FolderEntry {
    uint32_t CoffCabStart; // offset of the folder's first CFDATA in this cabinet
    uint16_t CCFData;      // CFDATA blocks of the folder in this cabinet
    uint16_t TypeCompress; // compression type and parameters
};

// A CFFILE entry; Name points into the parser's buffer during OnFile only.
struct FileEntry {
    uint32_t Size;    // uncompressed bytes
    uint32_t Offset;  // uoffFolderStart
    uint16_t IFolder; // folder index or IFOLD_*
    uint16_t Date, Time, Attribs;
    const char *Name; // 1..CAB_NAME_MAX bytes and a NUL
    uint32_t NameLength;
};

// Receives the CFFILE entries in table order.
class IFileVisitor {
public:
    virtual ~IFileVisitor() = default;
    // Any fault other than None stops the table read with that fault.
    virtual Fault OnFile(const FileEntry &entry) = 0;
};

// Reads the header at the stream's position 0. NotACabinet: fewer than 36
// bytes or no "MSCF"; UnknownVersion: above 1.3 (*version receives it);
// Corrupt: reserve sizes or names cut, unterminated or too long.
Fault ReadHeader(CCabStream &stream, CabHeader *header, uint16_t *version);

// Reads header->CFolders entries into folders (room for that many) from the
// stream's position, which must follow the header. Corrupt when cut short.
Fault ReadFolders(CCabStream &stream, const CabHeader &header, FolderEntry *folders);

// Reads the CFFILE table, which must start where the folder table ended
// (the stream's position): a coffFiles pointing elsewhere is Corrupt, so
// that no reader can list other entries than the ones we extract. An empty
// name, a name without its NUL or longer than CAB_NAME_MAX, or a cut entry
// is Corrupt.
Fault ReadFiles(CCabStream &stream, const CabHeader &header, IFileVisitor &visitor);

// True when both folder words name the same compression: for stored data
// the parameter bits do not matter, for the others they must agree.
bool IsSameCompression(uint16_t first, uint16_t second);

} // namespace Fdi
