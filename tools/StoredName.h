// Names the packer stores: the extractor's name rule (cabinet/NameCheck.h),
// so that a package never carries a name that fails on the user's machine,
// plus the packer's own refusals on top (a file where a folder must go).
// The words for each rule live here: the extractor carries no texts.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "cabinet/NameCheck.h"
#include "tools/TextConv.h"

namespace Selfex {

// Why the rule refuses a name, in words ("a device name reserved by
// Windows"); empty for NameRule::Accepted.
std::string DescribeNameRule(Cabinet::NameRule rule);

// Why one level of a name (the text between separators, UTF-8) cannot be
// stored, or an empty text when it can: the rule's words, naming the
// character where one is at fault. "/" and "\" are characters here.
std::string StoredComponentProblem(std::string_view component);

// Tracks the names of one cabinet and refuses a name that Windows would
// make collide with an earlier one: the same name in any letter case (the
// rule's case folding: "Ä.txt" and "ä.txt" collide), or a file where
// another name needs a folder (and the other way round). Folders whose
// names differ only in case merge on Windows and pass.
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
    std::map<WideString, Entry> m_ByKey; // key: the name, letter case folded
};

} // namespace Selfex
