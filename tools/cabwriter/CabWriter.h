// Writes one MS-CAB cabinet: header, folder and file tables, and the
// checksummed data blocks of each folder, stored, MSZIP- or LZX-compressed.
//
// Files are laid out in the order given. A folder takes files until the next
// one would carry its uncompressed size past the folder limit; a file is
// never split, so a file larger than the limit gets a folder of its own (and
// an empty file stays in the folder before it). No files, no folders. The
// header and folder table are written first with placeholders and rewritten
// once the compressed sizes are known, so the sink must allow that.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/cabwriter/CabLayout.h"
#include "tools/cabwriter/LzxEncoder.h"

namespace Selfex {

enum class Compression {
    None,
    Mszip,
    Lzx
};

// One file to store.
struct CabMember {
    std::string Name;     // stored name: UTF-8, "\" between levels, 1 to 255 bytes, no zero byte
    uint32_t Size = 0;    // bytes the member source delivers for it
    uint16_t Date = 0;    // MS-DOS date as stored
    uint16_t Time = 0;    // MS-DOS time as stored
    uint16_t Attribs = 0; // only read-only, hidden, system and archive are kept; the
                          // writer adds the UTF-8 flag for names beyond ASCII
    std::string Source;   // for the member source: where the bytes are; not interpreted here
};

struct CabOptions {
    Compression Method = Compression::Mszip;
    unsigned LzxWindowBits = LZX_DEFAULT_WINDOW_BITS; // LZX: 15 .. 21
    unsigned LzxLevel = LZX_DEFAULT_LEVEL;            // LZX: LZX_MIN_LEVEL .. LZX_MAX_LEVEL
    uint32_t FolderLimit = CAB_MAX_FOLDER_BYTES;      // 1 .. CAB_MAX_FOLDER_BYTES uncompressed bytes
    uint32_t MaxCabinetBytes = 0x7FFFFFFF;            // the cabinet may not grow beyond this
    uint16_t SetId = 0;
    unsigned Jobs = 1; // folders compressed at once, each by a source of its own (IMemberSource::Fork)
};

// Delivers the bytes of one member at a time.
class IMemberSource {
public:
    virtual ~IMemberSource() = default;
    // Opens a member for reading; false with a message in error when it cannot.
    virtual bool Open(const CabMember &member, std::string &error) = 0;
    // Reads up to size bytes of the open member: the count read, 0 at its
    // end, -1 on failure with a message in error.
    virtual int64_t Read(uint8_t *buffer, uint32_t size, std::string &error) = 0;
    // Closes the open member.
    virtual void Close() = 0;
    // Another source of the same members, for another thread; null when
    // there is none, and then folders are compressed one after the other.
    virtual std::unique_ptr<IMemberSource> Fork() { return nullptr; }
};

// Receives the cabinet. Offsets count from the cabinet's first byte.
class ICabSink {
public:
    virtual ~ICabSink() = default;
    // Appends bytes at the end; false with a message on failure.
    virtual bool Append(const uint8_t *data, size_t size, std::string &error) = 0;
    // Replaces bytes already appended; false with a message on failure.
    virtual bool Overwrite(uint32_t offset, const uint8_t *data, size_t size, std::string &error) = 0;
};

// What a written cabinet holds.
struct CabSummary {
    uint32_t Files = 0;
    uint32_t Folders = 0;
    uint32_t Blocks = 0;
    uint64_t UncompressedBytes = 0;
    uint32_t CabinetBytes = 0;
};

// Checks the members against the format's limits and the options: at most
// 65535 files, names of 1 to 255 bytes without zero bytes, no file larger
// than a folder may be, LZX window and level in range. False with a message
// naming the first offender.
bool CheckCabMembers(const std::vector<CabMember> &members, const CabOptions &options, std::string &error);

// Writes the cabinet of members into sink, reading each member through
// source in order. With options.Jobs above 1, up to that many folders are
// compressed at once by sources that source forks, a few folders ahead of
// the one being written; the cabinet is the same byte for byte, and a
// failure is the one of the first folder that fails. A member whose source delivers fewer or more bytes than
// its Size fails the run. False with a message on any failure; the sink may
// then hold a partial cabinet, which the caller discards.
bool WriteCabinet(const std::vector<CabMember> &members, const CabOptions &options, IMemberSource &source,
                  ICabSink &sink, CabSummary &summary, std::string &error);

} // namespace Selfex
