// Turns the inputs of "selfex pack" into cabinet members: a folder gives its
// contents, recursively, stored relative to itself; a file gives itself
// under its own name. Each member gets its size, its modification time as a
// local MS-DOS date and time, and its read-only, hidden, system and archive
// attributes.
#pragma once

#include <string>
#include <vector>

#include "platform/Win32.h"
#include "tools/StoredName.h"
#include "tools/cabwriter/CabWriter.h"

namespace Selfex {

struct ScanResult {
    std::vector<CabMember> Members;    // in input order; a folder's entries sorted by name
    std::vector<std::string> Problems; // what cannot be stored; any problem fails the pack
    std::vector<std::string> Notes;    // what was left out and why (empty folders, links to folders)
};

// Scans inputs (UTF-8 paths). A file at excludedPath (the package being
// written) is left out, so that repacking into an input folder does not
// store the previous package.
void ScanInputs(const std::vector<std::string> &inputs, const std::string &excludedPath, ScanResult &result);

// The local MS-DOS date and time of a UTC file time. Times before 1980 give
// 1980-01-01 00:00:00, times after 2107 give 2107-12-31 23:59:58.
void ToDosDateTime(const FILETIME &utc, uint16_t &date, uint16_t &time);

} // namespace Selfex
