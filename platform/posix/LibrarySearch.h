// The folders in which LoadLibraryW looks for a library on POSIX, in the
// order it looks, so that a caller can name them when a library is missing.
#pragma once

#include <string>
#include <vector>

namespace Host {

// SELFEX_LIBRARY_PATH alone when it is set and not empty; otherwise the
// running executable's folder, then "lib/selfex" and "lib" beside that
// folder (an installed tool, then the staged dist/ layout).
std::vector<std::string> LibrarySearchFolders();

} // namespace Host
