// Conversion between Win32 paths and host paths.
//
// A Win32 path here is UTF-16 with "\" or "/" between levels. The host form
// is UTF-8 with "/". On the way in, the levels are normalised as Win32 does
// before a path reaches the file system: "." levels vanish, ".." removes the
// level before it without looking at the disk (so "a\..\b" is "b" even when
// "a" does not exist), the last name loses its trailing dots and spaces
// ("setup.exe. " is "setup.exe") and every other name one trailing dot.
//
// Refused, with the error Windows gives for a path it cannot resolve:
//   - a drive ("C:\x", "Q:x"): POSIX has no drives, so every drive is a
//     drive that does not exist: ERROR_PATH_NOT_FOUND;
//   - a UNC or device path ("\\host\share", "\\.\x"): ERROR_BAD_NETPATH
//     ("\\?\" is dropped, as it only switches off Win32 normalisation);
//   - a character Windows forbids in names (0x01-0x1F, < > : " | ? *; the
//     colon would name an NTFS stream, which POSIX cannot hold) and a lone
//     surrogate, which has no UTF-8 form: ERROR_INVALID_NAME;
//   - the empty path: ERROR_PATH_NOT_FOUND.
#include <cerrno>
#include <vector>

#include "platform/posix/HostBridge.h"

namespace {

bool IsSeparator(WCHAR ch)
{
    return ch == u'\\' || ch == u'/';
}

bool IsForbiddenInName(WCHAR ch)
{
    return ch < 0x20 || ch == u'<' || ch == u'>' || ch == u':' || ch == u'"' || ch == u'|' || ch == u'?' || ch == u'*';
}

// Checks one level and trims it as Win32 does. The last level of a path
// that does not end in a separator loses all trailing dots and spaces (a
// level of nothing but dots, "...", becomes "." and so means its folder);
// any other level loses one trailing dot, keeps trailing spaces, and may
// not be three or more dots. "." and ".." stay for PushLevel. Returns
// ERROR_SUCCESS or the Win32 error.
DWORD NormaliseName(std::u16string &name, bool isLast)
{
    for (const WCHAR ch : name) {
        if (IsForbiddenInName(ch)) {
            return ERROR_INVALID_NAME;
        }
    }
    if (name == u"." || name == u"..") {
        return ERROR_SUCCESS;
    }
    if (isLast) {
        while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) {
            name.pop_back();
        }
        if (name.empty()) {
            name.assign(1, u'.'); // (not the literal: gcc 12 -O3 warns -Wrestrict falsely)
        }
        return ERROR_SUCCESS;
    }
    if (name.find_first_not_of(u'.') == std::u16string::npos) {
        return ERROR_INVALID_NAME;
    }
    if (name.back() == u'.') {
        name.pop_back();
    }
    return ERROR_SUCCESS;
}

// Adds one level to the normalised list, resolving "." and ".." lexically.
void PushLevel(std::vector<std::u16string> &levels, bool absolute, std::u16string &&name)
{
    if (name == u".") {
        return;
    }
    if (name == u"..") {
        if (!levels.empty() && levels.back() != u"..") {
            levels.pop_back();
        } else if (!absolute) {
            levels.push_back(std::move(name)); // above the current directory
        }
        return; // above the root is the root
    }
    levels.push_back(std::move(name));
}

} // namespace

namespace Host {

namespace {

bool ConvertPath(LPCWSTR path, std::string &hostPath, DWORD *error)
{
    if (path == nullptr) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
    }
    *error = ERROR_SUCCESS;
    std::u16string text(path);
    if (text.compare(0, 4, u"\\\\?\\") == 0) {
        text.erase(0, 4);
    }
    if (text.empty()) {
        *error = ERROR_PATH_NOT_FOUND;
    } else if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
        *error = ERROR_BAD_NETPATH;
    } else if (text.size() >= 2 && text[1] == u':') {
        *error = ERROR_PATH_NOT_FOUND;
    }
    if (*error != ERROR_SUCCESS) {
        return false;
    }

    const bool absolute = IsSeparator(text[0]);
    const bool trailing = IsSeparator(text.back());
    std::vector<std::u16string> names;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = start;
        while (end < text.size() && !IsSeparator(text[end])) {
            ++end;
        }
        if (end > start) { // doubled separators are one, as on Windows
            names.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    std::vector<std::u16string> levels;
    for (size_t i = 0; i < names.size(); ++i) {
        *error = NormaliseName(names[i], i + 1 == names.size() && !trailing);
        if (*error != ERROR_SUCCESS) {
            return false;
        }
        PushLevel(levels, absolute, std::move(names[i]));
    }

    hostPath = absolute ? "/" : "";
    for (size_t i = 0; i < levels.size(); ++i) {
        if (i > 0) {
            hostPath += '/';
        }
        if (!Utf16ToUtf8(levels[i].data(), levels[i].size(), true, hostPath)) {
            *error = ERROR_INVALID_NAME;
            return false;
        }
    }
    if (levels.empty() && !absolute) {
        hostPath = ".";
    } else if (trailing && !levels.empty()) {
        hostPath += '/'; // keeps "file\" failing as Windows does (not a directory)
    }
    return true;
}

} // namespace

bool ToHostPath(LPCWSTR path, std::string &hostPath)
{
    DWORD error;
    if (ConvertPath(path, hostPath, &error)) {
        return true;
    }
    SetLastError(error);
    return false;
}

bool RefuseFileAsFolder(const std::string &hostPath)
{
    if (hostPath.size() < 2 || hostPath.back() != '/') {
        return false;
    }
    struct stat status;
    const std::string withoutSeparator = hostPath.substr(0, hostPath.size() - 1);
    if (stat(withoutSeparator.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) {
        return false;
    }
    SetLastError(ERROR_INVALID_NAME);
    return true;
}

bool StatPath(const std::string &hostPath, struct stat &status)
{
    if (stat(hostPath.c_str(), &status) == 0) {
        return true;
    }
    SetLastError(PathError(errno, hostPath));
    return false;
}

std::u16string FromHostPath(const std::string &hostPath)
{
    std::u16string path = Utf8ToUtf16(hostPath);
    for (char16_t &ch : path) {
        if (ch == u'/') {
            ch = u'\\';
        }
    }
    return path;
}

DWORD CopyOutText(const std::u16string &text, LPWSTR buffer, DWORD size)
{
    const DWORD length = static_cast<DWORD>(text.size());
    if (buffer == nullptr || size <= length) {
        return length + 1;
    }
    text.copy(buffer, text.size());
    buffer[length] = 0;
    return length;
}

} // namespace Host
