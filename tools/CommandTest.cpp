// selfex test: decodes every file, streamed through a checksum, and reports
// the ones that fail (every one with -v) and a summary.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "tools/CabinetSet.h"
#include "tools/Cli.h"
#include "tools/FolderWorkers.h"
#include "tools/Interrupt.h"
#include "tools/PackageReader.h"
#include "tools/PrintableText.h"
#include "tools/ProgressBar.h"

namespace Selfex {

namespace {

const char COMMAND[] = "test";

// Reports each finished file (failures always, the rest with -v), feeds
// the progress line and remembers the file under way. From several
// workers, it keeps what they report and tells it in cabinet order after
// the run (Replay), as a single run would have told it.
class CTestReport : public IExtractObserver, public IFolderObserver {
public:
    CTestReport(ToolContext &context, Verbosity verbosity, const std::vector<StoredFile> &files)
        : m_Out(context.Out), m_Verbosity(verbosity)
    {
        uint64_t bytes = 0;
        for (const StoredFile &file : files) {
            bytes += file.Size;
        }
        m_Bar = std::make_unique<CProgressBar>(context, verbosity != Verbosity::Quiet, bytes,
                                               static_cast<uint32_t>(files.size()));
        m_Feed = std::make_unique<CSharedProgress>(*m_Bar);
    }

    bool OnFileStart(const StoredFile &file, const std::string &) override
    {
        m_Current = file;
        m_Open = true;
        m_Bar->StartFile(file.Name);
        return true;
    }
    void OnBytes(uint32_t written) override { m_Bar->FileBytes(written); }
    void OnFileDone(uint32_t size, uint32_t crc32) override
    {
        m_Open = false;
        m_Bar->EndFile(m_Current.Size);
        Judge(size, crc32);
    }

    bool OnFileStart(size_t, const StoredFile &file, const std::string &) override
    {
        m_Feed->Start(file.Name);
        return true;
    }
    void OnFileBytes(uint64_t more) override { m_Feed->Bytes(more); }
    void OnFileDone(size_t index, const StoredFile &, uint32_t size, uint32_t crc32) override
    {
        m_Feed->End();
        if (m_Results.size() <= index) {
            m_Results.resize(index + 1);
        }
        m_Results[index] = {true, size, crc32};
    }

    // Tells the files the workers finished before index stop, in order;
    // with underWay, the file at stop is the one a failure stopped in.
    void Replay(const std::vector<StoredFile> &files, size_t stop, bool underWay)
    {
        for (size_t i = 0; i < stop && i < m_Results.size() && i < files.size(); ++i) {
            if (m_Results[i].Done) {
                m_Current = files[i];
                Judge(m_Results[i].Size, m_Results[i].Crc);
            }
        }
        m_Open = underWay && stop < files.size();
        if (m_Open) {
            m_Current = files[stop];
        }
    }

    // After a failed run: the file under way failed.
    void ReportFailure(const std::string &error)
    {
        ++m_Failed;
        Print("FAILED  " + (m_Open ? PrintableText(m_Current.Name) : std::string("(cabinet)")) + ": " +
              PrintableText(error));
    }

    void Finish() { m_Bar->Clear(); }
    uint32_t Passed() const { return m_Passed; }
    uint32_t Failed() const { return m_Failed; }
    uint64_t PassedBytes() const { return m_Bytes; }
    double Seconds() const { return m_Bar->Seconds(); }

private:
    struct Result {
        bool Done = false;
        uint32_t Size = 0;
        uint32_t Crc = 0;
    };

    // Counts and reports the current file, finished with size bytes.
    void Judge(uint32_t size, uint32_t crc32)
    {
        if (size == m_Current.Size) {
            ++m_Passed;
            m_Bytes += size;
            if (m_Verbosity == Verbosity::Verbose) {
                char crc[16];
                std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(crc32));
                Print("ok      " + PrintableText(m_Current.Name) + " (" + std::to_string(size) + " bytes, CRC-32 " +
                      crc + ")");
            }
        } else {
            ++m_Failed;
            Print("FAILED  " + PrintableText(m_Current.Name) + ": " + std::to_string(size) + " bytes decoded, " +
                  std::to_string(m_Current.Size) + " stored");
        }
    }

    void Print(const std::string &line)
    {
        m_Bar->Clear();
        m_Out << line << "\n";
    }

    std::ostream &m_Out;
    Verbosity m_Verbosity;
    std::unique_ptr<CProgressBar> m_Bar;
    std::unique_ptr<CSharedProgress> m_Feed;
    std::vector<Result> m_Results; // by index, from the workers
    StoredFile m_Current;
    bool m_Open = false;
    uint32_t m_Passed = 0;
    uint32_t m_Failed = 0;
    uint64_t m_Bytes = 0;
};

// Tests one package; false after a failure it has reported.
bool TestPackage(ToolContext &context, Verbosity verbosity, unsigned jobs, const std::string &path, bool several)
{
    CPackageReader reader;
    std::string error;
    if (!reader.Open(path, error)) {
        Fail(context, COMMAND, error);
        return false;
    }
    if (reader.Continues()) {
        CCabinetTables tables;
        tables.ReadHeader(path, error);
        Fail(context, COMMAND, path + ": " + FindSetStart(tables).Text);
        return false;
    }
    // The listing counts the files; its failure (an unsafe name) fails the test too.
    std::vector<StoredFile> files;
    const bool listed = reader.List(files, error);

    CTestReport report(context, verbosity, files);
    // Only the verbose listing shows each file's CRC-32.
    const bool crcWanted = verbosity == Verbosity::Verbose;
    reader.SetCrcWanted(crcWanted);
    std::vector<uint32_t> folderOfFile;
    uint32_t folders = 0;
    bool tested;
    if (listed && jobs > 1 && PlanFolders(path, files.size(), folderOfFile, folders) && folders > 1) {
        FolderJob job;
        job.Path = path;
        job.CrcWanted = crcWanted;
        job.Workers = std::min(jobs, folders);
        const FolderOutcome outcome = RunFolderWorkers(job, folderOfFile, folders, report);
        report.Replay(files, outcome.Ok ? files.size() : outcome.FailedIndex, outcome.InFile);
        tested = outcome.Ok;
        error = outcome.Error;
    } else {
        tested = listed && reader.Test(report, error);
    }
    report.Finish();
    const std::string prefix = several ? PrintableText(path) + ": " : "";
    if (tested && report.Failed() == 0) {
        if (verbosity != Verbosity::Quiet) {
            context.Out << prefix << "all " << report.Passed() << (report.Passed() == 1 ? " file" : " files") << " ok ("
                        << FormatBytes(report.PassedBytes()) << " in " << FormatDuration(report.Seconds()) << ")\n";
        }
        return true;
    }
    if (!error.empty()) {
        report.ReportFailure(error);
    }
    size_t reached = report.Passed() + report.Failed();
    size_t unreached = files.size() > reached ? files.size() - reached : 0;
    context.Out << prefix << report.Passed() << " ok, " << report.Failed() << " failed, " << unreached
                << " not reached\n";
    Fail(context, COMMAND, path + ": " + (IsInterrupted() ? InterruptText() : std::string("the test failed")));
    return false;
}

} // namespace

int RunTest(const ParsedArgs &args, ToolContext &context)
{
    const Verbosity verbosity = VerbosityOf(args);
    unsigned jobs = DefaultJobs();
    if (args.Has("jobs") && !ParseJobs(args.Get("jobs"), jobs)) {
        return UsageError(context, COMMAND, "-j takes a number of workers from 1 to " + std::to_string(MAX_JOBS));
    }
    bool failed = false;
    for (const std::string &path : args.Operands) {
        failed = !TestPackage(context, verbosity, jobs, path, args.Operands.size() > 1) || failed;
        if (IsInterrupted()) {
            break;
        }
    }
    return failed ? EXIT_FAILED : EXIT_OK;
}

} // namespace Selfex
