// Golden output of "selfex list" and "selfex list --json" for a package whose
// cabinet is written with known dates, times, attributes and names.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "tests/tools/ToolTest.h"
#include "tools/cabwriter/CabWriter.h"

using namespace Selfex;

namespace {

uint16_t DosDate(unsigned year, unsigned month, unsigned day)
{
    return static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
}

uint16_t DosTime(unsigned hour, unsigned minute, unsigned second)
{
    return static_cast<uint16_t>(hour << 11 | minute << 5 | second / 2);
}

class CBytesSource : public IMemberSource {
public:
    bool Open(const CabMember &member, std::string &) override
    {
        m_Left = member.Size;
        return true;
    }
    int64_t Read(uint8_t *buffer, uint32_t size, std::string &) override
    {
        uint32_t count = std::min(size, m_Left);
        std::fill(buffer, buffer + count, uint8_t('g'));
        m_Left -= count;
        return count;
    }
    void Close() override {}

private:
    uint32_t m_Left = 0;
};

class CVectorSink : public ICabSink {
public:
    std::vector<uint8_t> Bytes;
    bool Append(const uint8_t *data, size_t size, std::string &) override
    {
        Bytes.insert(Bytes.end(), data, data + size);
        return true;
    }
    bool Overwrite(uint32_t offset, const uint8_t *data, size_t size, std::string &) override
    {
        std::copy(data, data + size, Bytes.data() + offset);
        return true;
    }
};

// The expected files live in the source tree (tests/tools/golden).
std::string Golden(const char *name)
{
    std::ifstream file(std::string(SELFEX_TOOLS_GOLDEN_DIR) + "/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string Replace(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

} // namespace

class ListGoldenTest : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        struct Row {
            const char *Name;
            uint32_t Size;
            uint16_t Date;
            uint16_t Time;
            uint16_t Attribs;
        } rows[] = {
            {"readme.txt", 120, DosDate(2024, 2, 29), DosTime(13, 45, 58), 0x20},
            {"docs\\manual.pdf", 70000, DosDate(1999, 12, 31), DosTime(23, 59, 58), 0x01},
            {"docs\\.hidden", 0, DosDate(1980, 1, 1), DosTime(0, 0, 0), 0x22},
            {"bin\\tool.exe", 5, DosDate(2107, 12, 31), DosTime(23, 59, 58), 0x27},
            {"\xC3\x9Cn\xC3\xAF\x63\xC3\xB8\x64\xC3\xA9\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", 3,
             DosDate(2020, 6, 15), DosTime(8, 30, 0), 0x04},
            {"say 'hi'.txt", 1, DosDate(2001, 9, 9), DosTime(1, 46, 40), 0x00},
        };
        std::vector<CabMember> members;
        for (const Row &row : rows) {
            CabMember member;
            member.Name = row.Name;
            member.Size = row.Size;
            member.Date = row.Date;
            member.Time = row.Time;
            member.Attribs = row.Attribs;
            members.push_back(member);
        }
        CBytesSource source;
        CVectorSink sink;
        CabSummary summary;
        std::string error;
        ASSERT_TRUE(WriteCabinet(members, CabOptions(), source, sink, summary, error)) << error;
        std::vector<uint8_t> package = FakeStub(1000);
        package.resize(160000, 0);
        package.insert(package.end(), sink.Bytes.begin(), sink.Bytes.end());
        Write("golden.exe", package);
    }
};

TEST_F(ListGoldenTest, TextListing)
{
    CommandResult result = Run({"list", At("golden.exe")});
    ASSERT_EQ(result.Code, 0) << result.Err;
    EXPECT_EQ(result.Out, Golden("list.txt"));
    EXPECT_EQ(result.Err, "");
}

TEST_F(ListGoldenTest, JsonListing)
{
    CommandResult result = Run({"list", "--json", At("golden.exe")});
    ASSERT_EQ(result.Code, 0) << result.Err;
    EXPECT_EQ(Replace(result.Out, At("golden.exe"), "PACKAGE"), Golden("list.json"));
}
