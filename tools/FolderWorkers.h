// extract and test on several threads: each worker drives an extractor of
// its own (the extractor binds itself to the thread that made it) over the
// whole cabinet, takes whole folders as it meets them and skips the files
// of the folders another worker took, which the decompressor passes over
// without decoding them.
//
// The commands hear of every file a worker takes through one lock, with the
// file's index in cabinet order, so that they can report in that order
// after the run. A failure stops the workers from taking folders that begin
// after the failing file; the folders begun before it are finished, so the
// first failure in cabinet order is the one a single run would meet.
//
// A set of several cabinets runs on one thread: its folders may span
// cabinets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/PackageReader.h"
#include "tools/ProgressBar.h"

namespace Selfex {

// The worker count for -j N: false for anything but a whole number from 1
// to MAX_JOBS.
constexpr unsigned MAX_JOBS = 256;
bool ParseJobs(const std::string &text, unsigned &jobs);
// The number of cores, at least 1: the default for -j.
unsigned DefaultJobs();

// What the commands hear from the workers, one call at a time.
class IFolderObserver {
public:
    virtual ~IFolderObserver() = default;
    // The file with this index is about to be decoded to outPath: true takes it.
    virtual bool OnFileStart(size_t index, const StoredFile &file, const std::string &outPath) = 0;
    // More bytes of some file under way are out.
    virtual void OnFileBytes(uint64_t more) = 0;
    // The file with this index is complete: size bytes decoded, and their
    // CRC-32 when testing with the CRC wanted.
    virtual void OnFileDone(size_t index, const StoredFile &file, uint32_t size, uint32_t crc32) = 0;
};

struct FolderJob {
    std::string Path;        // the package or cabinet, UTF-8
    std::string Destination; // where to extract; empty: test
    bool CrcWanted = false;  // test: hand each file's CRC-32 over
    unsigned Workers = 1;
};

struct FolderOutcome {
    bool Ok = true;
    std::string Error;      // the first failure in cabinet order
    size_t FailedIndex = 0; // the file under way at that failure, or the next one
    bool InFile = false;    // FailedIndex was under way
};

// The folder of each of fileCount stored files, numbered in cabinet order,
// and how many folders there are; false when the files cannot be shared
// out (several cabinets, or tables that do not match the listing).
bool PlanFolders(const std::string &path, size_t fileCount, std::vector<uint32_t> &folderOfFile, uint32_t &folders);

// Runs job.Workers workers over the folders of the plan.
FolderOutcome RunFolderWorkers(const FolderJob &job, const std::vector<uint32_t> &folderOfFile, uint32_t folders,
                               IFolderObserver &observer);

// Feeds one progress bar from files under way on several workers at once:
// the bar shows the name of the file begun last and the bytes of all.
class CSharedProgress {
public:
    explicit CSharedProgress(CProgressBar &bar) : m_Bar(bar) {}
    void Start(const std::string &name);
    void Bytes(uint64_t more);
    void End();

private:
    CProgressBar &m_Bar;
    uint64_t m_Done = 0;
    uint64_t m_DoneAtStart = 0; // m_Done when the bar's current file began
};

} // namespace Selfex
