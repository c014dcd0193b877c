// Files of the selfex tool: member data read for packing, and output files
// written under a temporary name and renamed into place only when complete,
// so that a failed run leaves nothing behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cabwriter/CabWriter.h"

namespace Selfex {

// The UTF-8 path of the running program.
std::string RunningExecutablePath();

// The text of the C runtime's current errno.
std::string LastErrnoText();

// Reads the whole file at path (UTF-8) if it is at most maxBytes long.
// False with a message when it cannot be read or is longer.
bool ReadSmallFile(const std::string &path, uint64_t maxBytes, std::vector<uint8_t> &bytes, std::string &error);

// Opens members by their Source, a UTF-8 file path. Read fails with
// InterruptText() once an interrupt is recorded.
class CFileMemberSource : public IMemberSource {
public:
    ~CFileMemberSource() override;
    bool Open(const CabMember &member, std::string &error) override;
    int64_t Read(uint8_t *buffer, uint32_t size, std::string &error) override;
    void Close() override;

private:
    int m_Handle = -1;
    std::string m_Path;
};

// An output file in the making. Create opens "<path>.<random>.tmp" beside
// path; Commit renames it to path (replacing an older file, never a
// folder); destruction without a successful Commit deletes it. Once an
// interrupt is recorded, Write and Commit fail with InterruptText().
class COutputFile {
public:
    COutputFile() = default;
    ~COutputFile();
    COutputFile(const COutputFile &) = delete;
    COutputFile &operator=(const COutputFile &) = delete;

    bool Create(const std::string &path, std::string &error);
    // Appends at the end (buffered).
    bool Write(const uint8_t *data, size_t size, std::string &error);
    // Replaces bytes already written; offset below 2 GiB.
    bool WriteAt(uint32_t offset, const uint8_t *data, size_t size, std::string &error);
    // Reads back up to size bytes at offset into buffer: the count read, or -1.
    int64_t ReadAt(uint32_t offset, uint8_t *buffer, uint32_t size, std::string &error);
    uint64_t Size() const { return m_Size; }
    // Flushes, closes and renames the file into place.
    bool Commit(std::string &error);
    // The temporary name while the file is being written.
    const std::string &TemporaryPath() const { return m_TempPath; }

private:
    bool Flush(std::string &error);
    void Discard();

    int m_Handle = -1;
    std::string m_Path;
    std::string m_TempPath;
    std::vector<uint8_t> m_Buffer;
    uint64_t m_Size = 0;
};

// A cabinet written into an output file from offset base on.
class CCabFileSink : public ICabSink {
public:
    CCabFileSink(COutputFile &file, uint32_t base) : m_File(file), m_Base(base) {}
    bool Append(const uint8_t *data, size_t size, std::string &error) override;
    bool Overwrite(uint32_t offset, const uint8_t *data, size_t size, std::string &error) override;

private:
    COutputFile &m_File;
    uint32_t m_Base;
};

} // namespace Selfex
