// CExtract's object: binding to its thread, Create/Destroy, IsCabinet on a
// package, and extractors working on several threads at once.
#include <thread>

#include "cabinet/Extract.h"
#include "cabinet/SystemLibrary.h"
#include "tests/cabinet/ExtractFixture.h"
#include "tests/testlib/CabBuilder.h"

using namespace Cabinet;

namespace {

std::vector<uint8_t> ThreeFileCabinet()
{
    TestLib::CCabBuilder builder;
    builder.AddFolder(TestLib::CAB_COMPRESS_MSZIP)
        .AddFile("a.txt", TestLib::Bytes("alpha"))
        .AddFile("dir\\b.bin", TestLib::PatternBytes(70000, 3))
        .AddFile("empty", {});
    return builder.Build().Bytes;
}

} // namespace

TEST_F(ExtractTest, IsCabinetReportsTheFileCountOfAPackage)
{
    const WString package = WritePackage("pkg.exe", ThreeFileCabinet(), CABINET_SEARCH_START + 8960);
    CExtract extract;
    ASSERT_TRUE(extract.Create()) << extract.Error.Code;
    FDICABINETINFO info{};
    EXPECT_NE(extract.IsCabinet(CStrBufW(package.c_str()), &info), 0);
    EXPECT_EQ(info.cFiles, 3);
    EXPECT_EQ(info.cFolders, 1);
    // A package without a cabinet: no header at the handle's position.
    const WString empty = PathTo("empty.exe");
    ASSERT_TRUE(WriteBytes(empty, std::vector<uint8_t>(200000, 0x90)));
    EXPECT_EQ(extract.IsCabinet(CStrBufW(empty.c_str()), &info), 0);
    EXPECT_EQ(extract.IsCabinet(CStrBufW(PathTo("missing.exe").c_str()), &info), 0);
}

TEST_F(ExtractTest, OperationsBeforeCreateFailWithoutACode)
{
    const WString package = WritePackage("pkg.exe", ThreeFileCabinet());
    CExtract extract;
    EXPECT_EQ(extract.IsCabinet(CStrBufW(package.c_str()), nullptr), 0);
    EXPECT_FALSE(extract.Copy(CStrBufW(package.c_str()), CStrBufW(Dir().c_str()), 0));
    EXPECT_EQ(extract.Error.Code, 0);
    EXPECT_TRUE(extract.Destroy());
}

// One bound extractor per thread. A refused Create leaves the binding of
// the extractor that holds the slot, and its callbacks still find it.
TEST_F(ExtractTest, SecondCreateOnTheThreadIsRefused)
{
    const CStrBufW package(WritePackage("pkg.exe", ThreeFileCabinet()).c_str());
    CExtract first;
    ASSERT_TRUE(first.Create());
    EXPECT_FALSE(first.Create());
    EXPECT_EQ(first.Error.Code, ERR_THREAD_BUSY);
    {
        CExtract second;
        EXPECT_FALSE(second.Create());
        EXPECT_EQ(second.Error.Code, ERR_THREAD_BUSY);
        EXPECT_TRUE(second.Destroy());
    }
    EXPECT_NE(first.IsCabinet(package, nullptr), 0);
    EXPECT_TRUE(first.Destroy());
    // Unbound again: the library stays loaded and a new context is made.
    EXPECT_TRUE(first.Create());
    EXPECT_NE(first.IsCabinet(package, nullptr), 0);
    CExtract third;
    first.Destroy();
    EXPECT_TRUE(third.Create());
}

TEST_F(ExtractTest, OperationsFromAnotherThreadAreRefused)
{
    const CStrBufW package(WritePackage("pkg.exe", ThreeFileCabinet()).c_str());
    const CStrBufW destination(PathTo("out").c_str());
    CExtract extract;
    ASSERT_TRUE(extract.Create());
    std::thread([&] {
        const struct {
            const char *operation;
            bool result;
        } results[] = {{"Create", extract.Create()},
                       {"IsCabinet", extract.IsCabinet(package, nullptr) != 0},
                       {"Copy", extract.Copy(package, destination, 0)},
                       {"Destroy", extract.Destroy()}};
        for (const auto &r : results) {
            EXPECT_FALSE(r.result) << r.operation;
        }
        EXPECT_EQ(extract.Error.Code, ERR_WRONG_THREAD);
    }).join();
    EXPECT_NE(extract.IsCabinet(package, nullptr), 0);
    EXPECT_FALSE(PathExists(PathTo("out")));
}

// The callbacks find each thread's own extractor through the thread slot.
TEST_F(ExtractTest, ThreadsExtractWithTheirOwnExtractorsAtOnce)
{
    const std::vector<uint8_t> payload = TestLib::RandomBytes(300000, 11);
    TestLib::CCabBuilder builder;
    builder.AddFolder(TestLib::CAB_COMPRESS_MSZIP)
        .AddFile("big.bin", payload)
        .AddFile("small.txt", TestLib::Bytes("s"));
    const WString package = WritePackage("pkg.exe", builder.Build().Bytes);
    constexpr int THREADS = 4;
    bool copied[THREADS] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < THREADS; ++i) {
        threads.emplace_back([&, i] {
            CExtract extract;
            const WString out = PathTo("out" + std::to_string(i) + "/");
            copied[i] = extract.Create() && extract.Copy(CStrBufW(package.c_str()), CStrBufW(out.c_str()), 0);
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    for (int i = 0; i < THREADS; ++i) {
        EXPECT_TRUE(copied[i]) << i;
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(ReadBytes(PathTo("out" + std::to_string(i) + "/big.bin"), bytes));
        EXPECT_TRUE(bytes == payload) << i;
    }
}

// Runs in its own test entry, with the decompressor library made missing
// (POSIX: an empty SELFEX_LIBRARY_PATH; Wine: the DLL disabled).
TEST(ExtractLibrary, CreateFailsWithoutCabinetDll)
{
    if (std::getenv("SELFEX_TEST_NO_CABINET_DLL") == nullptr) {
        GTEST_SKIP() << "needs the environment of the cabinet_tests_without_dll entry";
    }
    CExtract extract;
    EXPECT_FALSE(extract.Create());
    EXPECT_EQ(extract.Error.Code, ERR_CABINET_DLL);
}

// Runs in its own test entry, over a decompressor whose FDIDestroy fails:
// the destroyed extractor must not stay bound to the thread.
TEST(ExtractLibrary, DestructorUnbindsWhenFdiDestroyFails)
{
    if (std::getenv("SELFEX_TEST_FAILING_DESTROY") == nullptr) {
        GTEST_SKIP() << "needs the environment of the cabinet_tests_failing_destroy entry";
    }
    {
        CExtract first;
        ASSERT_TRUE(first.Create()); // its destruction fails in FDIDestroy
    }
    CExtract second;
    EXPECT_TRUE(second.Create()) << second.Error.Code;
}

namespace {

#ifndef WINAPI
#define WINAPI
#endif

// A LoadLibraryExW that fails the search flag with a chosen error, as
// Windows 7 without KB2533623 does, and records every call.
struct LoadCall {
    WString Name;
    DWORD Flags;
};
std::vector<LoadCall> g_LoadCalls;
DWORD g_SearchFlagError = 0;

HMODULE WINAPI LoadWithoutSearchFlag(LPCWSTR name, HANDLE file, DWORD flags)
{
    g_LoadCalls.push_back({name, flags});
    if ((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0) {
        SetLastError(g_SearchFlagError);
        return nullptr;
    }
    return LoadLibraryExW(name, file, flags);
}

} // namespace

// Where the search flag is unknown, the system folder's full path, never
// the bare name; any other failure is final.
TEST(ExtractLibrary, SystemFolderPathWhereTheSearchFlagIsUnknown)
{
    g_LoadCalls.clear();
    g_SearchFlagError = ERROR_MOD_NOT_FOUND;
    EXPECT_EQ(LoadSystemLibrary(WIDE("Cabinet.dll"), &LoadWithoutSearchFlag), nullptr);
    EXPECT_EQ(g_LoadCalls.size(), 1u);
#if defined(_WIN32)
    g_LoadCalls.clear();
    g_SearchFlagError = ERROR_INVALID_PARAMETER;
    HMODULE module = LoadSystemLibrary(WIDE("Cabinet.dll"), &LoadWithoutSearchFlag);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(GetProcAddress(module, "FDICreate"), nullptr);
    FreeLibrary(module);
    WCHAR system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_EQ(g_LoadCalls.size(), 2u);
    EXPECT_EQ(g_LoadCalls[1].Name, WString(system, length) + WIDE("\\Cabinet.dll"));
    EXPECT_EQ(g_LoadCalls[1].Flags, static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH));
#endif
}
