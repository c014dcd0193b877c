// selfex test: decodes every file, streamed through a checksum, and reports
// each one.
#include <cstdio>

#include "tools/Cli.h"
#include "tools/Interrupt.h"
#include "tools/PackageReader.h"
#include "tools/PrintableText.h"

namespace Selfex {

namespace {

// Prints a line per finished file and remembers the one under way.
class CTestReport : public IExtractObserver {
public:
    explicit CTestReport(std::ostream &out) : m_Out(out) {}

    void OnFileStart(const StoredFile &file) override
    {
        m_Current = file;
        m_Open = true;
    }
    void OnBytes(uint32_t) override {}
    void OnFileDone(uint32_t size, uint32_t crc32) override
    {
        m_Open = false;
        if (size == m_Current.Size) {
            ++m_Passed;
            char crc[16];
            std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(crc32));
            m_Out << "ok      " << PrintableText(m_Current.Name) << " (" << size << " bytes, CRC-32 " << crc << ")\n";
        } else {
            ++m_Failed;
            m_Out << "FAILED  " << PrintableText(m_Current.Name) << ": " << size << " bytes decoded, " << m_Current.Size
                  << " stored\n";
        }
    }

    // After a failed run: the file under way failed.
    void ReportFailure(const std::string &error)
    {
        ++m_Failed;
        m_Out << "FAILED  " << (m_Open ? PrintableText(m_Current.Name) : std::string("(cabinet)")) << ": "
              << PrintableText(error) << "\n";
    }

    uint32_t Passed() const { return m_Passed; }
    uint32_t Failed() const { return m_Failed; }

private:
    std::ostream &m_Out;
    StoredFile m_Current;
    bool m_Open = false;
    uint32_t m_Passed = 0;
    uint32_t m_Failed = 0;
};

} // namespace

int RunTest(const ParsedArgs &args, ToolContext &context)
{
    const char command[] = "test";
    const std::string &path = args.Operands[0];
    CPackageReader reader;
    std::string error;
    if (!reader.Open(path, error)) {
        return Fail(context, command, error);
    }
    // The listing counts the files; its failure (an unsafe name) fails the test too.
    std::vector<StoredFile> files;
    bool listed = reader.List(files, error);

    CTestReport report(context.Out);
    if (listed && reader.Test(report, error) && report.Failed() == 0) {
        context.Out << "all " << report.Passed() << (report.Passed() == 1 ? " file" : " files") << " ok\n";
        return EXIT_OK;
    }
    if (!error.empty()) {
        report.ReportFailure(error);
    }
    size_t reached = report.Passed() + report.Failed();
    size_t unreached = files.size() > reached ? files.size() - reached : 0;
    context.Out << report.Passed() << " ok, " << report.Failed() << " failed, " << unreached << " not reached\n";
    return Fail(context, command, path + ": " + (IsInterrupted() ? InterruptText() : std::string("the test failed")));
}

} // namespace Selfex
