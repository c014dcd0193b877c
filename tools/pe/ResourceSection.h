// A PE resource section as a flat list of resources (type, name, language,
// data), read from an image and written back as a new section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Selfex {

constexpr uint32_t RESOURCE_TYPE_ICON = 3;
constexpr uint32_t RESOURCE_TYPE_GROUP_ICON = 14;
constexpr uint32_t RESOURCE_TYPE_VERSION = 16;

// A number, or a name in UTF-16 code units.
struct ResourceId {
    bool IsName = false;
    uint32_t Number = 0;
    std::u16string Name;

    static ResourceId Of(uint32_t number) { return ResourceId{false, number, std::u16string()}; }
    bool Is(uint32_t number) const { return !IsName && Number == number; }
    bool operator==(const ResourceId &other) const;
    // The loader's search order: names (by code unit) before numbers.
    bool operator<(const ResourceId &other) const;
};

struct Resource {
    ResourceId Type;
    ResourceId Name;
    ResourceId Language;
    uint32_t CodePage = 0;
    std::vector<uint8_t> Data;
};

// The resources of a section whose tree starts at its first byte: section
// holds its raw data (size bytes), loaded at sectionRva. An empty text, or
// why the tree cannot be read (every data block must lie in the section).
std::string ReadResources(const uint8_t *section, size_t size, uint32_t sectionRva, std::vector<Resource> &resources);

// A section image holding resources (sorted here as the loader expects),
// to be loaded at sectionRva; its size is not padded to any alignment.
std::vector<uint8_t> BuildResources(std::vector<Resource> resources, uint32_t sectionRva);

} // namespace Selfex
