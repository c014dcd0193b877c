// A private temporary folder.
#include "tools/TempFolder.h"

#include <filesystem>
#include <random>

#include "platform/Win32.h"

namespace fs = std::filesystem;

namespace Selfex {

bool CTempFolder::Create(std::string &error)
{
    Remove();
    std::error_code failure;
    fs::path base = fs::temp_directory_path(failure);
    std::random_device random;
    // create_directory reports an existing entry as false: try another name.
    for (int attempt = 0; !failure && attempt < 8; ++attempt) {
        fs::path folder = base / ("selfex-test-" + std::to_string(GetCurrentThreadId()) + "-" +
                                  std::to_string(random()) + std::to_string(random()));
        if (fs::create_directory(folder, failure)) {
            fs::permissions(folder, fs::perms::owner_all, failure);
            m_Path = folder.u8string();
            return true;
        }
    }
    error = "cannot create a folder in the temporary folder " + base.u8string() +
            (failure ? ": " + failure.message() : std::string());
    return false;
}

void CTempFolder::Remove()
{
    if (m_Path.empty()) {
        return;
    }
    std::error_code failure;
    fs::remove_all(fs::u8path(m_Path), failure);
    if (failure) {
        // Windows refuses to delete read-only files: make everything writable, then try again.
        for (fs::recursive_directory_iterator it(fs::u8path(m_Path), failure), end; !failure && it != end;
             it.increment(failure)) {
            std::error_code ignored;
            fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
        }
        fs::remove_all(fs::u8path(m_Path), failure);
    }
    m_Path.clear();
}

} // namespace Selfex
