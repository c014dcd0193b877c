// Rules for the names the packer stores: what Windows can create and the
// extractor accepts, so that a package never carries a name that fails on
// the user's machine.
#pragma once

#include <string>
#include <map>
#include <string_view>

namespace Selfex {

// Why one level of a name (the text between separators, UTF-8) cannot be
// stored, or an empty text when it can. Refused: empty, "." and "..",
// control characters, < > : " / \ | ? *, a trailing dot or space, invalid
// UTF-8, and the reserved device names (CON, PRN, AUX, NUL, COM0-9, LPT0-9,
// also with ¹ ² ³ and with any extension), in any letter case.
std::string StoredComponentProblem(std::string_view component);

// Tracks the names of one cabinet and refuses a name that Windows would
// make collide with an earlier one: the same name in any letter case, or a
// file where another name needs a folder (and the other way round). Folders
// whose names differ only in case merge on Windows and pass.
class CStoredNameSet {
public:
    // Adds name ("\" between levels). False, with the earlier name in
    // clash, when it collides.
    bool Add(const std::string &name, std::string &clash);

private:
    struct Entry {
        std::string Name; // as first given
        bool IsFolder;    // a level that holds other names
    };
    bool Insert(const std::string &name, bool isFolder, std::string &clash);
    std::map<std::string, Entry> m_ByKey; // key: the name with a-z upper-cased
};

} // namespace Selfex
