// Folder listing: FindFirstFileW, FindNextFileW, FindClose.
//
// The pattern's last level may hold "*" (any run of characters) and "?"
// (one character); letters match regardless of ASCII case, and "*.*"
// matches every name, as on Windows. "." and ".." are listed like any
// other entry, as Windows lists them for every folder but a drive root.
#include <dirent.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/HostBridge.h"

namespace {

// The object behind a search HANDLE.
class CFindHandle : public Host::CHandleObject {
public:
    CFindHandle(DIR *folder, std::string hostFolder, std::u16string pattern)
        : m_Folder(folder), m_HostFolder(std::move(hostFolder)), m_Pattern(std::move(pattern))
    {
    }
    ~CFindHandle() override { closedir(m_Folder); }
    CFindHandle(const CFindHandle &) = delete;
    CFindHandle &operator=(const CFindHandle &) = delete;

    // Fills data with the next matching entry; false at the end.
    bool Next(WIN32_FIND_DATAW *data);

private:
    DIR *m_Folder;
    std::string m_HostFolder;
    std::u16string m_Pattern;
};

char16_t FoldCase(char16_t ch)
{
    return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - u'a' + u'A') : ch;
}

// Wildcard match with backtracking to the latest "*".
bool MatchesPattern(const std::u16string &name, const std::u16string &pattern)
{
    size_t n = 0, p = 0, starAt = std::u16string::npos, resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt != std::u16string::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

void FillFindData(const std::string &hostPath, const std::u16string &name, WIN32_FIND_DATAW *data)
{
    std::memset(data, 0, sizeof *data);
    struct stat status;
    // A dangling symbolic link is still listed, with its own status.
    if (stat(hostPath.c_str(), &status) != 0 && lstat(hostPath.c_str(), &status) != 0) {
        std::memset(&status, 0, sizeof status);
    }
    const WIN32_FILE_ATTRIBUTE_DATA described = Host::DescribeFile(status, hostPath);
    data->dwFileAttributes = described.dwFileAttributes;
    data->ftCreationTime = described.ftCreationTime;
    data->ftLastAccessTime = described.ftLastAccessTime;
    data->ftLastWriteTime = described.ftLastWriteTime;
    data->nFileSizeHigh = described.nFileSizeHigh;
    data->nFileSizeLow = described.nFileSizeLow;
    name.copy(data->cFileName, name.size());
}

bool CFindHandle::Next(WIN32_FIND_DATAW *data)
{
    while (const struct dirent *entry = readdir(m_Folder)) {
        const std::u16string name = Host::FromHostPath(entry->d_name);
        if (name.size() >= MAX_PATH || !MatchesPattern(name, m_Pattern)) {
            continue; // names Windows could not hold are skipped
        }
        FillFindData(m_HostFolder + "/" + entry->d_name, name, data);
        return true;
    }
    return false;
}

} // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW *data)
{
    if (pattern == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Split into the folder, converted like any path, and the name pattern.
    const std::u16string text(pattern);
    const size_t separator = text.find_last_of(u"\\/");
    std::u16string namePattern = separator == std::u16string::npos ? text : text.substr(separator + 1);
    const std::u16string folder =
        separator == std::u16string::npos ? u"." : (separator == 0 ? u"\\" : text.substr(0, separator));
    if (namePattern == u"*.*") {
        namePattern.assign(1, u'*'); // (not the literal: gcc 12 -O3 warns -Wrestrict falsely)
    }
    std::string hostFolder;
    if (!Host::ToHostPath(folder.c_str(), hostFolder)) {
        return INVALID_HANDLE_VALUE;
    }
    if (namePattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    DIR *listing = opendir(hostFolder.c_str());
    if (listing == nullptr) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : Host::Win32ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    auto *search = new CFindHandle(listing, hostFolder, namePattern);
    if (!search->Next(data)) {
        delete search;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return Host::RegisterHandle(search);
}

BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW *data)
{
    CFindHandle *object = Host::LookUpHandle<CFindHandle>(search);
    if (object == nullptr || data == nullptr) {
        return data == nullptr ? Host::Fail(ERROR_INVALID_PARAMETER) : FALSE;
    }
    return object->Next(data) ? TRUE : Host::Fail(ERROR_NO_MORE_FILES);
}

BOOL FindClose(HANDLE search)
{
    return Host::CloseHandleOf<CFindHandle>(search) ? TRUE : FALSE;
}
