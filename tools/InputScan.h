// Turns the inputs of "selfex pack" into cabinet members: a folder gives its
// contents, recursively, stored relative to itself; a file gives itself
// under its own name. Each member gets its size, its modification time as a
// local MS-DOS date and time, and its read-only, hidden, system and archive
// attributes.
#pragma once

#include <string>
#include <vector>

#include "tools/NamePattern.h"
#include "platform/Win32.h"
#include "tools/StoredName.h"
#include "tools/cabwriter/CabWriter.h"

namespace Selfex {

// What to do with a symbolic link met below a folder input (a link given
// as an input itself is always followed: it was named on purpose).
enum class LinkPolicy {
    Skip,   // left out, with a note
    Follow, // what it leads to is stored under the link's name
    Error,  // a problem that fails the pack
};

struct ScanOptions {
    std::vector<CNamePattern> Excludes; // what not to store (see ScanInputs)
    LinkPolicy Links = LinkPolicy::Skip;
};

struct ScanResult {
    std::vector<CabMember> Members;    // in input order; a folder's entries sorted by name
    std::vector<std::string> Problems; // what cannot be stored; any problem fails the pack
    std::vector<std::string> Notes;    // what was left out or changed, and why
    std::vector<std::string> Excluded; // the stored names --exclude left out (a folder once)
};

// Scans inputs (UTF-8 paths). A file at outputPath (the package being
// written) is left out, so that repacking into an input folder does not
// store the previous package. A file or folder is left out, without a look
// inside, when an exclude pattern matches its stored name, or matches its
// own name and holds no separator.
void ScanInputs(const std::vector<std::string> &inputs, const std::string &outputPath, const ScanOptions &options,
                ScanResult &result);

// The local MS-DOS date and time of a UTC file time. Times before 1980 give
// 1980-01-01 00:00:00, times after 2107 give 2107-12-31 23:59:58; the
// result is then -1 or 1 (0 for a time in range).
int ToDosDateTime(const FILETIME &utc, uint16_t &date, uint16_t &time);

} // namespace Selfex
