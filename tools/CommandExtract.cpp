// selfex extract: extracts a package or cabinet as the package itself would.
#include <memory>

#include "tools/Cli.h"
#include "tools/PackageReader.h"
#include "tools/PrintableText.h"
#include "tools/ProgressBar.h"

namespace Selfex {

namespace {

// Feeds the progress bar (only on a terminal) and counts what is done.
class CExtractProgress : public IExtractObserver {
public:
    CExtractProgress(ToolContext &context, const std::vector<StoredFile> &files)
    {
        for (const StoredFile &file : files) {
            m_TotalBytes += file.Size;
        }
        m_TotalFiles = static_cast<uint32_t>(files.size());
        if (context.ErrIsTerminal) {
            m_Bar = std::make_unique<CProgressBar>(context.Err, m_TotalBytes, m_TotalFiles);
        }
    }

    void OnFileStart(const StoredFile &file) override
    {
        m_CurrentSize = file.Size;
        m_CurrentName = file.Name;
        Draw(0, false);
    }
    void OnBytes(uint32_t written) override { Draw(written, false); }
    void OnFileDone(uint32_t, uint32_t) override
    {
        m_CurrentName.clear();
        m_DoneBytes += m_CurrentSize;
        ++m_DoneFiles;
        Draw(0, m_DoneFiles == m_TotalFiles);
    }

    void Finish()
    {
        if (m_Bar) {
            m_Bar->Finish();
        }
    }
    uint32_t DoneFiles() const { return m_DoneFiles; }
    uint64_t DoneBytes() const { return m_DoneBytes; }
    bool OnTerminal() const { return m_Bar != nullptr; }
    // The stored name of the file under way, or an empty text between files.
    const std::string &CurrentName() const { return m_CurrentName; }

private:
    void Draw(uint32_t currentWritten, bool force)
    {
        if (m_Bar) {
            m_Bar->Update(m_DoneBytes + currentWritten, m_DoneFiles, force);
        }
    }

    std::unique_ptr<CProgressBar> m_Bar;
    uint64_t m_TotalBytes = 0;
    uint32_t m_TotalFiles = 0;
    uint64_t m_DoneBytes = 0;
    uint32_t m_DoneFiles = 0;
    uint32_t m_CurrentSize = 0;
    std::string m_CurrentName;
};

} // namespace

int RunExtract(const ParsedArgs &args, ToolContext &context)
{
    const char command[] = "extract";
    const std::string &path = args.Operands[0];
    std::string destination = args.Get("directory", ".");
    CPackageReader reader;
    std::vector<StoredFile> files;
    std::string error;
    if (!reader.Open(path, error)) {
        return Fail(context, command, error);
    }
    // Every name is checked before the first file is written: the listing
    // stops at the first name the extractor refuses.
    if (!reader.List(files, error)) {
        return Fail(context, command, path + ": nothing extracted: " + error);
    }

    CExtractProgress progress(context, files);
    bool extracted = reader.Extract(destination, progress, error);
    progress.Finish();
    if (!extracted) {
        const std::string failed = progress.CurrentName().empty() ? "" : progress.CurrentName() + ": ";
        return Fail(context, command,
                    path + ": " + failed + error + "; " + std::to_string(progress.DoneFiles()) + " of " +
                        std::to_string(files.size()) + " files were extracted");
    }
    if (progress.OnTerminal()) {
        context.Err << "extracted " << progress.DoneFiles() << " files (" << FormatBytes(progress.DoneBytes())
                    << ") into " << PrintableText(destination) << "\n";
    }
    return EXIT_OK;
}

} // namespace Selfex
