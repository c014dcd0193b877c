// extract and test on several threads, a worker per thread taking whole folders.
#include "tools/FolderWorkers.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "tools/CabinetSet.h"

namespace Selfex {

namespace {

// What the workers share; every member but the constants under Lock.
struct SharedRun {
    SharedRun(IFolderObserver &observer, const std::vector<uint32_t> &folderOfFile, uint32_t folders)
        : Observer(observer), FolderOfFile(folderOfFile), Folders(folders), Owner(folders + 1, -1)
    {
    }
    std::mutex Lock;
    IFolderObserver &Observer;
    const std::vector<uint32_t> &FolderOfFile;
    const uint32_t Folders;
    std::vector<int> Owner;      // the worker that took each folder, -1 for none; the last: files without one
    size_t StopIndex = SIZE_MAX; // the lowest failing index so far: no folder is taken after it
};

// One worker's view of its extractor's run: every file passes by, in
// cabinet order; those of folders the worker owns are handed on.
class CWorkerObserver : public IExtractObserver {
public:
    CWorkerObserver(SharedRun &shared, int id) : m_Shared(shared), m_Id(id) {}

    bool OnFileStart(const StoredFile &file, const std::string &outPath) override
    {
        const size_t index = m_Next++;
        m_Written = 0;
        m_InFile = false;
        const uint32_t folder = index < m_Shared.FolderOfFile.size() && m_Shared.FolderOfFile[index] < m_Shared.Folders
                                    ? m_Shared.FolderOfFile[index]
                                    : m_Shared.Folders;
        std::lock_guard<std::mutex> lock(m_Shared.Lock);
        int &owner = m_Shared.Owner[folder];
        if (owner < 0 && index < m_Shared.StopIndex) {
            owner = m_Id;
        }
        if (owner != m_Id) {
            return false;
        }
        m_InFile = m_Shared.Observer.OnFileStart(index, file, outPath);
        if (m_InFile) {
            m_File = file;
        }
        return m_InFile;
    }

    void OnBytes(uint32_t written) override
    {
        const uint64_t more = written > m_Written ? written - m_Written : 0;
        m_Written = std::max(m_Written, written);
        std::lock_guard<std::mutex> lock(m_Shared.Lock);
        m_Shared.Observer.OnFileBytes(more);
    }

    void OnFileDone(uint32_t size, uint32_t crc32) override
    {
        std::lock_guard<std::mutex> lock(m_Shared.Lock);
        if (m_File.Size > m_Written) {
            m_Shared.Observer.OnFileBytes(m_File.Size - m_Written);
        }
        m_Shared.Observer.OnFileDone(m_Next - 1, m_File, size, crc32);
        m_InFile = false;
    }

    // Where a failed run stopped: the file under way, or the next one.
    size_t StopIndex() const { return m_InFile ? m_Next - 1 : m_Next; }
    bool InFile() const { return m_InFile; }

private:
    SharedRun &m_Shared;
    const int m_Id;
    size_t m_Next = 0; // index of the next file to pass by
    StoredFile m_File; // the file under way
    uint32_t m_Written = 0;
    bool m_InFile = false;
};

// One worker, on its own thread: its extractor is made, used and destroyed there.
void RunWorker(const FolderJob &job, SharedRun &shared, int id, FolderOutcome &outcome)
{
    CWorkerObserver observer(shared, id);
    std::string error;
    bool ok;
    try {
        CPackageReader reader;
        ok = reader.Open(job.Path, error);
        if (ok && job.Destination.empty()) {
            reader.SetCrcWanted(job.CrcWanted);
            ok = reader.Test(observer, error);
        } else if (ok) {
            ok = reader.Extract(job.Destination, observer, error);
        }
    } catch (const std::bad_alloc &) {
        ok = false;
        error = "out of memory";
    }
    if (ok) {
        return;
    }
    outcome = {false, error, observer.StopIndex(), observer.InFile()};
    std::lock_guard<std::mutex> lock(shared.Lock);
    shared.StopIndex = std::min(shared.StopIndex, outcome.FailedIndex);
}

} // namespace

bool ParseJobs(const std::string &text, unsigned &jobs)
{
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const unsigned long value = std::stoul(text);
    if (value < 1 || value > MAX_JOBS) {
        return false;
    }
    jobs = static_cast<unsigned>(value);
    return true;
}

unsigned DefaultJobs()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 1u, MAX_JOBS);
}

bool PlanFolders(const std::string &path, size_t fileCount, std::vector<uint32_t> &folderOfFile, uint32_t &folders)
{
    CCabinetSetListing listing;
    std::string error;
    if (!listing.Read(path, false, error) || listing.Cabinets().size() != 1 || listing.Files().size() != fileCount) {
        return false;
    }
    folderOfFile.clear();
    for (const ListedFile &file : listing.Files()) {
        folderOfFile.push_back(file.Folder);
    }
    folders = static_cast<uint32_t>(listing.Folders().size());
    return true;
}

FolderOutcome RunFolderWorkers(const FolderJob &job, const std::vector<uint32_t> &folderOfFile, uint32_t folders,
                               IFolderObserver &observer)
{
    SharedRun shared(observer, folderOfFile, folders);
    std::vector<FolderOutcome> outcomes(job.Workers);
    std::vector<std::thread> threads;
    std::string startError;
    for (unsigned i = 0; i < job.Workers; ++i) {
        try {
            threads.emplace_back(RunWorker, std::cref(job), std::ref(shared), static_cast<int>(i),
                                 std::ref(outcomes[i]));
        } catch (const std::system_error &failure) {
            // The workers that did start take every folder between them.
            startError = failure.what();
            break;
        }
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    if (threads.empty()) {
        return {false, "cannot start a worker thread: " + startError, 0, false};
    }
    FolderOutcome first;
    for (const FolderOutcome &outcome : outcomes) {
        if (!outcome.Ok && (first.Ok || outcome.FailedIndex < first.FailedIndex)) {
            first = outcome;
        }
    }
    return first;
}

void CSharedProgress::Start(const std::string &name)
{
    m_Bar.StartFile(name);
    m_DoneAtStart = m_Done;
}

void CSharedProgress::Bytes(uint64_t more)
{
    m_Done += more;
    m_Bar.FileBytes(m_Done - m_DoneAtStart);
}

void CSharedProgress::End()
{
    m_Bar.EndFile(m_Done - m_DoneAtStart);
    m_DoneAtStart = m_Done;
}

} // namespace Selfex
