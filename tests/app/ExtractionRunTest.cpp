// Guards the extraction run without its dialog: a package file with the
// cabinet behind 160000 bytes of filler, extracted into a target folder.
// The status text and the bar need a display; the end-to-end suite reads
// them from the real dialog.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/ExtractionRun.h"
#include "app/Globals.h"

#include <commctrl.h>
#include "tests/app/PathChecks.h"
#include "tests/testlib/CabBuilder.h"
#include "tests/testlib/TempDir.h"

namespace {

constexpr size_t CABINET_OFFSET = 160000;

// test_read_format_cab_2.cab: one MSZIP folder of two blocks holding
// "empty" (0 bytes), "zero" (33000), "dir1\file1" (60), "dir2\file2" (78).
const char CORPUS_CABINET[] = "test_read_format_cab_2.cab";
const wchar_t *const STORED_PATHS[] = {L"empty", L"zero", L"dir1\\file1", L"dir2\\file2"};
const uint32_t STORED_SIZES[] = {0, 33000, 60, 78};

std::string CorpusPath(const char *name)
{
    const char *corpus = std::getenv("SELFEX_CORPUS");
    std::string path = corpus != nullptr ? corpus : "";
    // A POSIX path from CTest names the same place on Wine's drive Z:.
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    return path + "/" + name;
}

std::vector<uint8_t> ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::wstring &path, const std::vector<uint8_t> &bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(bytes.size(), written);
}

// Spoils one byte in the middle of the data of CFDATA block blockIndex of
// the first folder, so that its checksum no longer matches.
void SpoilBlock(std::vector<uint8_t> &cabinet, unsigned blockIndex)
{
    size_t block = TestLib::GetLe32(cabinet, 36); // coffCabStart of the first CFFOLDER
    for (unsigned i = 0; i < blockIndex; ++i) {
        block += 8u + TestLib::GetLe16(cabinet, block + 4); // header, then cbData bytes
    }
    cabinet[block + 8u + TestLib::GetLe16(cabinet, block + 4) / 2u] ^= 0x55;
}

uint64_t FileSize(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return UINT64_MAX;
    }
    return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

class ExtractionRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Cabinet = ReadBytes(CorpusPath(CORPUS_CABINET));
        ASSERT_FALSE(m_Cabinet.empty()) << CorpusPath(CORPUS_CABINET);
    }

    // Writes the package: 160000 filler bytes, then cabinet (if any).
    std::wstring MakePackage(const std::vector<uint8_t> &cabinet)
    {
        std::vector<uint8_t> package(CABINET_OFFSET, 0);
        package.insert(package.end(), cabinet.begin(), cabinet.end());
        std::wstring path = m_Temp / L"Pkg.exe";
        WriteBytes(path, package);
        return path;
    }

    static bool Run(const std::wstring &package, const std::wstring &target)
    {
        return RunExtraction(package.c_str(), target.c_str(), nullptr, nullptr);
    }

    CTempDir m_Temp;
    std::vector<uint8_t> m_Cabinet;
};

TEST_F(ExtractionRunTest, ExtractsEveryFileBelowTheTarget)
{
    // The target's parent is missing too: the run creates both.
    std::wstring target = m_Temp / L"a\\Pkg\\";
    ASSERT_TRUE(Run(MakePackage(m_Cabinet), target));

    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(STORED_SIZES[i], FileSize(target + STORED_PATHS[i])) << STORED_PATHS[i];
    }
}

TEST_F(ExtractionRunTest, APackageWithoutCabinetFailsBeforeCreatingTheFolder)
{
    std::wstring target = m_Temp / L"Pkg\\";
    EXPECT_FALSE(Run(MakePackage({}), target));
    EXPECT_FALSE(FolderExists(target));
}

TEST_F(ExtractionRunTest, ACorruptBlockKeepsTheCompletedFilesOnly)
{
    // The second block holds the end of "zero" and both small files.
    std::vector<uint8_t> cabinet = m_Cabinet;
    SpoilBlock(cabinet, 1);
    std::wstring target = m_Temp / L"Pkg\\";
    EXPECT_FALSE(Run(MakePackage(cabinet), target));

    EXPECT_TRUE(FileExists(target + L"empty"));
    EXPECT_FALSE(FileExists(target + L"zero")) << "no file that did not get all its bytes";
    EXPECT_FALSE(FileExists(target + L"dir1\\file1"));
}

TEST_F(ExtractionRunTest, ATargetThatIsAFileFails)
{
    std::wstring package = MakePackage(m_Cabinet);
    WriteBytes(m_Temp / L"Pkg", {'x'});
    EXPECT_FALSE(Run(package, m_Temp / L"Pkg\\"));
    EXPECT_EQ(1u, FileSize(m_Temp / L"Pkg"));
}

namespace {

// Records the range a progress bar is given. A message-only window: the
// tests run with no display, where Wine makes no other window.
LRESULT CALLBACK RecordRange(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == PBM_SETRANGE32) {
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam + 1); // 0 = never set
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

// The bar's range is the file count, set also when it is 0: the control's
// own 0 to 100 would leave a bar that never fills.
TEST_F(ExtractionRunTest, AnEmptyCabinetSetsARangeOfNothing)
{
    WNDCLASSW recorder = {};
    recorder.lpfnWndProc = RecordRange;
    recorder.hInstance = GetModuleHandleW(nullptr);
    recorder.lpszClassName = L"SelfexRangeRecorder";
    RegisterClassW(&recorder);
    HWND bar = CreateWindowExW(0, recorder.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, recorder.hInstance,
                               nullptr);
    ASSERT_NE(bar, nullptr);

    TestLib::CCabBuilder empty;
    EXPECT_TRUE(RunExtraction(MakePackage(empty.Build().Bytes).c_str(), (m_Temp / L"Pkg\\").c_str(), nullptr, bar));
    EXPECT_EQ(GetWindowLongPtrW(bar, GWLP_USERDATA), 1); // a range of 0 files
    DestroyWindow(bar);
    g_ProgressWnd = nullptr;
}

TEST_F(ExtractionRunTest, MemoryTargetCreatesItsFolderButWritesNoFile)
{
    // "MEMORY\" makes a folder of that name in the current directory and
    // extracts into memory.
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(m_Temp.Path().c_str()));
    bool ok = Run(MakePackage(m_Cabinet), L"memory\\");
    SetCurrentDirectoryW(previous);

    EXPECT_TRUE(ok);
    EXPECT_TRUE(FolderExists(m_Temp / L"memory"));
    EXPECT_FALSE(FileExists(m_Temp / L"memory\\zero"));
    EXPECT_FALSE(FolderExists(m_Temp / L"memory\\dir1"));
}

} // namespace
