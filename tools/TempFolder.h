// A private folder in the system's temporary folder, removed with all it
// holds when the object goes (also on the failure paths an interrupt takes).
#pragma once

#include <string>

namespace Selfex {

class CTempFolder {
public:
    CTempFolder() = default;
    ~CTempFolder() { Remove(); }
    CTempFolder(const CTempFolder &) = delete;
    CTempFolder &operator=(const CTempFolder &) = delete;

    // Creates "selfex-test-<thread id>-<random>" there, for its owner only.
    // False with a message when no folder can be made.
    bool Create(std::string &error);
    // The folder (UTF-8, "/" between levels); empty before Create.
    const std::string &Path() const { return m_Path; }
    // Deletes the folder and everything below it, read-only entries included.
    void Remove();

private:
    std::string m_Path;
};

} // namespace Selfex
