// The PE headers of a Windows executable held in memory: what the stub
// check needs (a GUI program?) and what the resource writer needs (the
// section table, the data directories and the fields it rewrites).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Selfex {

constexpr uint16_t PE_SUBSYSTEM_WINDOWS_GUI = 2;
constexpr size_t PE_DIRECTORY_RESOURCE = 2;
constexpr size_t PE_DIRECTORY_SECURITY = 4;   // the certificate table; a file offset, not an RVA
constexpr size_t PE_DIRECTORY_RELOCATION = 5; // base relocations
constexpr uint32_t PE_SECTION_INITIALIZED_DATA = 0x40;

struct PeSection {
    std::string Name; // up to 8 characters
    uint32_t VirtualSize = 0;
    uint32_t VirtualAddress = 0;
    uint32_t RawSize = 0;
    uint32_t RawOffset = 0;
    uint32_t Characteristics = 0;
    size_t HeaderAt = 0; // file offset of its 40-byte entry in the section table
};

struct PeDirectory {
    uint32_t Address = 0; // an RVA, but a file offset for the certificate table
    uint32_t Size = 0;
};

// The headers every PE file has.
struct PeHeaders {
    size_t OptionalAt = 0; // file offset of the optional header
    bool Is64 = false;     // PE32+
    uint16_t Subsystem = 0;
};

// Everything the resource writer reads and rewrites.
struct PeLayout {
    PeHeaders Headers;
    uint32_t SectionAlignment = 0;
    uint32_t FileAlignment = 0;
    uint32_t SizeOfHeaders = 0;
    size_t SizeOfImageAt = 0; // file offsets of fields written back
    size_t InitializedDataAt = 0;
    size_t ChecksumAt = 0;
    size_t DirectoriesAt = 0;
    std::vector<PeDirectory> Directories;
    std::vector<PeSection> Sections; // in table order
};

// Reads the MZ and PE headers of image (size bytes). An empty text when it
// is a PE32 or PE32+ executable, else why not.
std::string ReadPeHeaders(const uint8_t *image, size_t size, PeHeaders &headers);

// ReadPeHeaders, then the data directories and the section table, which
// must lie inside the headers, and every section's raw data inside the file.
std::string ReadPeLayout(const uint8_t *image, size_t size, PeLayout &layout);

// Data directory index of image (size bytes, at least its headers): false
// when it is no PE file or has no such directory.
bool ReadPeDirectory(const uint8_t *image, size_t size, size_t index, PeDirectory &directory);

// The image checksum as the loader's check computes it: 16-bit words summed
// with end-around carry, the checksum field itself counted as zero, plus the
// file length.
uint32_t PeChecksum(const uint8_t *image, size_t size, size_t checksumAt);

uint32_t LoadLe32(const uint8_t *bytes);
uint16_t LoadLe16(const uint8_t *bytes);
void StoreLe32(uint8_t *bytes, uint32_t value);
void StoreLe16(uint8_t *bytes, uint16_t value);

} // namespace Selfex
