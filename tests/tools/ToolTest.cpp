// Fixture for tests that run selfex commands in-process.
#include "tests/tools/ToolTest.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include "tools/Cli.h"
#include "tools/TextConv.h"

namespace fs = std::filesystem;

std::string ToolTest::At(const std::string &relative) const
{
    std::string base = Selfex::FromPlatformPath(Dir().c_str());
    return relative.empty() ? base : base + "/" + relative;
}

void ToolTest::Write(const std::string &relative, const std::vector<uint8_t> &bytes) const
{
    fs::path path = fs::u8path(At(relative));
    fs::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << "cannot write " << At(relative);
}

void ToolTest::Write(const std::string &relative, const std::string &text) const
{
    Write(relative, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ToolTest::Read(const std::string &relative) const
{
    std::ifstream file(fs::u8path(At(relative)), std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

bool ToolTest::Exists(const std::string &relative) const
{
    std::error_code ignored;
    return fs::exists(fs::u8path(At(relative)), ignored);
}

void ToolTest::Remove(const std::string &relative) const
{
    RemoveTree(Selfex::ToPlatformPath(At(relative)));
}

std::vector<std::string> ToolTest::Tree(const std::string &relative) const
{
    std::vector<std::string> names;
    fs::path root = fs::u8path(At(relative));
    std::error_code failure;
    for (fs::recursive_directory_iterator it(root, failure), end; !failure && it != end; it.increment(failure)) {
        std::string name = fs::relative(it->path(), root).u8string();
        std::replace(name.begin(), name.end(), '\\', '/');
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

CommandResult ToolTest::Run(const std::vector<std::string> &args) const
{
    std::ostringstream out;
    std::ostringstream err;
    Selfex::ToolContext context{out, err, false, At("no-such-folder/bin/selfex")};
    CommandResult result;
    result.Code = Selfex::RunSelfex(args, context);
    result.Out = out.str();
    result.Err = err.str();
    return result;
}

CommandResult ToolTest::RunBounded(const std::vector<std::string> &args, int seconds) const
{
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> guard(lock);
        if (!finished.wait_for(guard, std::chrono::seconds(seconds), [&] { return done; })) {
            std::string line = "selfex";
            for (const std::string &arg : args) {
                line += " " + arg;
            }
            std::fprintf(stderr, "%s: still running after %d s; stopping the tests\n", line.c_str(), seconds);
            std::fflush(stderr);
            std::_Exit(1);
        }
    });
    CommandResult result = Run(args);
    {
        std::lock_guard<std::mutex> guard(lock);
        done = true;
    }
    finished.notify_one();
    watchdog.join();
    return result;
}

std::vector<std::string> ToolTest::LeftTemporaryFolders() const
{
    const std::string prefix = "selfex-test-" + std::to_string(GetCurrentThreadId()) + "-";
    std::vector<std::string> left;
    std::error_code failure;
    for (fs::directory_iterator it(fs::temp_directory_path(failure), failure), end; !failure && it != end;
         it.increment(failure)) {
        std::string name = it->path().filename().u8string();
        if (name.rfind(prefix, 0) == 0) {
            left.push_back(name);
        }
    }
    return left;
}

std::vector<uint8_t> FakeStub(size_t size, long mscfAt, uint16_t subsystem)
{
    std::vector<uint8_t> stub = SampleBytes(size, 99);
    // The headers the packer checks: "MZ", e_lfanew 0x40, "PE\0\0" there, a
    // 0xE0-byte PE32 optional header with the subsystem at its offset 68.
    const std::pair<size_t, std::vector<uint8_t>> fields[] = {
        {0x00, {'M', 'Z'}},       {0x3C, {0x40, 0, 0, 0}},
        {0x40, {'P', 'E', 0, 0}}, {0x54, {0xE0, 0}},
        {0x58, {0x0B, 0x01}},     {0x9C, {static_cast<uint8_t>(subsystem), static_cast<uint8_t>(subsystem >> 8)}},
    };
    for (const auto &field : fields) {
        for (size_t i = 0; i < field.second.size() && field.first + i < size; ++i) {
            stub[field.first + i] = field.second[i];
        }
    }
    if (mscfAt >= 0) {
        std::copy_n("MSCF", 4, stub.data() + mscfAt);
    }
    return stub;
}

std::vector<uint8_t> SampleBytes(size_t size, uint32_t seed)
{
    static const char text[] = "The quick brown fox packs five dozen liquor jugs into a cabinet. ";
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = static_cast<uint8_t>(text[i % (sizeof text - 1)] ^ ((seed >> 29) == 0 ? 0x20 : 0));
    }
    return bytes;
}
