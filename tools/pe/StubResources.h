// Gives a stub the package author's icon and version information by
// rebuilding its resource section, the last section of the image (only the
// base relocations may follow it; they are moved behind the new section).
// Every other resource keeps its data byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pe/IconFile.h"
#include "tools/pe/VersionInfo.h"

namespace Selfex {

constexpr uint16_t STUB_ICON_GROUP = 100; // the group Explorer shows for the stub

struct AuthorResources {
    std::vector<IconImage> Icon; // replaces icon group 100 when not empty
    bool HasVersion = false;     // replaces every version resource when set
    VersionStrings Version;
};

// Rebuilds stub in place with the author's resources: the section table,
// the resource directory entry, SizeOfImage, SizeOfInitializedData and the
// checksum follow. An empty text, or why the stub cannot be changed (then
// stub is unchanged).
std::string RewriteStubResources(std::vector<uint8_t> &stub, const AuthorResources &author);

} // namespace Selfex
