// Shared pieces of the extractor tests.
#include "tests/cabinet/ExtractFixture.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <type_traits>

#include "tests/testlib/CabBuilder.h"

using Cabinet::CExtract;

WString WidePath(const std::string &utf8)
{
    WString wide(utf8.size() + 1, 0);
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n) - 1 : 0);
    std::replace(wide.begin(), wide.end(), WIDE('/'), WIDE('\\'));
    return wide;
}

namespace {

// Windows: WCHAR is wchar_t and std::filesystem takes the path as it is.
// POSIX: the platform layer's rule, UTF-8 with "/" for "\".
template <typename Char>
std::filesystem::path ToFsPath(const std::basic_string<Char> &path)
{
    if constexpr (std::is_same_v<Char, wchar_t>) {
        return std::filesystem::path(path);
    } else {
        std::string utf8(path.size() * 3 + 1, 0);
        const int n = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()),
                                          nullptr, nullptr);
        utf8.resize(n > 0 ? static_cast<size_t>(n) - 1 : 0);
        std::replace(utf8.begin(), utf8.end(), '\\', '/');
        return std::filesystem::path(utf8);
    }
}

template <typename Char>
std::basic_string<Char> FromFsPath(const std::filesystem::path &path)
{
    if constexpr (std::is_same_v<Char, wchar_t>) {
        return path.wstring();
    } else {
        return WidePath(path.string());
    }
}

} // namespace

std::filesystem::path FsPath(const WString &path)
{
    return ToFsPath(path);
}

bool WriteBytes(const WString &path, const std::vector<uint8_t> &bytes)
{
    const int fd = _wopen(path.c_str(), _O_BINARY | _O_CREAT | _O_TRUNC | _O_WRONLY, _S_IREAD | _S_IWRITE);
    if (fd == -1) {
        return false;
    }
    const bool written =
        _write(fd, bytes.data(), static_cast<unsigned>(bytes.size())) == static_cast<int>(bytes.size());
    return _close(fd) == 0 && written;
}

bool ReadBytes(const WString &path, std::vector<uint8_t> &bytes)
{
    bytes.clear();
    const int fd = _wopen(path.c_str(), _O_BINARY | _O_RDONLY, _S_IREAD);
    if (fd == -1) {
        return false;
    }
    uint8_t chunk[65536];
    int n;
    while ((n = _read(fd, chunk, sizeof chunk)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return _close(fd) == 0 && n == 0;
}

bool PathExists(const WString &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ListTree(const WString &folder)
{
    std::vector<std::string> names;
    std::error_code error;
    const std::filesystem::path root = FsPath(folder);
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        names.push_back(it->path().lexically_relative(root).generic_u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

// Attribute bits the platform reports whatever SetFileAttributesW stored.
// Wine shows FILE_ATTRIBUTE_ARCHIVE on every regular file, and
// FILE_ATTRIBUTE_HIDDEN on every name that starts with a dot, as Unix hides
// them; Windows and our POSIX layer keep what was set. Probed once for each
// kind of name, beside the first file checked.
DWORD ForcedAttributes(const WString &path)
{
    const size_t slash = path.find_last_of(WIDE('\\'));
    const bool dotName = path.compare(slash + 1, 1, WIDE(".")) == 0;
    static DWORD forced[2] = {INVALID_FILE_ATTRIBUTES, INVALID_FILE_ATTRIBUTES};
    DWORD &bits = forced[dotName ? 1 : 0];
    if (bits == INVALID_FILE_ATTRIBUTES) {
        const WString probe =
            path.substr(0, slash + 1) + (dotName ? WIDE(".attribute-probe") : WIDE("attribute-probe"));
        WriteBytes(probe, {});
        SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
        const DWORD attributes = GetFileAttributesW(probe.c_str());
        DeleteFileW(probe.c_str());
        bits = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes & 0x27u;
    }
    return bits;
}

} // namespace

::testing::AssertionResult HasStoredTimeAndAttributes(const WString &path, uint16_t date, uint16_t time,
                                                      uint16_t attribs)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return ::testing::AssertionFailure() << "no attributes";
    }
    // A stored date that does not convert (month 0, say) sets no time.
    FILETIME unused;
    const bool timeApplies = DosDateTimeToFileTime(date, time, &unused) != FALSE;
    // Last-write and creation time alike (POSIX reports the one as the
    // other), compared in MS-DOS units, converted back from the file's UTC
    // time by the platform: no second-guessing of its time-zone rules here.
    for (const FILETIME *kept : {&data.ftLastWriteTime, &data.ftCreationTime}) {
        const FILETIME &utc = *kept;
        FILETIME shown = utc;
        if ((attribs & 0x100) == 0 && !FileTimeToLocalFileTime(&utc, &shown)) {
            return ::testing::AssertionFailure() << "no local time";
        }
        WORD fileDate = 0;
        WORD fileTime = 0;
        if (!FileTimeToDosDateTime(&shown, &fileDate, &fileTime)) {
            return ::testing::AssertionFailure() << "no MS-DOS time";
        }
        if (timeApplies && (fileDate != date || fileTime != time)) {
            return ::testing::AssertionFailure()
                   << std::hex << (kept == &data.ftCreationTime ? "creation" : "last-write") << " date/time "
                   << fileDate << "/" << fileTime << ", stored " << date << "/" << time;
        }
    }
    const DWORD checked = 0x27u & ~ForcedAttributes(path);
    const DWORD applied = data.dwFileAttributes & checked;
    if (applied != (attribs & checked)) {
        return ::testing::AssertionFailure()
               << std::hex << "attributes " << applied << ", stored " << (attribs & checked);
    }
    return ::testing::AssertionSuccess();
}

// --- CTestExtract ----------------------------------------------------------

namespace {

// Counts a call down; true when this call is to fail.
bool Exhausted(int &remaining)
{
    if (remaining < 0) {
        return false;
    }
    if (remaining == 0) {
        return true;
    }
    --remaining;
    return false;
}

} // namespace

int32_t CTestExtract::RawRead(int32_t handle, void *buffer, uint32_t count)
{
    return Exhausted(ReadsBeforeFailure) ? -1 : CExtract::RawRead(handle, buffer, count);
}

int32_t CTestExtract::RawWrite(int32_t handle, const void *buffer, uint32_t count)
{
    if (ThrowOnWrite) {
        throw std::bad_alloc();
    }
    if (WriteBytesBeforeFailure >= 0) {
        if (WriteBytesBeforeFailure < count) {
            return -1;
        }
        WriteBytesBeforeFailure -= count;
    }
    return CExtract::RawWrite(handle, buffer, count);
}

int32_t CTestExtract::RawClose(int32_t handle)
{
    ++RawCloses;
    const int32_t result = CExtract::RawClose(handle);
    return FailCloses ? -1 : result;
}

int32_t CTestExtract::RawSeek(int32_t handle, int32_t offset, int origin)
{
    return Exhausted(SeeksBeforeFailure) ? -1 : CExtract::RawSeek(handle, offset, origin);
}

int32_t CTestExtract::RawOpen(const WCHAR *path, int flags, int permission)
{
    if (FailOutputOpens && (flags & _O_CREAT) != 0) {
        return -1;
    }
    return CExtract::RawOpen(path, flags, permission);
}

// --- ExtractTest -----------------------------------------------------------

namespace {

void MakeWritable(const std::filesystem::path &root)
{
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, error);
    }
}

} // namespace

void ExtractTest::SetUp()
{
    // Stored times are local times: a zone east of UTC, with daylight saving
    // time, makes their conversion show. (POSIX reads TZ; Wine keeps the
    // zone of its own setup.)
    static char zone[] = "TZ=CET-1CEST,M3.5.0,M10.5.0/3";
    static const bool zoneSet = (putenv(zone), tzset(), true);
    static_cast<void>(zoneSet);
    static std::atomic<unsigned> serial{0};
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string leaf = std::string("selfex-cabinet-") + info->name() + "-" + std::to_string(serial++);
    std::filesystem::path dir = std::filesystem::temp_directory_path() / leaf;
    std::error_code error;
    MakeWritable(dir);
    std::filesystem::remove_all(dir, error);
    ASSERT_TRUE(std::filesystem::create_directories(dir)) << dir;
    m_Dir = FromFsPath<WCHAR>(dir);
    if (m_Dir.back() != WIDE('\\')) {
        m_Dir += WIDE('\\');
    }
}

void ExtractTest::TearDown()
{
    if (m_Dir.empty()) {
        return;
    }
    const std::filesystem::path dir = FsPath(m_Dir);
    std::error_code error;
    MakeWritable(dir);
    std::filesystem::remove_all(dir, error);
}

WString ExtractTest::WritePackage(const std::string &relative, const std::vector<uint8_t> &cabinet, size_t offset)
{
    const WString path = PathTo(relative);
    std::error_code error;
    std::filesystem::create_directories(FsPath(path).parent_path(), error);
    EXPECT_TRUE(WriteBytes(path, TestLib::EmbedAtOffset(cabinet, offset))) << relative;
    return path;
}

// --- Logging callbacks -----------------------------------------------------

namespace {

CallbackLog &Log(intptr_t userData)
{
    return *reinterpret_cast<CallbackLog *>(userData);
}

void AbortIfAsked(CallbackLog &log, const char *callback)
{
    if (log.AbortFrom != nullptr && std::string(log.AbortIn) == callback) {
        log.AbortFrom->Abort();
    }
}

} // namespace

Cabinet::ExtractCallbacks LoggingCallbacks()
{
    Cabinet::ExtractCallbacks callbacks;
    callbacks.OnCopyFile = [](const Cabinet::CopyFileInfo *info, intptr_t userData) -> int {
        CallbackLog &log = Log(userData);
        log.CopyNames.emplace_back(info->RelPath);
        log.Copies.push_back({info->Name, info->RelDir, info->OutDir, info->OutPath});
        AbortIfAsked(log, "OnCopyFile");
        return static_cast<int>(log.CopyNames.size()) - 1 == log.SkipIndex ? 0 : 1;
    };
    callbacks.OnFileDone = [](const WCHAR *outPath, const Cabinet::CMemSink *sink, intptr_t userData) {
        CallbackLog &log = Log(userData);
        log.DonePaths.emplace_back(outPath);
        if (sink != nullptr) {
            log.DoneBytes.emplace_back(sink->Buffer(), sink->Buffer() + sink->Used());
        }
        AbortIfAsked(log, "OnFileDone");
    };
    callbacks.OnProgress = [](const Cabinet::ProgressInfo *info, intptr_t userData) {
        CallbackLog &log = Log(userData);
        log.Progress.push_back(*info);
        if (info->Written == 0 && log.OnFileOpened) {
            log.OnFileOpened(*info);
        }
        AbortIfAsked(log, "OnProgress");
    };
    callbacks.OnCabinetInfo = [](const Cabinet::CabinetInfo *info, intptr_t userData) {
        CallbackLog &log = Log(userData);
        log.Cabinets.emplace_back(info->NextCabinet);
        log.CabinetInfos.push_back(
            {info->NextCabinet, info->NextDisk, info->CabinetPath, info->SetId, info->CabinetIndex});
        AbortIfAsked(log, "OnCabinetInfo");
    };
    callbacks.OnNextCabinet = [](const Cabinet::CabinetInfo *info, int fdie, intptr_t userData) {
        CallbackLog &log = Log(userData);
        log.NextCabinets.emplace_back(info->NextCabinet);
        EXPECT_EQ(fdie, 0);
        AbortIfAsked(log, "OnNextCabinet");
    };
    return callbacks;
}
