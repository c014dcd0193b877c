// Reads packages and bare cabinets through Cabinet::CExtract.
#include "tools/PackageReader.h"

#include <cstring>
#include <filesystem>
#include <random>
#include <set>

#include "tools/ErrorText.h"
#include "tools/FileIo.h"
#include "tools/PackageLayout.h"
#include "tools/TextConv.h"

namespace fs = std::filesystem;

namespace Selfex {

namespace {

// What the extractor's callbacks talk to during one Copy.
struct RunState {
    IExtractObserver *Observer = nullptr;
    std::vector<StoredFile> *Files = nullptr; // listing: collect and skip everything
};

StoredFile ToStoredFile(const Cabinet::CopyFileInfo &info)
{
    StoredFile file;
    file.Name = WideToUtf8(info.RelPath);
    file.Size = info.Size;
    file.Attribs = info.Attribs;
    WORD date = 0;
    WORD time = 0;
    if (FileTimeToDosDateTime(&info.Time, &date, &time)) {
        file.Date = date;
        file.Time = time;
    }
    return file;
}

int OnCopyFile(const Cabinet::CopyFileInfo *info, intptr_t userData)
{
    auto *state = reinterpret_cast<RunState *>(userData);
    if (state->Files) {
        state->Files->push_back(ToStoredFile(*info));
        return 0;
    }
    if (state->Observer) {
        state->Observer->OnFileStart(ToStoredFile(*info));
    }
    return 1;
}

void OnFileDone(const WCHAR *, const Cabinet::CMemSink *sink, intptr_t userData)
{
    auto *state = reinterpret_cast<RunState *>(userData);
    if (!state->Observer) {
        return;
    }
    if (sink) {
        state->Observer->OnFileDone(sink->Buffer(), static_cast<uint32_t>(sink->Used()));
    } else {
        state->Observer->OnFileDone(nullptr, 0);
    }
}

void OnProgress(const Cabinet::ProgressInfo *info, intptr_t userData)
{
    auto *state = reinterpret_cast<RunState *>(userData);
    if (state->Observer) {
        state->Observer->OnBytes(info->Written);
    }
}

std::string UniqueName(const std::string &prefix)
{
    std::random_device random;
    return prefix + std::to_string(random()) + std::to_string(random());
}

// Copies source to target; a bare cabinet gets the zero filler of a package
// in front. Nothing is created when source cannot be read.
bool StageCabinet(const std::string &source, const std::string &target)
{
    CFileMemberSource input;
    CabMember member;
    member.Source = source;
    std::string error;
    if (!input.Open(member, error)) {
        return false;
    }
    COutputFile output;
    if (!output.Create(target, error)) {
        return false;
    }
    std::vector<uint8_t> buffer(1 << 20);
    int64_t got = input.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), error);
    if (got >= 4 && std::memcmp(buffer.data(), "MSCF", 4) == 0) {
        std::vector<uint8_t> filler(PACKAGE_SEARCH_START, 0);
        if (!output.Write(filler.data(), filler.size(), error)) {
            return false;
        }
    }
    for (; got > 0; got = input.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), error)) {
        if (!output.Write(buffer.data(), static_cast<size_t>(got), error)) {
            return false;
        }
    }
    return got == 0 && output.Commit(error);
}

} // namespace

// The extractor with one change: read-opens inside the staging folder stage
// the cabinet of that name from its real folder first.
class CPackageReader::CToolExtract final : public Cabinet::CExtract {
public:
    ~CToolExtract()
    {
        if (!m_StagingDir.empty()) {
            std::error_code ignored;
            fs::remove_all(fs::u8path(m_StagingDir), ignored);
        }
    }

    int32_t Base() const { return CabinetBase(); }

    // Creates the staging folder; cabinets are then taken from sourceDir.
    // Returns the staging folder with a trailing separator, or "" on failure.
    std::string StartStaging(const std::string &sourceDir)
    {
        std::error_code failure;
        fs::path folder = fs::temp_directory_path(failure) / UniqueName("selfex-");
        if (failure || !fs::create_directory(folder, failure) || failure) {
            return std::string();
        }
        m_SourceDir = sourceDir;
        m_StagingDir = folder.u8string();
        m_StagingPrefix = ToPlatformPath(m_StagingDir + "/");
        return m_StagingDir + "/";
    }

protected:
    int32_t RawOpen(const WCHAR *path, int flags, int permission) override
    {
        WideString wide(path);
        bool inStaging = !m_StagingPrefix.empty() && (flags & _O_CREAT) == 0 &&
                         wide.compare(0, m_StagingPrefix.size(), m_StagingPrefix) == 0;
        if (inStaging) {
            std::string name = WideToUtf8(wide.c_str() + m_StagingPrefix.size());
            if (m_Staged.insert(name).second) {
                StageCabinet((fs::u8path(m_SourceDir) / fs::u8path(name)).u8string(), m_StagingDir + "/" + name);
            }
        }
        return CExtract::RawOpen(path, flags, permission);
    }

private:
    std::string m_SourceDir;
    std::string m_StagingDir;
    WideString m_StagingPrefix;
    std::set<std::string> m_Staged;
};

CPackageReader::CPackageReader() : m_Extract(std::make_unique<CToolExtract>())
{
    Cabinet::ExtractCallbacks callbacks;
    callbacks.OnCopyFile = OnCopyFile;
    callbacks.OnFileDone = OnFileDone;
    callbacks.OnProgress = OnProgress;
    m_Extract->Callbacks = callbacks;
}

CPackageReader::~CPackageReader() = default;

bool CPackageReader::Open(const std::string &path, std::string &error)
{
    std::error_code failure;
    fs::path absolute = fs::absolute(fs::u8path(path), failure);
    if (failure || !fs::is_regular_file(absolute, failure)) {
        error = path + ": no such file";
        return false;
    }
    int handle = _wopen(ToPlatformPath(absolute.u8string()).c_str(), _O_RDONLY | _O_BINARY, _S_IREAD);
    uint8_t magic[4] = {0, 0, 0, 0};
    if (handle == -1) {
        error = path + ": " + LastErrnoText();
        return false;
    }
    int got = _read(handle, magic, sizeof magic);
    _close(handle);

    m_CabinetPath = absolute.u8string();
    bool bare = got == 4 && std::memcmp(magic, "MSCF", 4) == 0;
    if (bare) {
        std::string staging = m_Extract->StartStaging(absolute.parent_path().u8string());
        if (staging.empty()) {
            error = "cannot create a staging folder in the temporary folder";
            return false;
        }
        m_CabinetPath = staging + absolute.filename().u8string();
    }

    if (!m_Extract->Create()) {
        error = DescribeExtractError(m_Extract->Error);
        return false;
    }
    CStrBufW cabinetPath(ToPlatformPath(m_CabinetPath).c_str());
    FDICABINETINFO info;
    if (!m_Extract->IsCabinet(cabinetPath, &info)) {
        error = path + ": " +
                (m_Extract->Error.HasError() ? DescribeExtractError(m_Extract->Error)
                                             : std::string("not a package or cabinet"));
        return false;
    }
    m_HeaderFiles = info.cFiles;
    m_CabinetOffset = bare ? 0 : static_cast<uint32_t>(m_Extract->Base());
    return true;
}

bool CPackageReader::List(std::vector<StoredFile> &files, std::string &error)
{
    files.clear();
    return Run("MEMORY", nullptr, &files, error);
}

bool CPackageReader::Test(IExtractObserver &observer, std::string &error)
{
    return Run("MEMORY", &observer, nullptr, error);
}

bool CPackageReader::Extract(const std::string &destination, IExtractObserver &observer, std::string &error)
{
    std::error_code failure;
    fs::path folder = fs::absolute(fs::u8path(destination), failure);
    if (!failure) {
        fs::create_directories(folder, failure);
    }
    if (failure) {
        error = destination + ": cannot create the folder: " + failure.message();
        return false;
    }
    return Run(folder.u8string(), &observer, nullptr, error);
}

bool CPackageReader::Run(const std::string &destination, IExtractObserver *observer, std::vector<StoredFile> *files,
                         std::string &error)
{
    RunState state;
    state.Observer = observer;
    state.Files = files;
    CStrBufW cabinetPath(ToPlatformPath(m_CabinetPath).c_str());
    CStrBufW target(ToPlatformPath(destination).c_str());
    if (m_Extract->Copy(cabinetPath, target, reinterpret_cast<intptr_t>(&state))) {
        return true;
    }
    error = DescribeExtractError(m_Extract->Error);
    return false;
}

} // namespace Selfex
