// The test library's LZX writer and Quantum encoder against an independent
// decoder: the cabinets they make must extract in cabextract (libmspack)
// to the bytes the stream tests expect. Without this check a mistake shared
// by a writer and our decoder (a tree rule, the Quantum model's rescaling)
// would pass every stream test. Skipped where cabextract is not installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>

#include <unistd.h>

#include "tests/testlib/CabBuilder.h"
#include "tests/testlib/LzxFolders.h"
#include "tests/testlib/LzxWriter.h"

namespace {

using namespace TestLib;

// stdout of a command, or false when it could not run or failed.
bool RunForOutput(const std::string &command, std::vector<uint8_t> *output)
{
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return false;
    }
    uint8_t buffer[65536];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output->insert(output->end(), buffer, buffer + got);
    }
    return pclose(pipe) == 0;
}

// An odd uncompressed block that ends with the first frame, its pad byte
// opening the second CFDATA block, then another uncompressed block: whether
// the second block's 16-bit alignment counts from the stream (the writer)
// or from the CFDATA block is for cabextract to settle.
LzFolder PadByteInTheNextBlock()
{
    constexpr uint32_t FRAME = 32768;
    LzFolder folder;
    const std::vector<uint8_t> raw = RandomBytes(FRAME - 1, 6);
    CLzxWriter lzx(16);
    lzx.StreamHeader(0);
    lzx.VerbatimOps(Lits("x"));
    lzx.UncompressedBlock(FRAME - 1);
    lzx.RawBytes(raw);
    lzx.EndFrame();
    lzx.PadByte(0);
    lzx.UncompressedBlock(4);
    lzx.RawBytes(Bytes("RAW!"));
    folder.Blocks = lzx.Finish();
    folder.Sizes = {FRAME, 4};
    folder.Data = Bytes("x");
    folder.Data.insert(folder.Data.end(), raw.begin(), raw.end());
    folder.Data.insert(folder.Data.end(), {'R', 'A', 'W', '!'});
    return folder;
}

TEST(LzxQuantumOracle, CabextractDecodesTheWritersStreams)
{
    std::vector<uint8_t> ignored;
    if (!RunForOutput("cabextract --version 2>/dev/null", &ignored)) {
        GTEST_SKIP() << "cabextract is not installed";
    }
    struct FolderCase {
        uint16_t Type;
        LzFolder Folder;
    };
    // LZX verbatim and aligned blocks over small and large windows; Quantum
    // long enough to rescale and re-sort its models many times, and with a
    // window that wraps inside each frame.
    const FolderCase folders[] = {
        {LzxType(16), MakeLzxFolder(16, 120000, 1)},           {LzxType(21), MakeLzxFolder(21, 100000, 2, true)},
        {LzxType(15), MakeLzxFolder(15, 90000, 3, true)},      {QuantumType(4, 18), MakeQuantumFolder(18, 200000, 4)},
        {QuantumType(1, 10), MakeQuantumFolder(10, 70000, 5)}, {LzxType(16), PadByteInTheNextBlock()},
    };
    CCabBuilder builder;
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < std::size(folders); ++i) {
        AddLzFolder(builder, folders[i].Type, folders[i].Folder, {"f" + std::to_string(i)},
                    {static_cast<uint32_t>(folders[i].Folder.Data.size())});
        expected.insert(expected.end(), folders[i].Folder.Data.begin(), folders[i].Folder.Data.end());
    }
    const std::string path =
        (std::filesystem::temp_directory_path() / ("lzx-quantum-oracle-" + std::to_string(getpid()) + ".cab")).string();
    ASSERT_TRUE(WriteWholeFile(path, builder.Build().Bytes));
    std::vector<uint8_t> extracted;
    const bool ok = RunForOutput("cabextract -q -p '" + path + "'", &extracted);
    std::filesystem::remove(path);
    ASSERT_TRUE(ok) << "cabextract refused the cabinet";
    EXPECT_TRUE(extracted == expected) << "cabextract's bytes differ";
}

} // namespace
