// Windows icon files (.ico): their images, and the icon group resource that
// ties the images, stored as separate icon resources, together again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Selfex {

struct IconImage {
    uint8_t Entry[8] = {}; // width, height, colours, reserved, planes, bits per pixel, as the directory has them
    std::vector<uint8_t> Data;
};

// The images of an .ico file (size bytes): an empty text, or why it is no
// usable icon file (cut short, wrong type or count, an image outside the
// file or overlapping the directory or another image, an image that is
// neither PNG nor a bitmap).
std::string ReadIconFile(const uint8_t *file, size_t size, std::vector<IconImage> &images);

// The icon group resource for images stored as icon resources ids.
std::vector<uint8_t> IconGroupData(const std::vector<IconImage> &images, const std::vector<uint16_t> &ids);

// The icon resource ids a group resource names; empty when data is no group.
std::vector<uint16_t> IconGroupMembers(const std::vector<uint8_t> &data);

} // namespace Selfex
