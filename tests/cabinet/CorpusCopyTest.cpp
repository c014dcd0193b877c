// End to end over the corpus: every valid cabinet and every cabinet set,
// embedded in packages the way the packer writes them (each member behind
// the same 160000 filler bytes, under its own name, in one folder), is
// extracted by Copy and checked file by file against its FILE.expected.tsv:
// content (SHA-256), relative path, last-write time and attributes, and
// nothing else may be left in the destination. Natively
// over our decompressor, under wine64 over Wine's Cabinet.dll. Each cabinet
// or set is a test of its own, named after its first member.
#include <map>

#include "cabinet/CaseFold.h"
#include "cabinet/Extract.h"
#include "tests/cabinet/ExtractFixture.h"
#include "tests/cabinet/WideTestText.h"
#include "tests/testlib/CorpusExpect.h"
#include "tests/testlib/Sha256.h"

using namespace Cabinet;

namespace {

// Valid, but refused on purpose: its names are hostile (see
// DirwalkCorpusWritesNothingAnywhere).
const char *const REFUSED[] = {"dirwalk-vulns.cab"};

struct CorpusRun {
    std::string TestName;
    std::vector<TestLib::ManifestEntry> Members; // part 1 first
    bool Whole = true;                           // every member valid
};

std::string Corpus()
{
    const char *corpus = std::getenv("SELFEX_CORPUS");
    return corpus != nullptr ? corpus : SELFEX_CORPUS_DEFAULT;
}

// "set 'NAME' (...); part N of M" in the notes of a set member.
bool SetMember(const std::string &notes, std::string &set, int &part)
{
    const size_t open = notes.find("set '");
    const size_t close = open == std::string::npos ? open : notes.find('\'', open + 5);
    const size_t partAt = notes.find("part ");
    if (close == std::string::npos || partAt == std::string::npos) {
        return false;
    }
    set = notes.substr(open + 5, close - open - 5);
    part = std::atoi(notes.c_str() + partAt + 5);
    return true;
}

std::vector<CorpusRun> CorpusRuns()
{
    std::vector<TestLib::ManifestEntry> manifest;
    std::string error;
    if (!TestLib::ReadManifest(Corpus() + "/MANIFEST.tsv", &manifest, &error)) {
        return {};
    }
    std::map<std::string, std::map<int, TestLib::ManifestEntry>> sets;
    std::vector<CorpusRun> runs;
    for (const TestLib::ManifestEntry &entry : manifest) {
        std::string set;
        int part = 0;
        if (SetMember(entry.Notes, set, part)) {
            sets[set][part] = entry;
        } else if (entry.IsValid() &&
                   std::find(std::begin(REFUSED), std::end(REFUSED), entry.File) == std::end(REFUSED)) {
            runs.push_back({entry.File, {entry}, true});
        }
    }
    for (const auto &set : sets) {
        CorpusRun run;
        for (const auto &member : set.second) {
            run.Members.push_back(member.second);
            run.Whole = run.Whole && member.second.IsValid();
        }
        run.TestName = run.Members.front().File;
        if (run.Members.front().IsValid()) {
            runs.push_back(run);
        }
    }
    for (CorpusRun &run : runs) {
        for (char &c : run.TestName) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
    }
    return runs;
}

// The stored name as the extractor decodes it, relative to the destination:
// UTF-8 strictly; empty when it is not valid.
WString DecodedName(const TestLib::ExpectedEntry &entry)
{
    const bool utf8 = (entry.Attribs & 0x80) != 0;
    WString name(entry.NameBytes.size() + 1, 0);
    const int n = MultiByteToWideChar(utf8 ? CP_UTF8 : 1252, utf8 ? MB_ERR_INVALID_CHARS : 0, entry.NameBytes.c_str(),
                                      -1, &name[0], static_cast<int>(name.size()));
    name.resize(n > 0 ? static_cast<size_t>(n) - 1 : 0);
    std::replace(name.begin(), name.end(), WIDE('/'), WIDE('\\'));
    return name;
}

// Whether the extractor writes a file of this name below a destination of
// destinationLength units: a run stops at the first name the rule refuses
// (NameCheckTest covers the rule itself), a second one in other letter
// case included.
bool RuleAccepts(const TestLib::ExpectedEntry &entry, size_t destinationLength, std::vector<WString> &folded)
{
    WString name = DecodedName(entry);
    if ((name.empty() && !entry.NameBytes.empty()) || CheckStoredName(name.c_str()) != NameRule::Accepted ||
        CheckOutputPath(destinationLength, name.c_str()) != NameRule::Accepted) {
        return false;
    }
    FoldCase(&name[0], name.size());
    if (std::find(folded.begin(), folded.end(), name) != folded.end()) {
        return false;
    }
    folded.push_back(name);
    return true;
}

// The name a file gets: Windows, and our POSIX layer like it, drop trailing
// spaces and dots from every level.
WString AsCreated(const WString &path)
{
    WString created;
    for (WCHAR c : path) {
        if (c == WIDE('\\')) {
            while (!created.empty() && (created.back() == WIDE(' ') || created.back() == WIDE('.'))) {
                created.pop_back();
            }
        }
        created += c;
    }
    while (!created.empty() && (created.back() == WIDE(' ') || created.back() == WIDE('.'))) {
        created.pop_back();
    }
    return created;
}

// Files below folder that are none of the expected ones. Compared as files,
// not as texts: distinct stored names may meet in one file (lone surrogates
// become U+FFFD on POSIX; Windows ignores letter case).
std::vector<std::string> UnexpectedFiles(const WString &folder, const std::vector<WString> &expected)
{
    std::vector<std::string> unexpected;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(FsPath(folder), error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file()) {
            continue;
        }
        bool known = false;
        for (const WString &path : expected) {
            known = known || std::filesystem::equivalent(it->path(), FsPath(AsCreated(path)), error);
        }
        if (!known) {
            unexpected.push_back(it->path().generic_u8string());
        }
    }
    return unexpected;
}

// Test output names the run, not its bytes.
[[maybe_unused]] void PrintTo(const CorpusRun &run, std::ostream *out)
{
    *out << run.Members.front().File;
}

} // namespace

class CorpusCopyTest : public ExtractTest, public ::testing::WithParamInterface<CorpusRun> {};

TEST_P(CorpusCopyTest, ExtractsEveryFileAsExpected)
{
    const CorpusRun &run = GetParam();
    // Expected files of every member: those that start in it, each with its
    // whole content; a name stored twice ends as the later file.
    std::map<WString, TestLib::ExpectedEntry> expected;
    std::vector<WString> folded;
    bool stops = false;
    for (const TestLib::ManifestEntry &member : run.Members) {
        RecordProperty("compression_" + member.File, member.Compression);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadBytes(WidePath(Corpus() + "/" + member.File), bytes)) << member.File;
        WritePackage("pkg/" + member.File, bytes);
        std::vector<TestLib::ExpectedEntry> entries;
        std::string error;
        if (!member.IsValid()) {
            continue;
        }
        ASSERT_TRUE(TestLib::ReadExpected(Corpus() + "/" + member.File + ".expected.tsv", &entries, &error)) << error;
        for (const TestLib::ExpectedEntry &entry : entries) {
            if (entry.FdiEvent != "COPY_FILE" || stops) {
                continue;
            }
            stops = !RuleAccepts(entry, PathTo("out/").size(), folded);
            if (!stops) {
                expected[DecodedName(entry)] = entry;
            }
        }
    }
    SCOPED_TRACE("compression " + run.Members.front().Compression);

    CopyRun copy;
    const bool copied = copy.Copy(PathTo("pkg/" + run.Members.front().File), PathTo("out/"));
    EXPECT_EQ(copied, run.Whole && !stops)
        << "Code " << copy.extract.Error.Code << ", Detail " << copy.extract.Error.Detail << ", FDI error "
        << copy.extract.Error.Erf.erfOper;
    if (stops) {
        EXPECT_EQ(copy.extract.Error.Code, FDIERROR_TARGET_FILE);
        EXPECT_EQ(copy.extract.Error.Detail, ERROR_INVALID_NAME);
    }
    std::vector<WString> paths;
    for (const auto &file : expected) {
        const WString path = PathTo("out/") + file.first;
        paths.push_back(path);
        std::vector<uint8_t> bytes;
        if (!ReadBytes(path, bytes)) {
            ADD_FAILURE() << "missing " << Narrow(file.first.c_str());
            continue;
        }
        EXPECT_EQ(bytes.size(), file.second.Size) << Narrow(file.first.c_str());
        EXPECT_EQ(TestLib::Sha256Hex(bytes), file.second.Sha256) << Narrow(file.first.c_str());
        EXPECT_TRUE(HasStoredTimeAndAttributes(path, file.second.DosDate, file.second.DosTime, file.second.Attribs))
            << Narrow(file.first.c_str());
    }
    // Nothing else: in a broken set, no partial file of the failed part.
    EXPECT_EQ(UnexpectedFiles(PathTo("out/"), paths), std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusCopyTest, ::testing::ValuesIn(CorpusRuns()),
                         [](const ::testing::TestParamInfo<CorpusRun> &run) { return run.param.TestName; });
