// The PE headers of a Windows executable held in memory.
#include "tools/pe/PeImage.h"

#include <cstring>

namespace Selfex {

namespace {

// Offsets in the MZ header, from the "PE\0\0" signature, and in the
// optional header (the same in PE32 and PE32+ unless said).
constexpr size_t MZ_NEW_HEADER_OFFSET = 0x3C; // u32 e_lfanew
constexpr size_t COFF_SECTION_COUNT = 6;      // u16, from the signature
constexpr size_t COFF_OPTIONAL_SIZE = 20;     // u16, from the signature
constexpr size_t PE_OPTIONAL_HEADER = 24;     // the optional header, from the signature
constexpr size_t OPT_INITIALIZED_DATA = 8;
constexpr size_t OPT_SECTION_ALIGNMENT = 32;
constexpr size_t OPT_FILE_ALIGNMENT = 36;
constexpr size_t OPT_SIZE_OF_IMAGE = 56;
constexpr size_t OPT_SIZE_OF_HEADERS = 60;
constexpr size_t OPT_CHECKSUM = 64;
constexpr size_t OPT_SUBSYSTEM = 68;
constexpr size_t OPT_DIRECTORY_COUNT_32 = 92; // u32; the directories follow it
constexpr size_t OPT_DIRECTORY_COUNT_64 = 108;
constexpr uint16_t MAGIC_PE32 = 0x10B;
constexpr uint16_t MAGIC_PE32_PLUS = 0x20B;
constexpr size_t SECTION_ENTRY_SIZE = 40;
constexpr size_t MAX_DIRECTORIES = 16;

} // namespace

uint32_t LoadLe32(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) | static_cast<uint32_t>(bytes[3]) << 24;
}

uint16_t LoadLe16(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

void StoreLe32(uint8_t *bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void StoreLe16(uint8_t *bytes, uint16_t value)
{
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

std::string ReadPeHeaders(const uint8_t *image, size_t size, PeHeaders &headers)
{
    if (size < MZ_NEW_HEADER_OFFSET + 4 || image[0] != 'M' || image[1] != 'Z') {
        return "not a Windows executable (no \"MZ\" header)";
    }
    const size_t pe = LoadLe32(image + MZ_NEW_HEADER_OFFSET);
    if (pe > size || size - pe < PE_OPTIONAL_HEADER || std::memcmp(image + pe, "PE\0\0", 4) != 0) {
        return "not a Windows PE executable (no \"PE\" signature where its MZ header points)";
    }
    const size_t optional = pe + PE_OPTIONAL_HEADER;
    const uint32_t optionalSize = LoadLe16(image + pe + COFF_OPTIONAL_SIZE);
    if (optionalSize < OPT_SUBSYSTEM + 2 || size - optional < OPT_SUBSYSTEM + 2) {
        return "not a complete PE executable (its optional header is missing or cut short)";
    }
    const uint16_t magic = LoadLe16(image + optional);
    if (magic != MAGIC_PE32 && magic != MAGIC_PE32_PLUS) {
        return "not a Windows PE executable (its optional header is neither PE32 nor PE32+)";
    }
    headers.OptionalAt = optional;
    headers.Is64 = magic == MAGIC_PE32_PLUS;
    headers.Subsystem = LoadLe16(image + optional + OPT_SUBSYSTEM);
    return std::string();
}

std::string ReadPeLayout(const uint8_t *image, size_t size, PeLayout &layout)
{
    layout = PeLayout();
    std::string problem = ReadPeHeaders(image, size, layout.Headers);
    if (!problem.empty()) {
        return problem;
    }
    const size_t optional = layout.Headers.OptionalAt;
    const size_t pe = optional - PE_OPTIONAL_HEADER;
    const size_t optionalSize = LoadLe16(image + pe + COFF_OPTIONAL_SIZE);
    const size_t countAt = layout.Headers.Is64 ? OPT_DIRECTORY_COUNT_64 : OPT_DIRECTORY_COUNT_32;
    if (optionalSize < countAt + 4 || size - optional < optionalSize) {
        return "its optional header is cut short";
    }
    const uint8_t *opt = image + optional;
    layout.SectionAlignment = LoadLe32(opt + OPT_SECTION_ALIGNMENT);
    layout.FileAlignment = LoadLe32(opt + OPT_FILE_ALIGNMENT);
    layout.SizeOfHeaders = LoadLe32(opt + OPT_SIZE_OF_HEADERS);
    layout.SizeOfImageAt = optional + OPT_SIZE_OF_IMAGE;
    layout.InitializedDataAt = optional + OPT_INITIALIZED_DATA;
    layout.ChecksumAt = optional + OPT_CHECKSUM;
    const uint32_t directoryCount = LoadLe32(opt + countAt);
    layout.DirectoriesAt = optional + countAt + 4;
    if (directoryCount > MAX_DIRECTORIES || (optionalSize - countAt - 4) / 8 < directoryCount) {
        return "its data directories do not fit its optional header";
    }
    for (uint32_t i = 0; i < directoryCount; ++i) {
        const uint8_t *entry = image + layout.DirectoriesAt + 8 * i;
        layout.Directories.push_back({LoadLe32(entry), LoadLe32(entry + 4)});
    }
    // Powers of two, as the loader demands; the rebuilt section relies on them.
    auto powerOfTwo = [](uint32_t value) { return value != 0 && (value & (value - 1)) == 0; };
    if (!powerOfTwo(layout.FileAlignment) || !powerOfTwo(layout.SectionAlignment)) {
        return "its section or file alignment is not a power of two";
    }

    const size_t tableAt = optional + optionalSize;
    const size_t count = LoadLe16(image + pe + COFF_SECTION_COUNT);
    if ((size - tableAt) / SECTION_ENTRY_SIZE < count || tableAt + count * SECTION_ENTRY_SIZE > layout.SizeOfHeaders) {
        return "its section table runs past its headers";
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t *entry = image + tableAt + i * SECTION_ENTRY_SIZE;
        PeSection section;
        section.Name.assign(reinterpret_cast<const char *>(entry), strnlen(reinterpret_cast<const char *>(entry), 8));
        section.VirtualSize = LoadLe32(entry + 8);
        section.VirtualAddress = LoadLe32(entry + 12);
        section.RawSize = LoadLe32(entry + 16);
        section.RawOffset = LoadLe32(entry + 20);
        section.Characteristics = LoadLe32(entry + 36);
        section.HeaderAt = tableAt + i * SECTION_ENTRY_SIZE;
        if (section.RawOffset > size || size - section.RawOffset < section.RawSize) {
            return "its section " + section.Name + " runs past the end of the file";
        }
        layout.Sections.push_back(section);
    }
    return std::string();
}

bool ReadPeDirectory(const uint8_t *image, size_t size, size_t index, PeDirectory &directory)
{
    PeHeaders headers;
    if (!ReadPeHeaders(image, size, headers).empty()) {
        return false;
    }
    const size_t optional = headers.OptionalAt;
    const size_t optionalSize = LoadLe16(image + optional - PE_OPTIONAL_HEADER + COFF_OPTIONAL_SIZE);
    const size_t countAt = headers.Is64 ? OPT_DIRECTORY_COUNT_64 : OPT_DIRECTORY_COUNT_32;
    const size_t entryAt = countAt + 4 + 8 * index;
    if (optionalSize < entryAt + 8 || size - optional < entryAt + 8 || LoadLe32(image + optional + countAt) <= index) {
        return false;
    }
    directory = {LoadLe32(image + optional + entryAt), LoadLe32(image + optional + entryAt + 4)};
    return true;
}

uint32_t PeChecksum(const uint8_t *image, size_t size, size_t checksumAt)
{
    uint64_t sum = 0;
    for (size_t at = 0; at < size; at += 2) {
        uint32_t word = image[at];
        if (at + 1 < size) {
            word |= static_cast<uint32_t>(image[at + 1]) << 8;
        }
        if (at >= checksumAt && at < checksumAt + 4) {
            word = 0;
        }
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + size);
}

} // namespace Selfex
