// LZX and Quantum folders for cabinet tests.
#include "tests/testlib/LzxFolders.h"

#include <algorithm>

#include "tests/testlib/BitWriter.h"
#include "tests/testlib/LzxWriter.h"

namespace TestLib {

namespace {

constexpr uint32_t FRAME = 32768;

} // namespace

LzFolder MakeLzxFolder(unsigned windowBits, uint32_t size, uint32_t seed, bool aligned)
{
    CLzxWriter lzx(windowBits);
    lzx.StreamHeader(0);
    CLzExpected expected;
    const uint32_t rawSize = size < FRAME ? size : FRAME;
    lzx.UncompressedBlock(rawSize);
    expected.Literals(RandomBytes(rawSize, seed));
    lzx.RawBytes(expected.Bytes());
    if (rawSize % 2) {
        lzx.PadByte();
    }
    std::vector<LzxOp> ops;
    uint32_t state = seed;
    const uint32_t window = 1u << windowBits;
    for (uint32_t pos = rawSize; pos < size;) {
        state = state * 1103515245 + 12345;
        uint32_t length = 2 + (state >> 8) % 256;
        const uint32_t frameEnd = (pos / FRAME + 1) * FRAME;
        length = std::min({length, frameEnd - pos, size - pos});
        if (length < 2) {
            ops.push_back(Lit(static_cast<uint8_t>(state >> 16)));
            expected.Literals(std::vector<uint8_t>{static_cast<uint8_t>(state >> 16)});
            pos += 1;
            continue;
        }
        const uint32_t reach = std::min(pos, window - 3);
        const uint32_t offset = 1 + (state >> 4) % reach;
        ops.push_back(Copy(length, offset));
        expected.Copy(offset, length);
        pos += length;
    }
    uint32_t pos = rawSize;
    if (pos % FRAME == 0 && pos < size) {
        lzx.EndFrame();
    }
    if (!ops.empty() && aligned) {
        lzx.AlignedBlock(size - rawSize, {2, 2, 2, 3, 4, 5, 6, 6}, lzx.MainTreeFor(ops),
                         CLzxWriter::LengthTreeFor(ops));
    } else if (!ops.empty()) {
        lzx.VerbatimBlock(size - rawSize, lzx.MainTreeFor(ops), CLzxWriter::LengthTreeFor(ops));
    }
    for (const LzxOp &op : ops) {
        lzx.Write({op});
        pos += op.What == LzxOp::Literal ? 1 : op.Value;
        if (pos % FRAME == 0 && pos < size) {
            lzx.EndFrame();
        }
    }
    LzFolder folder;
    folder.Blocks = lzx.Finish();
    folder.Data = expected.Bytes();
    folder.Sizes = LzFrameSizes(size);
    return folder;
}

LzFolder MakeQuantumFolder(unsigned windowBits, uint32_t size, uint32_t seed)
{
    CQuantumEncoder encoder(windowBits);
    CLzExpected expected;
    LzFolder folder;
    uint32_t state = seed;
    const uint32_t window = 1u << windowBits;
    for (uint32_t pos = 0; pos < size;) {
        state = state * 1103515245 + 12345;
        const uint32_t frameEnd = std::min((pos / FRAME + 1) * FRAME, size);
        // Three literals to a match of 3-63 bytes: enough symbols per
        // model that every model rescales and re-sorts in a few frames.
        uint32_t length = 3 + (state >> 8) % 61;
        if (pos < 64 || (state >> 20) % 4 != 0 || length + 2 > frameEnd - pos) {
            const uint8_t byte = static_cast<uint8_t>(state >> 12);
            encoder.Literal(byte);
            expected.Literals(std::vector<uint8_t>{byte});
            pos += 1;
        } else {
            const uint32_t offset = 1 + (state >> 4) % std::min(pos, window);
            // Lengths 3 and 4 have slot models of 24 and 36 entries only.
            if (length < 5 && QuantumOffsetSlot(offset).Slot >= (length == 3 ? 24u : 36u)) {
                length = 5;
            }
            encoder.Match(offset, length);
            expected.Copy(offset, length);
            pos += length;
        }
        if (pos == frameEnd) {
            folder.Blocks.push_back(encoder.FinishBlock(seed % 5));
        }
    }
    folder.Data = expected.Bytes();
    folder.Sizes = LzFrameSizes(size);
    return folder;
}

void AddLzFolder(CCabBuilder &builder, uint16_t type, const LzFolder &folder, const std::vector<std::string> &names,
                 const std::vector<uint32_t> &sizes)
{
    builder.AddFolder(type);
    for (size_t i = 0; i < names.size(); ++i) {
        builder.AddRawFile(names[i], sizes[i]);
    }
    for (size_t i = 0; i < folder.Blocks.size(); ++i) {
        builder.AddRawBlock(folder.Blocks[i], static_cast<uint16_t>(folder.Sizes[i]));
    }
}

} // namespace TestLib
