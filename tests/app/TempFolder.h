// A unique temporary folder for one test, removed with everything in it.
#pragma once

#include <string>

#include "platform/Win32.h"

class CTempFolder {
public:
    // Creates a new folder below the system's temporary folder.
    CTempFolder();
    // Removes the folder and its contents, read-only files included.
    ~CTempFolder();
    CTempFolder(const CTempFolder &) = delete;
    CTempFolder &operator=(const CTempFolder &) = delete;

    // The folder's path without a trailing backslash.
    const std::wstring &Path() const { return m_Path; }
    // Path() + "\" + relative.
    std::wstring operator/(const std::wstring &relative) const { return m_Path + L"\\" + relative; }

private:
    std::wstring m_Path;
};

// True when path names an existing folder / an existing file.
bool FolderExists(const std::wstring &path);
bool FileExists(const std::wstring &path);
