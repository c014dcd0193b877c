// Fixture for tests that run selfex commands in-process.
#include "tests/tools/ToolTest.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

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

std::vector<uint8_t> FakeStub(size_t size, long mscfAt)
{
    std::vector<uint8_t> stub = SampleBytes(size, 99);
    if (size >= 2) {
        stub[0] = 'M';
        stub[1] = 'Z';
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
