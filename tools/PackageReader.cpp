// Reads packages and bare cabinets through Cabinet::CExtract.
#include "tools/PackageReader.h"

#include <filesystem>

#include "tools/ErrorText.h"
#include "tools/NameReview.h"
#include "tools/TempFolder.h"

namespace fs = std::filesystem;

namespace Selfex {

namespace {

// What the extractor's callbacks talk to during one Copy.
struct RunState {
    CToolExtract *Extract = nullptr;
    IExtractObserver *Observer = nullptr;
    std::vector<StoredFile> *Files = nullptr; // listing: collect and skip everything
    bool ChecksumOnly = false;
    StoredFile Current; // the file under way, for messages
    std::string CurrentOutput;
    std::string Destination; // UTF-8 with "/"
    bool InFile = false;
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
    StoredFile file = ToStoredFile(*info);
    const std::string output = FromPlatformPath(info->OutPath);
    if (state->Observer && !state->Observer->OnFileStart(file, output)) {
        return 0;
    }
    state->Current = std::move(file);
    state->CurrentOutput = output;
    state->InFile = true;
    return 1;
}

void OnFileDone(const WCHAR *outPath, const Cabinet::CMemSink *, intptr_t userData)
{
    auto *state = reinterpret_cast<RunState *>(userData);
    state->InFile = false;
    if (state->ChecksumOnly && !state->Extract->VirtualOutputs()) {
        // The empty stand-in has served; read-only ones need their bit cleared first.
        SetFileAttributesW(outPath, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(outPath);
    }
    if (state->Observer) {
        state->Observer->OnFileDone(state->ChecksumOnly ? state->Extract->LastOutputSize() : 0,
                                    state->ChecksumOnly ? state->Extract->LastOutputCrc() : 0);
    }
}

// Before the extractor opens the next cabinet, so that a refusal names it.
void OnCabinetInfo(const Cabinet::CabinetInfo *info, intptr_t userData)
{
    reinterpret_cast<RunState *>(userData)->Extract->CheckNextCabinet(info->NextCabinet);
}

void OnProgress(const Cabinet::ProgressInfo *info, intptr_t userData)
{
    auto *state = reinterpret_cast<RunState *>(userData);
    if (state->Observer) {
        state->Observer->OnBytes(info->Written);
    }
}

// The path the extractor is given for the cabinet at realPath. It refuses a
// cabinet file name shorter than 2 characters, so such a name is presented
// under an alias that no cabinet of a set can be named: "<x>" for "x".
WideString PresentedPath(const std::string &realPath)
{
    WideString path = ToPlatformPath(realPath);
    const size_t nameStart = path.rfind(WIDE('\\')) + 1;
    if (path.size() - nameStart >= 2) {
        return path;
    }
    return path.substr(0, nameStart) + WIDE('<') + path.substr(nameStart) + WIDE('>');
}

// The first level of output below destination that is a symbolic link, or
// an empty text.
std::string FirstLinkBelow(const std::string &destination, const std::string &output)
{
    if (output.compare(0, destination.size(), destination) != 0) {
        return std::string();
    }
    for (size_t at = output.find('/', destination.size() + 1);; at = output.find('/', at + 1)) {
        const std::string level = output.substr(0, at);
        // As the extractor sees links: Windows' reparse points, which the
        // POSIX platform layer reports for symbolic links too.
        const DWORD attributes = GetFileAttributesW(ToPlatformPath(level).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return level;
        }
        if (at == std::string::npos) {
            return std::string();
        }
    }
}

// Why a run failed, in one line: the tool's own refusal, or the extractor's
// numbers in words with the output and the system's reason; a file under
// way is named first.
std::string DescribeRunFailure(const CToolExtract &extract, const RunState &state)
{
    const Cabinet::ExtractError &failure = extract.Error;
    const std::string subject = state.InFile && !state.ChecksumOnly ? state.Current.Name + ": " : "";
    if (!extract.Refusal().empty()) {
        return extract.Refusal();
    }
    FailureScene scene;
    if (extract.RefusedRule() != Cabinet::NameRule::Accepted) {
        scene.RefusedName = extract.RefusedNameText();
        scene.RefusedWhy = DescribeRefusedName(extract.RefusedRule(), scene.RefusedName);
    }
    scene.StoredName = state.InFile ? state.Current.Name : std::string();
    scene.OutputPath = state.InFile && !state.ChecksumOnly ? state.CurrentOutput : std::string();
    if (!state.ChecksumOnly) {
        scene.Operation = extract.OutputFailure().Operation;
        scene.SystemError = extract.OutputFailure().Errno;
        if (!extract.OutputFailure().Path.empty()) {
            scene.OutputPath = extract.OutputFailure().Path;
        }
    }
    if (failure.Code == FDIERROR_TARGET_FILE && failure.Detail == Cabinet::DETAIL_REPARSE_POINT) {
        scene.LinkPath = FirstLinkBelow(state.Destination, scene.OutputPath);
    }
    std::string error = subject + DescribeExtractError(failure, scene);
    // The extractor's own verdict on a short file says little; how short it
    // came out says more, unless the decompressor gave a reason of its own.
    const bool fdiReason = failure.Erf.fError && failure.Erf.erfOper != FDIERROR_NONE &&
                           failure.Erf.erfOper != FDIERROR_TARGET_FILE && failure.Erf.erfOper != FDIERROR_USER_ABORT;
    if (!extract.ShortOutput().empty() && failure.Code == FDIERROR_TARGET_FILE && failure.Detail == 0 && !fdiReason) {
        error = extract.ShortOutput() + "; " + error;
    }
    return error;
}

} // namespace

CPackageReader::CPackageReader() : m_Extract(std::make_unique<CToolExtract>())
{
    Cabinet::ExtractCallbacks callbacks;
    callbacks.OnCopyFile = OnCopyFile;
    callbacks.OnFileDone = OnFileDone;
    callbacks.OnProgress = OnProgress;
    callbacks.OnCabinetInfo = OnCabinetInfo;
    m_Extract->Callbacks = callbacks;
}

CPackageReader::~CPackageReader() = default;

bool CPackageReader::Open(const std::string &path, std::string &error)
{
    std::error_code failure;
    fs::path absolute = fs::absolute(fs::u8path(path), failure);
    if (failure) {
        error = path + ": " + failure.message();
        return false;
    }
    m_CabinetPath = PresentedPath(absolute.u8string());
    m_Extract->SetFirstCabinet(m_CabinetPath, absolute.u8string());
    if (!m_Extract->Create()) {
        error = DescribeExtractError(m_Extract->Error);
        return false;
    }
    CStrBufW cabinetPath(m_CabinetPath.c_str());
    FDICABINETINFO info;
    m_Extract->ClearRefusal();
    if (!m_Extract->IsCabinet(cabinetPath, &info)) {
        error = path + ": " +
                (!m_Extract->Refusal().empty() ? m_Extract->Refusal()
                 : m_Extract->Error.HasError() ? DescribeExtractError(m_Extract->Error)
                                               : std::string("not a package or cabinet"));
        return false;
    }
    m_HeaderFiles = info.cFiles;
    m_CabinetOffset = m_Extract->FirstIsBare() ? 0 : static_cast<uint32_t>(m_Extract->Base());
    m_Continues = info.hasprev != 0;
    return true;
}

bool CPackageReader::List(std::vector<StoredFile> &files, std::string &error)
{
    files.clear();
    return Run("MEMORY", nullptr, &files, error);
}

bool CPackageReader::Test(IExtractObserver &observer, std::string &error, std::ostream *out)
{
    CTempFolder folder;
    if (!folder.Create(error)) {
        return false;
    }
    m_Extract->SetChecksumOnly(true);
    m_Extract->SetStreamOut(out);
    const bool tested = Run(folder.Path(), &observer, nullptr, error);
    m_Extract->SetChecksumOnly(false);
    m_Extract->SetStreamOut(nullptr);
    return tested;
}

bool CPackageReader::Extract(const std::string &destination, IExtractObserver &observer, std::string &error)
{
    std::error_code failure;
    fs::path folder = fs::absolute(fs::u8path(destination), failure);
    if (!failure) {
        fs::create_directories(folder, failure);
    }
    if (failure) {
        error = "cannot create the folder " + destination + ": " + ErrorCodeText(failure);
        return false;
    }
    return Run(folder.u8string(), &observer, nullptr, error);
}

bool CPackageReader::Run(const std::string &destination, IExtractObserver *observer, std::vector<StoredFile> *files,
                         std::string &error)
{
    RunState state;
    state.Extract = m_Extract.get();
    state.Observer = observer;
    state.Files = files;
    state.ChecksumOnly = m_Extract->ChecksumOnly();
    state.Destination = FromPlatformPath(ToPlatformPath(destination).c_str());
    CStrBufW cabinetPath(m_CabinetPath.c_str());
    CStrBufW target(ToPlatformPath(destination).c_str());
    m_Extract->ClearRefusal();
    if (m_Extract->Copy(cabinetPath, target, reinterpret_cast<intptr_t>(&state))) {
        return true;
    }
    error = DescribeRunFailure(*m_Extract, state);
    return false;
}

} // namespace Selfex
