// Shared pieces of the extractor tests: a fault-injecting extractor, a
// fixture with a private folder, and small file helpers on wide paths.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cabinet/Extract.h"

using WString = std::basic_string<WCHAR>;

// UTF-8 text as a wide path with "/" turned into "\".
WString WidePath(const std::string &utf8);

// File helpers through the platform's wide API, so that they reach the same
// files as the extractor on both systems.
bool WriteBytes(const WString &path, const std::vector<uint8_t> &bytes);
bool ReadBytes(const WString &path, std::vector<uint8_t> &bytes);
bool PathExists(const WString &path);
// The same path for std::filesystem (POSIX: UTF-8 with "/").
std::filesystem::path FsPath(const WString &path);
// Every entry below folder as a sorted relative path with "/"; empty when
// the folder does not exist.
std::vector<std::string> ListTree(const WString &folder);

// The file at path has the stored MS-DOS date and time (local time unless
// attribute bit 0x100 says UTC) as its last-write time, where they convert,
// and exactly the stored read-only, hidden, system and archive bits.
::testing::AssertionResult HasStoredTimeAndAttributes(const WString &path, uint16_t date, uint16_t time,
                                                      uint16_t attribs);

// An extractor whose raw I/O can be made to fail, with its handlers and
// state opened up for the tests.
class CTestExtract : public Cabinet::CExtract {
public:
    using CExtract::CabinetBase;
    using CExtract::Current;
    using CExtract::NextCabinet;
    using CExtract::OnClose;
    using CExtract::OnNotify;
    using CExtract::OnRead;
    using CExtract::OnSeek;
    using CExtract::OnWrite;
    using CExtract::OpenStream;
    using CExtract::Positions;
    using CExtract::SetInMemory;
    using CExtract::Sink;

    // -1: never. n >= 0: after n successful calls (reads, seeks) or n bytes
    // (writes to output files), every further one fails with -1.
    int ReadsBeforeFailure = -1;
    int SeeksBeforeFailure = -1;
    int64_t WriteBytesBeforeFailure = -1;
    bool FailCloses = false;      // closes still happen, but report -1
    bool FailOutputOpens = false; // opens with _O_CREAT fail
    bool ThrowOnWrite = false;    // writes throw std::bad_alloc, as a failed allocation would
    int RawCloses = 0;

    int32_t RawRead(int32_t handle, void *buffer, uint32_t count) override;
    int32_t RawWrite(int32_t handle, const void *buffer, uint32_t count) override;
    int32_t RawClose(int32_t handle) override;
    int32_t RawSeek(int32_t handle, int32_t offset, int origin) override;
    int32_t RawOpen(const WCHAR *path, int flags, int permission) override;
};

// A test with its own empty folder, removed afterwards.
class ExtractTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The folder, ending in "\", and paths below it.
    const WString &Dir() const { return m_Dir; }
    WString PathTo(const std::string &relative) const { return m_Dir + WidePath(relative); }
    // Writes cabinet behind offset filler bytes (no "MSCF") to relative and
    // returns the package's path.
    WString WritePackage(const std::string &relative, const std::vector<uint8_t> &cabinet,
                         size_t offset = Cabinet::CABINET_SEARCH_START);

private:
    WString m_Dir;
};

// The texts of one OnCopyFile, copied.
struct CopyRecord {
    WString Name, RelDir, OutDir, OutPath;
};

// One OnCabinetInfo, copied.
struct CabinetRecord {
    std::string NextCabinet, NextDisk;
    WString CabinetPath;
    uint16_t SetId, CabinetIndex;
};

// Collects what the client callbacks see.
struct CallbackLog {
    std::vector<WString> CopyNames;              // RelPath of every OnCopyFile
    std::vector<CopyRecord> Copies;              // the other texts of every OnCopyFile
    std::vector<CabinetRecord> CabinetInfos;     // every OnCabinetInfo
    std::vector<WString> DonePaths;              // every OnFileDone path
    std::vector<std::vector<uint8_t>> DoneBytes; // sink contents in in-memory mode
    std::vector<Cabinet::ProgressInfo> Progress;
    std::vector<std::string> Cabinets;      // NextCabinet of every OnCabinetInfo
    std::vector<std::string> NextCabinets;  // NextCabinet of every OnNextCabinet
    int SkipIndex = -1;                     // OnCopyFile call to answer 0
    Cabinet::CExtract *AbortFrom = nullptr; // extractor to Abort ...
    const char *AbortIn = "";               // ... in the callback of this name
    // Called on the first progress report of every file (at its open).
    std::function<void(const Cabinet::ProgressInfo &)> OnFileOpened;
};

// Callbacks that record into the CallbackLog passed as user data.
Cabinet::ExtractCallbacks LoggingCallbacks();

// An extractor, created, with logging callbacks.
struct CopyRun {
    CTestExtract extract;
    CallbackLog log;

    CopyRun()
    {
        extract.Callbacks = LoggingCallbacks();
        EXPECT_TRUE(extract.Create());
    }
    bool Copy(const WString &package, const WString &destination)
    {
        return extract.Copy(CStrBufW(package.c_str()), CStrBufW(destination.c_str()), reinterpret_cast<intptr_t>(&log));
    }
};
