// Fixture for tests that run selfex commands in-process on files in a
// temporary folder. Paths are UTF-8 with "/" (which Windows accepts too).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/testlib/TempDir.h"

struct CommandResult {
    int Code;
    std::string Out;
    std::string Err;
};

class ToolTest : public TempDirTest {
public:
    // The temporary folder joined with relative ("" for the folder itself).
    std::string At(const std::string &relative) const;
    // Writes bytes to At(relative), creating missing folders.
    void Write(const std::string &relative, const std::vector<uint8_t> &bytes) const;
    void Write(const std::string &relative, const std::string &text) const;
    std::vector<uint8_t> Read(const std::string &relative) const;
    bool Exists(const std::string &relative) const;
    // Removes At(relative) and everything below it.
    void Remove(const std::string &relative) const;
    // Every file and folder below At(relative), relative to it, sorted.
    std::vector<std::string> Tree(const std::string &relative) const;
    // Runs "selfex args..."; the default stub lies nowhere.
    CommandResult Run(const std::vector<std::string> &args) const;
    // Run, bounded: a command still running after seconds ends the whole
    // test program with a message, since a hang cannot be stopped otherwise.
    CommandResult RunBounded(const std::vector<std::string> &args, int seconds = 120) const;
    // The temporary folders the tool left behind on this thread ("selfex test"
    // works in "<temp>/selfex-test-<thread id>-<random>").
    std::vector<std::string> LeftTemporaryFolders() const;
};

// A stand-in for the stub: size bytes of varied text behind the PE headers
// of a program of the given subsystem (2: Windows GUI), with "MSCF" at
// mscfAt when that is given.
std::vector<uint8_t> FakeStub(size_t size, long mscfAt = -1, uint16_t subsystem = 2);

// Bytes of a repeating text with some variation; shrinks under deflate.
std::vector<uint8_t> SampleBytes(size_t size, uint32_t seed);
