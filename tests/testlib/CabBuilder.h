// Builds MS-CAB cabinets in memory for tests: an oracle, kept apart from fdi/CabFormat.h on purpose.
//
// Its offsets, little-endian helpers and checksum are written here a second
// time, independently of the decoder's and the writer's, so that a fault in
// the shared format header cannot hide behind a test built on it.
// Stored and MSZIP folders are encoded here (MSZIP with zlib's raw deflate,
// each block "CK" + one deflate stream that may refer back into the
// previous block, as makecab writes them); folders of any other compression
// type take caller-made blocks (AddRawBlock). The builder writes correct
// structures only; malformed cabinets are made by patching the result at the
// offsets recorded in CabLayout (PutLe16/PutLe32, then RefreshChecksum if
// the block checksum should still match).
//
//   CCabBuilder builder;                  // stored folder, checksums on
//   builder.AddFolder(CAB_COMPRESS_MSZIP)
//          .AddFile("a.txt", Bytes("hello"))
//          .AddFile("dir\\b.bin", PatternBytes(100000, 7));
//   CabImage cab = builder.Build();
//   std::vector<CabImage> set = builder.BuildSet({"s1.cab", "s2.cab"}, 60000);
//
// Sets: BuildSet cuts the folders' CFDATA payload into cabinets of at most
// the given number of payload bytes; a block that does not fit is split, its
// first part ending the cabinet with cbUncomp 0 and the rest starting the
// next one. A file is listed in every cabinet that holds part of its bytes,
// with iFolder 0xFFFE (continues), 0xFFFD (continued) or 0xFFFF (both): a
// file starts in the cabinet where the block holding its first byte starts
// (CabOptions::ListWhereBlocksEnd: ends) and ends where the block holding
// its last byte ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace TestLib {

// CFFOLDER typeCompress values the builder encodes itself.
constexpr uint16_t CAB_COMPRESS_NONE = 0x0000;
constexpr uint16_t CAB_COMPRESS_MSZIP = 0x0001;

// CFFILE iFolder values of continued files.
constexpr uint16_t CAB_IFOLD_CONTINUED_FROM_PREV = 0xFFFD;
constexpr uint16_t CAB_IFOLD_CONTINUED_TO_NEXT = 0xFFFE;
constexpr uint16_t CAB_IFOLD_CONTINUED_PREV_AND_NEXT = 0xFFFF;

// Fixed CFHEADER field offsets, for patching.
constexpr size_t CAB_OFF_SIGNATURE = 0;   // "MSCF"
constexpr size_t CAB_OFF_CB_CABINET = 8;  // u32 cabinet size
constexpr size_t CAB_OFF_COFF_FILES = 16; // u32 offset of the first CFFILE
constexpr size_t CAB_OFF_VERSION_MINOR = 24;
constexpr size_t CAB_OFF_VERSION_MAJOR = 25;
constexpr size_t CAB_OFF_C_FOLDERS = 26; // u16
constexpr size_t CAB_OFF_C_FILES = 28;   // u16
constexpr size_t CAB_OFF_FLAGS = 30;     // u16: 1 prev, 2 next, 4 reserve
constexpr size_t CAB_OFF_SET_ID = 32;    // u16
constexpr size_t CAB_OFF_I_CABINET = 34; // u16
constexpr size_t CAB_HEADER_SIZE = 36;

struct CabOptions {
    uint16_t SetId = 0x1234;
    uint16_t CabinetIndex = 0; // iCabinet of the first (or only) cabinet
    uint8_t VersionMinor = 3;
    uint8_t VersionMajor = 1;
    bool Checksums = true;              // write CFDATA checksums (else 0: "none")
    bool ChecksumCoversReserve = false; // fold the data reserve into the checksum
    uint32_t BlockSize = 32768;         // uncompressed bytes per CFDATA block
    int MszipLevel = 6;                 // zlib level for MSZIP folders
    // Reserve areas: written (with the reserve flag) when any is non-zero or
    // ReserveFlag is set.
    bool ReserveFlag = false;
    uint16_t HeaderReserve = 0;
    uint8_t FolderReserve = 0;
    uint8_t DataReserve = 0;
    uint8_t ReserveFill = 0; // byte every reserve area is filled with
    // Sets: list a file from the cabinet where the block holding its first
    // byte ends instead of where it starts. A file starting inside a block
    // split across two cabinets then belongs to the second one, in the
    // folder continued from the first.
    bool ListWhereBlocksEnd = false;
    // Names in the header of a single Build (the flags follow them).
    // BuildSet sets the cabinet names itself and uses the disk names.
    std::string PrevCabinet, PrevDisk, NextCabinet, NextDisk;
};

// Where the structures of one cabinet landed, relative to the cabinet start.
struct CabLayout {
    size_t ReserveSizes = 0;     // the 4-byte reserve-size field; 0 when absent
    std::vector<size_t> Folders; // CFFOLDER entries in table order
    std::vector<size_t> Files;   // CFFILE entries in table order
    std::vector<size_t> Blocks;  // CFDATA headers in file order
};

struct CabImage {
    std::vector<uint8_t> Bytes;
    CabLayout Layout;
};

class CCabBuilder {
public:
    explicit CCabBuilder(const CabOptions &options = CabOptions());

    CabOptions &Options() { return m_Options; }

    // Starts a new folder; later AddFile calls fill it. NONE and MSZIP
    // folders are encoded by the builder; any other typeCompress makes a raw
    // folder whose blocks come from AddRawBlock.
    CCabBuilder &AddFolder(uint16_t typeCompress = CAB_COMPRESS_NONE);
    // Appends a file to the last folder (a stored folder is started if there
    // is none). name is the stored byte string.
    CCabBuilder &AddFile(const std::string &name, const std::vector<uint8_t> &data, uint16_t attribs = 0x20,
                         uint16_t date = 0x5264, uint16_t time = 0x28c4);
    // Appends a file to folder folderIndex (to interleave folders in the
    // CFFILE table).
    CCabBuilder &AddFileTo(size_t folderIndex, const std::string &name, const std::vector<uint8_t> &data,
                           uint16_t attribs = 0x20, uint16_t date = 0x5264, uint16_t time = 0x28c4);
    // Raw folders only: a file of size bytes at the next offset of the
    // folder, and a caller-made block (payload, uncompressed size).
    CCabBuilder &AddRawFile(const std::string &name, uint32_t size, uint16_t attribs = 0x20);
    CCabBuilder &AddRawBlock(const std::vector<uint8_t> &payload, uint16_t uncompressedSize);
    // Lists the CFFILE entries of a single Build in this order of file
    // numbers (0 = first added) instead of the order they were added.
    CCabBuilder &SetTableOrder(const std::vector<size_t> &order);

    // One cabinet holding everything.
    CabImage Build() const;
    // A set of names.size() cabinets, each holding at most payloadPerCabinet
    // bytes of CFDATA payload. Throws std::logic_error when the data needs
    // more or fewer cabinets than names.
    std::vector<CabImage> BuildSet(const std::vector<std::string> &names, uint32_t payloadPerCabinet) const;
    // As many cabinets as the data needs, named prefix + "1.cab", "2.cab", ...
    // (*names receives the names when not NULL).
    std::vector<CabImage> BuildSetByPrefix(const std::string &prefix, uint32_t payloadPerCabinet,
                                           std::vector<std::string> *names = nullptr) const;

private:
    struct FileEntry { // a file added, as its CFFILE entry will describe it
        std::string Name;
        size_t Folder;
        uint32_t Offset; // in the folder's uncompressed data
        uint32_t Size;
        uint16_t Attribs, Date, Time;
    };
    struct DataBlock { // one CFDATA block: payload and cbUncomp
        std::vector<uint8_t> Payload;
        uint16_t Uncompressed;
    };
    struct FolderEntry { // a folder added: its compression and content
        uint16_t TypeCompress;
        bool Raw;
        std::vector<uint8_t> Data;     // encoded folders: the uncompressed data
        std::vector<DataBlock> Blocks; // raw folders: the caller's blocks
        uint32_t RawSize = 0;          // raw folders: bytes given to files so far
    };
    struct Piece; // a CFDATA block or a part of a split one, placed in a cabinet
    struct BlockPlace {
        uint64_t Offset;     // of the block's output in the folder
        uint32_t Size;       // cbUncomp
        size_t StartCabinet; // cabinet holding its first part
        size_t EndCabinet;   // cabinet holding its last part
    };

    // Names the cabinets prefix1.cab... when prefix is not empty.
    std::vector<CabImage> BuildNamedSet(std::vector<std::string> &names, uint32_t payloadPerCabinet,
                                        const std::string &prefix) const;
    std::vector<DataBlock> EncodeFolder(const FolderEntry &folder) const;
    CabImage WriteCabinet(size_t cabinet, const std::vector<Piece> &pieces, const std::vector<size_t> &folderFirstCab,
                          const std::vector<size_t> &folderLastCab,
                          const std::vector<std::vector<BlockPlace>> &blockCabs, const std::string &prevName,
                          const std::string &nextName, bool isSet) const;

    CabOptions m_Options;
    std::vector<FolderEntry> m_Folders;
    std::vector<FileEntry> m_Files;
    std::vector<size_t> m_TableOrder;
};

// Little-endian field access for patching built cabinets.
void PutLe16(std::vector<uint8_t> &bytes, size_t offset, uint16_t value);
void PutLe32(std::vector<uint8_t> &bytes, size_t offset, uint32_t value);
uint16_t GetLe16(const std::vector<uint8_t> &bytes, size_t offset);
uint32_t GetLe32(const std::vector<uint8_t> &bytes, size_t offset);

// The CFDATA checksum of size bytes, continuing from seed.
uint32_t CabChecksum(const uint8_t *data, size_t size, uint32_t seed);
// Recomputes the checksum of block blockIndex of a built cabinet (after its
// payload or sizes were patched). dataReserve is the cabinet's data reserve;
// coversReserve folds the reserve bytes into the sum after cbData/cbUncomp.
void RefreshChecksum(CabImage &image, size_t blockIndex, uint8_t dataReserve = 0, bool coversReserve = false);

// The cabinet behind offset filler bytes that hold no "MSCF".
std::vector<uint8_t> EmbedAtOffset(const std::vector<uint8_t> &cabinet, size_t offset);

// Test data: the bytes of text; size bytes of a repeatable pseudo-random
// sequence (incompressible); size bytes of compressible text-like data.
std::vector<uint8_t> Bytes(const std::string &text);
std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed);
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);

// Writes bytes to path (created or replaced); false on failure.
bool WriteWholeFile(const std::string &path, const std::vector<uint8_t> &bytes);

} // namespace TestLib
