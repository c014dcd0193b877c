// Windows icon files and icon group resources.
#include "tools/pe/IconFile.h"

#include <algorithm>
#include <cstring>

#include "tools/pe/PeImage.h"

namespace Selfex {

namespace {

constexpr size_t ICON_HEADER_SIZE = 6;  // reserved 0, type 1, count
constexpr size_t FILE_ENTRY_SIZE = 16;  // IconImage::Entry, then size and offset
constexpr size_t GROUP_ENTRY_SIZE = 14; // IconImage::Entry, size, then the resource id
constexpr uint16_t ICON_TYPE = 1;
constexpr uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool IsPngOrBitmap(const uint8_t *data, size_t size)
{
    if (size >= sizeof PNG_SIGNATURE && std::memcmp(data, PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0) {
        return true;
    }
    // BITMAPINFOHEADER and its later versions (V4, V5), without a file header.
    const uint32_t headerSize = size >= 4 ? LoadLe32(data) : 0;
    return (headerSize == 40 || headerSize == 108 || headerSize == 124) && size >= headerSize;
}

} // namespace

std::string ReadIconFile(const uint8_t *file, size_t size, std::vector<IconImage> &images)
{
    images.clear();
    if (size < ICON_HEADER_SIZE) {
        return "cut short: no icon header";
    }
    const uint16_t type = LoadLe16(file + 2);
    if (LoadLe16(file) != 0 || type != ICON_TYPE) {
        return "not an icon file (header type " + std::to_string(type) + "; an icon has 1, a cursor 2)";
    }
    const size_t count = LoadLe16(file + 4);
    if (count == 0) {
        return "holds no image";
    }
    const size_t directoryEnd = ICON_HEADER_SIZE + count * FILE_ENTRY_SIZE;
    if (directoryEnd > size) {
        return "cut short: its directory of " + std::to_string(count) + " images runs past the end of the file";
    }
    struct Span {
        size_t Begin, End, Index;
    };
    std::vector<Span> spans;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t *entry = file + ICON_HEADER_SIZE + i * FILE_ENTRY_SIZE;
        const size_t length = LoadLe32(entry + 8);
        const size_t offset = LoadLe32(entry + 12);
        const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (length == 0) {
            return which + " is empty";
        }
        if (offset < directoryEnd) {
            return which + " overlaps the icon directory";
        }
        if (offset > size || size - offset < length) {
            return "cut short: " + which + " runs past the end of the file";
        }
        IconImage image;
        std::memcpy(image.Entry, entry, sizeof image.Entry);
        image.Data.assign(file + offset, file + offset + length);
        images.push_back(std::move(image));
        spans.push_back({offset, offset + length, i});
    }
    std::sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.Begin < b.Begin; });
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].Begin < spans[i - 1].End) {
            return "images " + std::to_string(std::min(spans[i].Index, spans[i - 1].Index) + 1) + " and " +
                   std::to_string(std::max(spans[i].Index, spans[i - 1].Index) + 1) + " overlap";
        }
    }
    for (size_t i = 0; i < images.size(); ++i) {
        if (!IsPngOrBitmap(images[i].Data.data(), images[i].Data.size())) {
            return "image " + std::to_string(i + 1) + " of " + std::to_string(count) +
                   " is neither a PNG image nor a bitmap";
        }
    }
    return std::string();
}

std::vector<uint8_t> IconGroupData(const std::vector<IconImage> &images, const std::vector<uint16_t> &ids)
{
    std::vector<uint8_t> data(ICON_HEADER_SIZE + images.size() * GROUP_ENTRY_SIZE, 0);
    StoreLe16(data.data() + 2, ICON_TYPE);
    StoreLe16(data.data() + 4, static_cast<uint16_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        uint8_t *entry = data.data() + ICON_HEADER_SIZE + i * GROUP_ENTRY_SIZE;
        std::memcpy(entry, images[i].Entry, sizeof images[i].Entry);
        // The group states each image's real size, whatever the file's entry said.
        StoreLe32(entry + 8, static_cast<uint32_t>(images[i].Data.size()));
        StoreLe16(entry + 12, ids[i]);
    }
    return data;
}

std::vector<uint16_t> IconGroupMembers(const std::vector<uint8_t> &data)
{
    std::vector<uint16_t> ids;
    if (data.size() < ICON_HEADER_SIZE) {
        return ids;
    }
    const size_t count = LoadLe16(data.data() + 4);
    for (size_t i = 0; i < count && ICON_HEADER_SIZE + (i + 1) * GROUP_ENTRY_SIZE <= data.size(); ++i) {
        ids.push_back(LoadLe16(data.data() + ICON_HEADER_SIZE + i * GROUP_ENTRY_SIZE + 12));
    }
    return ids;
}

} // namespace Selfex
