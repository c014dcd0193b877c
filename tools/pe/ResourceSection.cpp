// A PE resource section as a flat list of resources.
#include "tools/pe/ResourceSection.h"

#include <algorithm>
#include <tuple>

#include "tools/pe/PeImage.h"

namespace Selfex {

namespace {

constexpr size_t DIRECTORY_SIZE = 16; // then 8-byte entries, named ones first
constexpr size_t ENTRY_SIZE = 8;
constexpr size_t DATA_ENTRY_SIZE = 16;
constexpr uint32_t HIGH_BIT = 0x80000000u; // a name (in the name field) or a subdirectory
constexpr size_t MAX_RESOURCES = 65536;    // bounds the walk of a tree whose directories share entries
constexpr size_t DATA_ALIGNMENT = 8;

class CTreeReader {
public:
    CTreeReader(const uint8_t *section, size_t size, uint32_t rva) : m_Section(section), m_Size(size), m_Rva(rva) {}

    std::string Read(std::vector<Resource> &resources)
    {
        Resource path;
        return Walk(0, 0, path, resources);
    }

private:
    std::string Walk(size_t at, int level, Resource &path, std::vector<Resource> &resources)
    {
        if (at > m_Size || m_Size - at < DIRECTORY_SIZE) {
            return "a resource directory lies outside the resource section";
        }
        const size_t count = size_t{LoadLe16(m_Section + at + 12)} + LoadLe16(m_Section + at + 14);
        if ((m_Size - at - DIRECTORY_SIZE) / ENTRY_SIZE < count) {
            return "a resource directory runs past the resource section";
        }
        for (size_t i = 0; i < count; ++i) {
            const uint8_t *entry = m_Section + at + DIRECTORY_SIZE + i * ENTRY_SIZE;
            ResourceId id;
            std::string problem = ReadId(LoadLe32(entry), id);
            if (!problem.empty()) {
                return problem;
            }
            (level == 0 ? path.Type : level == 1 ? path.Name : path.Language) = id;
            const uint32_t target = LoadLe32(entry + 4);
            const bool subdirectory = (target & HIGH_BIT) != 0;
            if (subdirectory != (level < 2)) {
                return "the resource tree is not three levels deep (type, name, language)";
            }
            problem =
                level < 2 ? Walk(target & ~HIGH_BIT, level + 1, path, resources) : ReadData(target, path, resources);
            if (!problem.empty()) {
                return problem;
            }
        }
        return std::string();
    }

    std::string ReadId(uint32_t field, ResourceId &id) const
    {
        if ((field & HIGH_BIT) == 0) {
            id = ResourceId::Of(field);
            return std::string();
        }
        const size_t at = field & ~HIGH_BIT;
        if (at > m_Size || m_Size - at < 2 || (m_Size - at - 2) / 2 < LoadLe16(m_Section + at)) {
            return "a resource name lies outside the resource section";
        }
        id.IsName = true;
        id.Name.clear();
        for (size_t i = 0; i < LoadLe16(m_Section + at); ++i) {
            id.Name.push_back(static_cast<char16_t>(LoadLe16(m_Section + at + 2 + 2 * i)));
        }
        return std::string();
    }

    std::string ReadData(size_t at, Resource &path, std::vector<Resource> &resources) const
    {
        if (at > m_Size || m_Size - at < DATA_ENTRY_SIZE) {
            return "a resource data entry lies outside the resource section";
        }
        const uint32_t rva = LoadLe32(m_Section + at);
        const uint32_t size = LoadLe32(m_Section + at + 4);
        if (rva < m_Rva || rva - m_Rva > m_Size || m_Size - (rva - m_Rva) < size) {
            return "resource data lies outside the resource section";
        }
        if (resources.size() >= MAX_RESOURCES) {
            return "the resource tree holds more than " + std::to_string(MAX_RESOURCES) + " resources";
        }
        path.CodePage = LoadLe32(m_Section + at + 8);
        path.Data.assign(m_Section + (rva - m_Rva), m_Section + (rva - m_Rva) + size);
        resources.push_back(path);
        return std::string();
    }

    const uint8_t *m_Section;
    size_t m_Size;
    uint32_t m_Rva;
};

void Append(std::vector<uint8_t> &out, const void *bytes, size_t count)
{
    const uint8_t *from = static_cast<const uint8_t *>(bytes);
    out.insert(out.end(), from, from + count);
}

void Pad(std::vector<uint8_t> &out, size_t alignment)
{
    out.resize((out.size() + alignment - 1) / alignment * alignment, 0);
}

// A directory header with its counts; its entries are filled in later.
size_t AddDirectory(std::vector<uint8_t> &out, size_t named, size_t numbered)
{
    const size_t at = out.size();
    out.resize(at + DIRECTORY_SIZE + (named + numbered) * ENTRY_SIZE, 0);
    StoreLe16(out.data() + at + 12, static_cast<uint16_t>(named));
    StoreLe16(out.data() + at + 14, static_cast<uint16_t>(numbered));
    return at;
}

// The distinct ids of one level among resources [first, last), sorted.
std::vector<std::pair<size_t, size_t>> Runs(const std::vector<Resource> &resources, size_t first, size_t last,
                                            const ResourceId Resource::*level)
{
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t i = first; i < last; ++i) {
        if (runs.empty() || !(resources[runs.back().first].*level == resources[i].*level)) {
            runs.push_back({i, i + 1});
        } else {
            runs.back().second = i + 1;
        }
    }
    return runs;
}

} // namespace

bool ResourceId::operator==(const ResourceId &other) const
{
    return IsName == other.IsName && (IsName ? Name == other.Name : Number == other.Number);
}

bool ResourceId::operator<(const ResourceId &other) const
{
    if (IsName != other.IsName) {
        return IsName;
    }
    return IsName ? Name < other.Name : Number < other.Number;
}

std::string ReadResources(const uint8_t *section, size_t size, uint32_t sectionRva, std::vector<Resource> &resources)
{
    resources.clear();
    return CTreeReader(section, size, sectionRva).Read(resources);
}

std::vector<uint8_t> BuildResources(std::vector<Resource> resources, uint32_t sectionRva)
{
    std::stable_sort(resources.begin(), resources.end(), [](const Resource &a, const Resource &b) {
        return std::tie(a.Type, a.Name, a.Language) < std::tie(b.Type, b.Name, b.Language);
    });

    // The three levels of directories first, then the data entries, the
    // names and the data; entry fields that point forward are patched.
    std::vector<uint8_t> out;
    struct PendingId {
        size_t EntryAt;
        const ResourceId *Id;
    };
    std::vector<PendingId> names;
    std::vector<std::pair<size_t, size_t>> dataEntries; // entry field offset, resource index
    auto countNamed = [](const std::vector<Resource> &all, const std::vector<std::pair<size_t, size_t>> &runs,
                         const ResourceId Resource::*level) {
        size_t named = 0;
        for (const auto &run : runs) {
            named += (all[run.first].*level).IsName ? 1u : 0u;
        }
        return named;
    };
    auto fillEntry = [&](size_t entryAt, const ResourceId &id) {
        if (id.IsName) {
            names.push_back({entryAt, &id});
        } else {
            StoreLe32(out.data() + entryAt, id.Number);
        }
    };

    const auto types = Runs(resources, 0, resources.size(), &Resource::Type);
    const size_t root = AddDirectory(out, countNamed(resources, types, &Resource::Type),
                                     types.size() - countNamed(resources, types, &Resource::Type));
    for (size_t t = 0; t < types.size(); ++t) {
        const size_t typeEntry = root + DIRECTORY_SIZE + t * ENTRY_SIZE;
        const auto items = Runs(resources, types[t].first, types[t].second, &Resource::Name);
        const size_t named = countNamed(resources, items, &Resource::Name);
        const size_t typeDirectory = AddDirectory(out, named, items.size() - named);
        fillEntry(typeEntry, resources[types[t].first].Type);
        StoreLe32(out.data() + typeEntry + 4, static_cast<uint32_t>(typeDirectory) | HIGH_BIT);
        for (size_t n = 0; n < items.size(); ++n) {
            const size_t nameEntry = typeDirectory + DIRECTORY_SIZE + n * ENTRY_SIZE;
            const auto languages = Runs(resources, items[n].first, items[n].second, &Resource::Language);
            const size_t namedLanguages = countNamed(resources, languages, &Resource::Language);
            const size_t nameDirectory = AddDirectory(out, namedLanguages, languages.size() - namedLanguages);
            fillEntry(nameEntry, resources[items[n].first].Name);
            StoreLe32(out.data() + nameEntry + 4, static_cast<uint32_t>(nameDirectory) | HIGH_BIT);
            for (size_t l = 0; l < languages.size(); ++l) {
                const size_t languageEntry = nameDirectory + DIRECTORY_SIZE + l * ENTRY_SIZE;
                fillEntry(languageEntry, resources[languages[l].first].Language);
                // A resource repeated with the same type, name and language: the last one counts.
                dataEntries.push_back({languageEntry + 4, languages[l].second - 1});
            }
        }
    }
    std::vector<size_t> dataEntryAt;
    for (const auto &pending : dataEntries) {
        StoreLe32(out.data() + pending.first, static_cast<uint32_t>(out.size()));
        dataEntryAt.push_back(out.size());
        out.resize(out.size() + DATA_ENTRY_SIZE, 0);
    }
    for (const PendingId &pending : names) {
        StoreLe32(out.data() + pending.EntryAt, static_cast<uint32_t>(out.size()) | HIGH_BIT);
        uint8_t length[2];
        StoreLe16(length, static_cast<uint16_t>(pending.Id->Name.size()));
        Append(out, length, 2);
        for (char16_t unit : pending.Id->Name) {
            uint8_t bytes[2];
            StoreLe16(bytes, static_cast<uint16_t>(unit));
            Append(out, bytes, 2);
        }
    }
    for (size_t i = 0; i < dataEntries.size(); ++i) {
        Pad(out, DATA_ALIGNMENT);
        const Resource &resource = resources[dataEntries[i].second];
        StoreLe32(out.data() + dataEntryAt[i], sectionRva + static_cast<uint32_t>(out.size()));
        StoreLe32(out.data() + dataEntryAt[i] + 4, static_cast<uint32_t>(resource.Data.size()));
        StoreLe32(out.data() + dataEntryAt[i] + 8, resource.CodePage);
        Append(out, resource.Data.data(), resource.Data.size());
    }
    return out;
}

} // namespace Selfex
