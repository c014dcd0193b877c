// Rules for the names the packer stores.
#include "tools/StoredName.h"

#include "tools/TextConv.h"

namespace Selfex {

namespace {

std::string UpperAscii(std::string_view text)
{
    std::string upper(text);
    for (char &c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

// Windows reserves these device names in every folder, with any extension;
// the superscript digits count as digits there.
bool IsReservedDeviceName(std::string_view component)
{
    std::string base = UpperAscii(component.substr(0, component.find('.')));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$") {
        return true;
    }
    if (base.rfind("COM", 0) != 0 && base.rfind("LPT", 0) != 0) {
        return false;
    }
    std::string_view digit = std::string_view(base).substr(3);
    return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
           digit == "\xC2\xB3";
}

} // namespace

std::string StoredComponentProblem(std::string_view component)
{
    if (component.empty()) {
        return "an empty name or folder level";
    }
    if (component == "." || component == "..") {
        return "a \".\" or \"..\" level";
    }
    if (!IsValidUtf8(component)) {
        return "not valid UTF-8";
    }
    for (char c : component) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return "a control character";
        }
        if (std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos) {
            return std::string("the character '") + c + "', which Windows file names cannot hold";
        }
    }
    if (component.back() == '.' || component.back() == ' ') {
        return "a trailing dot or space, which Windows drops";
    }
    if (IsReservedDeviceName(component)) {
        return "a device name reserved by Windows";
    }
    return std::string();
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
    auto [at, added] = m_ByKey.try_emplace(UpperAscii(name), Entry{name, isFolder});
    if (added || (isFolder && at->second.IsFolder)) {
        return true;
    }
    clash = at->second.Name;
    return false;
}

} // namespace Selfex
