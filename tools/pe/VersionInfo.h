// The version resource (VS_VERSIONINFO) that Explorer's file properties and
// GetFileVersionInfoW show: strings in US English, Unicode, and the fixed
// file and product version numbers taken from FileVersion and ProductVersion.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Selfex {

// Key and value, UTF-8, keys spelled as Windows names them.
using VersionStrings = std::vector<std::pair<std::string, std::string>>;

// Adds "KEY=VALUE" to strings (a key given again replaces its value). Keys:
// ProductName, ProductVersion, FileVersion, CompanyName, FileDescription,
// LegalCopyright, OriginalFilename, and the other standard ones (Comments,
// InternalName, LegalTrademarks, PrivateBuild, SpecialBuild), in any letter
// case. An empty text, or why the assignment is refused: no "=", another
// key, a value that is not UTF-8 or longer than 1024 bytes, a version that does not start with 1 to 4
// numbers up to 65535 separated by dots.
std::string AddVersionString(const std::string &assignment, VersionStrings &strings);

// The version resource's data for strings.
std::vector<uint8_t> VersionResourceData(const VersionStrings &strings);

// The numbers "a.b.c.d" at the start of version (missing ones are 0) as the
// fixed file info stores them: a << 16 | b, c << 16 | d. False when version
// does not start that way.
bool ParseVersionNumbers(const std::string &version, uint32_t &high, uint32_t &low);

} // namespace Selfex
