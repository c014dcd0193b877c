// Names the packer stores: the shared rule, its words, and name collisions.
#include "tools/StoredName.h"

#include "cabinet/CaseFold.h"

namespace Selfex {

namespace {

// Names the first of characters in component, which Windows names cannot
// hold.
std::string OffendingCharacter(std::string_view component, std::string_view characters)
{
    const size_t at = component.find_first_of(characters);
    return std::string("the character '") + component[at] + "', which Windows file names cannot hold";
}

} // namespace

std::string DescribeNameRule(Cabinet::NameRule rule)
{
    using Cabinet::NameRule;
    switch (rule) {
    case NameRule::Accepted: return std::string();
    case NameRule::InvalidText: return "not valid UTF-8";
    case NameRule::Absolute: return "an absolute path (it begins with a separator)";
    case NameRule::EmptyLevel: return "an empty name or folder level";
    case NameRule::DotLevel: return "a \".\" or \"..\" level";
    case NameRule::Colon: return "the character ':' (a drive or an NTFS stream)";
    case NameRule::ControlCharacter: return "a control character";
    case NameRule::ReservedCharacter: return "one of the characters < > \" | ? *, which Windows file names cannot hold";
    case NameRule::TrailingDotOrSpace: return "a trailing dot or space, which Windows drops";
    case NameRule::DeviceName: return "a device name reserved by Windows";
    case NameRule::LevelTooLong:
        return "a name or folder level of more than " + std::to_string(Cabinet::MAX_NAME_LEVEL) + " UTF-16 units";
    case NameRule::PathTooLong:
        return "an output path longer than Windows creates (" + std::to_string(Cabinet::MAX_OUTPUT_PATH) +
               " characters, folders " + std::to_string(Cabinet::MAX_OUTPUT_FOLDER) + ")";
    case NameRule::Duplicate: return "the name of an earlier file in other letter case";
    case NameRule::Separator: return "a folder part, where a plain file name must stand";
    }
    return "an unsafe name";
}

std::string StoredComponentProblem(std::string_view component)
{
    if (!IsValidUtf8(component)) {
        return DescribeNameRule(Cabinet::NameRule::InvalidText);
    }
    const WideString wide = Utf8ToWide(component);
    const Cabinet::NameRule rule = Cabinet::CheckNameLevel(wide.data(), wide.size());
    switch (rule) {
    case Cabinet::NameRule::ReservedCharacter: return OffendingCharacter(component, "<>\"|?*");
    case Cabinet::NameRule::Separator: return OffendingCharacter(component, "/\\");
    default: return DescribeNameRule(rule);
    }
}

bool CStoredNameSet::Add(const std::string &name, std::string &clash)
{
    // Every level above the file itself is a folder.
    for (size_t cut = name.find('\\'); cut != std::string::npos; cut = name.find('\\', cut + 1)) {
        if (!Insert(name.substr(0, cut), true, clash)) {
            return false;
        }
    }
    return Insert(name, false, clash);
}

bool CStoredNameSet::Insert(const std::string &name, bool isFolder, std::string &clash)
{
    WideString key = Utf8ToWide(name);
    Cabinet::FoldCase(key.data(), key.size());
    auto [at, added] = m_ByKey.try_emplace(key, Entry{name, isFolder});
    if (added || (isFolder && at->second.IsFolder)) {
        return true;
    }
    clash = at->second.Name;
    return false;
}

} // namespace Selfex
