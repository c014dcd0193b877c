// Gives a stub the package author's icon and version information.
#include "tools/pe/StubResources.h"

#include <algorithm>
#include <cstddef>
#include <set>

#include "tools/pe/PeImage.h"
#include "tools/pe/ResourceSection.h"

namespace Selfex {

namespace {

constexpr uint32_t LANGUAGE_US_ENGLISH = 0x0409;
constexpr uint32_t VERSION_RESOURCE_NAME = 1;

uint32_t AlignUp(uint32_t value, uint32_t alignment)
{
    return (value + alignment - 1) & ~(alignment - 1);
}

bool Contains(const PeSection &section, uint32_t rva)
{
    return rva >= section.VirtualAddress && rva - section.VirtualAddress < std::max(section.VirtualSize, 1u);
}

// Replaces icon group 100 by the author's images; the stub's own images
// that no other group uses go.
void ReplaceIcon(std::vector<Resource> &resources, const std::vector<IconImage> &icon)
{
    ResourceId language = ResourceId::Of(LANGUAGE_US_ENGLISH);
    std::set<uint32_t> dropped;
    std::set<uint32_t> kept;
    for (const Resource &resource : resources) {
        if (!resource.Type.Is(RESOURCE_TYPE_GROUP_ICON)) {
            continue;
        }
        std::set<uint32_t> &members = resource.Name.Is(STUB_ICON_GROUP) ? dropped : kept;
        for (uint16_t id : IconGroupMembers(resource.Data)) {
            members.insert(id);
        }
        if (resource.Name.Is(STUB_ICON_GROUP)) {
            language = resource.Language;
        }
    }
    std::set<uint32_t> used;
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [&](const Resource &resource) {
                                       if (resource.Type.Is(RESOURCE_TYPE_GROUP_ICON)) {
                                           return resource.Name.Is(STUB_ICON_GROUP);
                                       }
                                       if (!resource.Type.Is(RESOURCE_TYPE_ICON)) {
                                           return false;
                                       }
                                       const bool unused = !resource.Name.IsName &&
                                                           dropped.count(resource.Name.Number) != 0 &&
                                                           kept.count(resource.Name.Number) == 0;
                                       if (!unused && !resource.Name.IsName) {
                                           used.insert(resource.Name.Number);
                                       }
                                       return unused;
                                   }),
                    resources.end());

    // The author's images under the lowest ids still free.
    std::vector<uint16_t> ids;
    for (uint32_t id = 1; ids.size() < icon.size(); ++id) {
        if (used.count(id) == 0) {
            ids.push_back(static_cast<uint16_t>(id));
        }
    }
    for (size_t i = 0; i < icon.size(); ++i) {
        resources.push_back({ResourceId::Of(RESOURCE_TYPE_ICON), ResourceId::Of(ids[i]), language, 0, icon[i].Data});
    }
    resources.push_back({ResourceId::Of(RESOURCE_TYPE_GROUP_ICON), ResourceId::Of(STUB_ICON_GROUP), language, 0,
                         IconGroupData(icon, ids)});
}

void ReplaceVersion(std::vector<Resource> &resources, const VersionStrings &version)
{
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [](const Resource &resource) { return resource.Type.Is(RESOURCE_TYPE_VERSION); }),
                    resources.end());
    resources.push_back({ResourceId::Of(RESOURCE_TYPE_VERSION), ResourceId::Of(VERSION_RESOURCE_NAME),
                         ResourceId::Of(LANGUAGE_US_ENGLISH), 0, VersionResourceData(version)});
}

// The sections after the resource section: none, or the base relocations
// alone, which nothing but their directory entry points at.
std::string CheckSectionsBehind(const PeLayout &layout, size_t resourceIndex, size_t fileSize, long &relocationIndex)
{
    const PeSection &resources = layout.Sections[resourceIndex];
    relocationIndex = -1;
    uint32_t fileEnd = resources.RawOffset + resources.RawSize;
    for (size_t i = 0; i < layout.Sections.size(); ++i) {
        const PeSection &section = layout.Sections[i];
        if (i == resourceIndex || (section.VirtualAddress < resources.VirtualAddress &&
                                   (section.RawSize == 0 || section.RawOffset < resources.RawOffset))) {
            continue;
        }
        const bool relocations = layout.Directories.size() > PE_DIRECTORY_RELOCATION &&
                                 layout.Directories[PE_DIRECTORY_RELOCATION].Size != 0 &&
                                 Contains(section, layout.Directories[PE_DIRECTORY_RELOCATION].Address);
        if (!relocations || relocationIndex >= 0 || section.VirtualAddress < resources.VirtualAddress ||
            section.RawOffset < resources.RawOffset + resources.RawSize) {
            return "its resource section (" + resources.Name + ") is not the last section: " + section.Name +
                   " follows it";
        }
        relocationIndex = static_cast<long>(i);
        fileEnd = std::max(fileEnd, section.RawOffset + section.RawSize);
    }
    if (fileSize != fileEnd) {
        return "it carries " + std::to_string(fileSize - std::min<size_t>(fileSize, fileEnd)) +
               " bytes after its last section, which a new resource section would cut off";
    }
    // Nothing else may point into the sections that change or move.
    for (size_t d = 0; d < layout.Directories.size(); ++d) {
        const PeDirectory &directory = layout.Directories[d];
        if (d == PE_DIRECTORY_RESOURCE || d == PE_DIRECTORY_RELOCATION || d == PE_DIRECTORY_SECURITY ||
            directory.Size == 0) {
            continue;
        }
        if (Contains(resources, directory.Address) ||
            (relocationIndex >= 0 &&
             Contains(layout.Sections[static_cast<size_t>(relocationIndex)], directory.Address))) {
            return "its data directory " + std::to_string(d) + " points into the sections that would move";
        }
    }
    return std::string();
}

} // namespace

std::string RewriteStubResources(std::vector<uint8_t> &stub, const AuthorResources &author)
{
    PeLayout layout;
    std::string problem = ReadPeLayout(stub.data(), stub.size(), layout);
    if (!problem.empty()) {
        return problem;
    }
    const auto &directories = layout.Directories;
    if (directories.size() > PE_DIRECTORY_SECURITY && directories[PE_DIRECTORY_SECURITY].Size != 0) {
        return "it is signed, and a new resource section would break the signature (sign the package instead)";
    }
    if (directories.size() <= PE_DIRECTORY_RESOURCE || directories[PE_DIRECTORY_RESOURCE].Size == 0) {
        return "it has no resource section";
    }
    const uint32_t treeRva = directories[PE_DIRECTORY_RESOURCE].Address;
    size_t index = 0;
    while (index < layout.Sections.size() && layout.Sections[index].VirtualAddress != treeRva) {
        ++index;
    }
    if (index == layout.Sections.size()) {
        return "its resources do not start a section of their own";
    }
    long relocationIndex = -1;
    problem = CheckSectionsBehind(layout, index, stub.size(), relocationIndex);
    if (!problem.empty()) {
        return problem;
    }
    const PeSection old = layout.Sections[index];
    std::vector<Resource> resources;
    const size_t treeBytes = old.VirtualSize != 0 ? std::min(old.RawSize, old.VirtualSize) : old.RawSize;
    problem = ReadResources(stub.data() + old.RawOffset, treeBytes, old.VirtualAddress, resources);
    if (!problem.empty()) {
        return "its resources cannot be read: " + problem;
    }
    if (!author.Icon.empty()) {
        ReplaceIcon(resources, author.Icon);
    }
    if (author.HasVersion) {
        ReplaceVersion(resources, author.Version);
    }

    // The new file: everything before the resource section, the new section,
    // then the relocations, moved.
    std::vector<uint8_t> section = BuildResources(resources, old.VirtualAddress);
    const uint32_t virtualSize = static_cast<uint32_t>(section.size());
    const uint32_t rawSize = AlignUp(virtualSize, layout.FileAlignment);
    section.resize(rawSize, 0);
    std::vector<uint8_t> rebuilt(stub.begin(), stub.begin() + static_cast<std::ptrdiff_t>(old.RawOffset));
    rebuilt.insert(rebuilt.end(), section.begin(), section.end());
    uint32_t imageEnd = old.VirtualAddress + virtualSize;
    StoreLe32(rebuilt.data() + old.HeaderAt + 8, virtualSize);
    StoreLe32(rebuilt.data() + old.HeaderAt + 16, rawSize);
    StoreLe32(rebuilt.data() + layout.DirectoriesAt + 8 * PE_DIRECTORY_RESOURCE + 4, virtualSize);
    if (relocationIndex >= 0) {
        const PeSection &relocation = layout.Sections[static_cast<size_t>(relocationIndex)];
        const uint32_t newAddress = AlignUp(imageEnd, layout.SectionAlignment);
        const uint32_t newOffset = static_cast<uint32_t>(rebuilt.size());
        const auto from = stub.begin() + static_cast<std::ptrdiff_t>(relocation.RawOffset);
        rebuilt.insert(rebuilt.end(), from, from + static_cast<std::ptrdiff_t>(relocation.RawSize));
        StoreLe32(rebuilt.data() + relocation.HeaderAt + 12, newAddress);
        StoreLe32(rebuilt.data() + relocation.HeaderAt + 20, newOffset);
        const uint32_t directoryAt = directories[PE_DIRECTORY_RELOCATION].Address - relocation.VirtualAddress;
        StoreLe32(rebuilt.data() + layout.DirectoriesAt + 8 * PE_DIRECTORY_RELOCATION, newAddress + directoryAt);
        imageEnd = newAddress + (relocation.VirtualSize != 0 ? relocation.VirtualSize : relocation.RawSize);
    }
    StoreLe32(rebuilt.data() + layout.SizeOfImageAt, AlignUp(imageEnd, layout.SectionAlignment));
    if ((old.Characteristics & PE_SECTION_INITIALIZED_DATA) != 0) {
        const uint32_t initialized = LoadLe32(rebuilt.data() + layout.InitializedDataAt);
        StoreLe32(rebuilt.data() + layout.InitializedDataAt, initialized - old.RawSize + rawSize);
    }
    StoreLe32(rebuilt.data() + layout.ChecksumAt, PeChecksum(rebuilt.data(), rebuilt.size(), layout.ChecksumAt));
    stub.swap(rebuilt);
    return std::string();
}

} // namespace Selfex
