// The one rule for names that a cabinet may store and the extractor may
// create: what can leave the destination, what Windows would create under
// another name or not at all, and what it would take for another file.
// The extractor applies it to every stored name and every cabinet-set
// member name; the packer applies it before storing a name (and refuses
// more on top). The result says which rule a name breaks, so that a tool
// can tell why in words; the extractor itself carries no texts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Win32.h"

namespace Cabinet {

enum class NameRule : uint8_t {
    Accepted = 0,
    InvalidText,        // flagged UTF-8 (attribute 0x80) but not valid UTF-8
    Absolute,           // begins with a separator: a root, UNC or device path
    EmptyLevel,         // an empty name, or two separators in a row
    DotLevel,           // a "." or ".." level
    Colon,              // a drive letter or an NTFS stream ("C:x", "a:b")
    ControlCharacter,   // a character from 0x01 to 0x1F
    ReservedCharacter,  // one of < > " | ? *
    TrailingDotOrSpace, // Windows drops them: "setup.exe." becomes "setup.exe"
    DeviceName,         // CON, PRN, AUX, NUL, COM0-9, LPT0-9, COM/LPT with
                        // a superscript 1-3, CONIN$, CONOUT$; any case, any
                        // extension ("nul.txt", "Con .log")
    LevelTooLong,       // a level of more than MAX_NAME_LEVEL UTF-16 units
    PathTooLong,        // an output path longer than the extractor creates
    Duplicate,          // names an earlier file of the run in other letter case
    Separator,          // a cabinet-set member name with a folder part
};

// UTF-16 units of one level, as NTFS allows.
constexpr size_t MAX_NAME_LEVEL = 255;
// The longest output paths the extractor creates, in UTF-16 units without
// the terminator: plain Win32 paths (no "\\?\"), MAX_PATH for a file and
// CreateDirectoryW's MAX_PATH - 12 for a folder. The same on every system,
// so that a package behaves alike wherever it is extracted.
constexpr size_t MAX_OUTPUT_PATH = MAX_PATH - 1;
constexpr size_t MAX_OUTPUT_FOLDER = MAX_PATH - 13;

// One level, length units at level: a file or folder name on its own.
// A separator ("\" or "/") in it gives NameRule::Separator.
NameRule CheckNameLevel(const WCHAR *level, size_t length);

// relPath: a decoded stored name, levels separated by "\" or "/". Every
// level must pass CheckNameLevel. One trailing separator is allowed: such a
// name denotes no file, and its open fails later in the usual way.
NameRule CheckStoredName(const WCHAR *relPath);

// A next or previous cabinet named in a cabinet header: a plain file name
// in the folder of the first cabinet.
NameRule CheckSetMemberName(const WCHAR *name);

// The output path destination + relPath (destination ending in "\") and
// the folder that holds it must fit MAX_OUTPUT_PATH and MAX_OUTPUT_FOLDER.
NameRule CheckOutputPath(size_t destinationLength, const WCHAR *relPath);

// CheckStoredName (relPath) == NameRule::Accepted.
bool IsSafeStoredName(const WCHAR *relPath);

} // namespace Cabinet
