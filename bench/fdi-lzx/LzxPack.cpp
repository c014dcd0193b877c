// Builds an LZX cabinet from files, as benchmark input: makecab only runs on
// Windows and neither gcab nor Wine's cabarc writes LZX, so real binaries
// are compressed here with a plain greedy matcher and the test library's
// LZX writer.
//
//   lzx_pack OUT.cab WINDOW_BITS < list-of-files
//
// All files go into one folder of aligned-offset blocks of eight frames
// each, matches found through hash chains (and the repeated offset R0 where
// it does as well). The x86 call filter is applied and announced as
// makecab does, so decoding also pays for the E8 translation. CFDATA
// checksums are left 0 (none). The result is only as good as a quick
// matcher makes it; what matters for a decoder benchmark is that it mixes
// literals, short and long matches and repeats like real LZX cabinets do.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/testlib/LzxWriter.h"

namespace {

using TestLib::CLzxWriter;
using TestLib::CodeLengths;
using TestLib::LzxOp;

constexpr uint32_t FRAME = 32768;
constexpr int32_t E8_SIZE = 12000000; // the translation size makecab announces
constexpr unsigned MAX_MATCH = 257;
constexpr unsigned CHAIN_DEPTH = 12;

// The encoder side of the x86 call filter, on frames 0-32767 of more than
// 10 bytes: a relative operand r at position p becomes r + p when that is
// below the translation size, else r - size (only for -p <= r < size).
void ApplyE8Filter(std::vector<uint8_t> &data)
{
    for (size_t frame = 0; frame < 32768 && frame * FRAME < data.size(); ++frame) {
        const size_t start = frame * FRAME;
        const size_t size = std::min<size_t>(FRAME, data.size() - start);
        if (size <= 10) {
            break;
        }
        for (size_t i = 0; i < size - 10;) {
            uint8_t *p = &data[start + i];
            if (*p != 0xE8) {
                ++i;
                continue;
            }
            const int64_t position = static_cast<int64_t>(start + i);
            const int32_t relative =
                static_cast<int32_t>(p[1] | p[2] << 8 | p[3] << 16 | static_cast<uint32_t>(p[4]) << 24);
            if (relative >= -position && relative < E8_SIZE) {
                const int64_t absolute = relative < E8_SIZE - position ? relative + position : relative - E8_SIZE;
                const uint32_t value = static_cast<uint32_t>(absolute);
                for (int b = 0; b < 4; ++b) {
                    p[1 + b] = static_cast<uint8_t>(value >> (8 * b));
                }
            }
            i += 5;
        }
    }
}

class CMatcher {
public:
    CMatcher(const std::vector<uint8_t> &data, uint32_t window)
        : m_Data(data), m_Window(window), m_Head(1u << 17, -1), m_Prev(window, -1)
    {
    }

    void Insert(size_t pos)
    {
        if (pos + 3 > m_Data.size()) {
            return;
        }
        const uint32_t h = Hash(pos);
        m_Prev[pos & (m_Window - 1)] = m_Head[h];
        m_Head[h] = static_cast<int64_t>(pos);
    }

    // Longest match at pos, no longer than limit: (length, offset).
    std::pair<uint32_t, uint32_t> Find(size_t pos, uint32_t limit) const
    {
        uint32_t bestLength = 0, bestOffset = 0;
        if (pos + 3 > m_Data.size()) {
            return {0, 0};
        }
        int64_t candidate = m_Head[Hash(pos)];
        for (unsigned depth = 0; depth < CHAIN_DEPTH && candidate >= 0; ++depth) {
            const size_t offset = pos - static_cast<size_t>(candidate);
            if (offset == 0 || offset > m_Window - 3) {
                break;
            }
            const uint32_t length = Length(pos, static_cast<size_t>(candidate), limit);
            if (length > bestLength) {
                bestLength = length;
                bestOffset = static_cast<uint32_t>(offset);
            }
            candidate = m_Prev[static_cast<size_t>(candidate) & (m_Window - 1)];
        }
        return {bestLength, bestOffset};
    }

    uint32_t Length(size_t pos, size_t from, uint32_t limit) const
    {
        uint32_t length = 0;
        while (length < limit && m_Data[from + length] == m_Data[pos + length]) {
            ++length;
        }
        return length;
    }

private:
    uint32_t Hash(size_t pos) const
    {
        const uint32_t v = m_Data[pos] | m_Data[pos + 1] << 8 | m_Data[pos + 2] << 16;
        return (v * 2654435761u) >> 15;
    }

    const std::vector<uint8_t> &m_Data;
    uint32_t m_Window;
    std::vector<int64_t> m_Head;
    std::vector<int64_t> m_Prev;
};

// Symbol counts of some ops, for their trees.
struct Counts {
    std::vector<uint64_t> Main, Length, Aligned;
    bool AnyLength = false;
};

void Count(const std::vector<LzxOp> &ops, Counts &counts)
{
    for (const LzxOp &op : ops) {
        if (op.What == LzxOp::Literal) {
            ++counts.Main[op.Value];
            continue;
        }
        const unsigned header = std::min(op.Value - 2, 7u);
        unsigned slot = op.Offset;
        if (op.What == LzxOp::Match) {
            const TestLib::LzxOffset where = TestLib::LzxOffsetSlot(op.Offset);
            slot = where.Slot;
            if (where.ExtraBits >= 3) {
                ++counts.Aligned[where.Extra & 7];
            }
        }
        ++counts.Main[TestLib::MainMatch(slot, header)];
        if (header == 7) {
            ++counts.Length[op.Value - 9];
            counts.AnyLength = true;
        }
    }
}

// The folder's CFDATA payloads, one per frame. Frames are grouped into
// aligned-offset blocks of BLOCK_FRAMES frames, as makecab writes LZX
// (its blocks run from tens of KiB to megabytes).
std::vector<std::vector<uint8_t>> Compress(const std::vector<uint8_t> &data, unsigned windowBits)
{
    constexpr size_t BLOCK_FRAMES = 8;
    CLzxWriter lzx(windowBits);
    lzx.StreamHeader(E8_SIZE);
    CMatcher matcher(data, 1u << windowBits);
    uint32_t r0 = 1;
    std::vector<std::vector<LzxOp>> frames;
    for (size_t frameStart = 0; frameStart < data.size(); frameStart += FRAME) {
        const size_t frameEnd = std::min(data.size(), frameStart + FRAME);
        std::vector<LzxOp> &ops = frames.emplace_back();
        for (size_t pos = frameStart; pos < frameEnd;) {
            const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(MAX_MATCH, frameEnd - pos));
            std::pair<uint32_t, uint32_t> match = matcher.Find(pos, limit);
            const uint32_t repeat = pos >= r0 ? matcher.Length(pos, pos - r0, limit) : 0;
            uint32_t length = 1;
            if (repeat >= 2 && repeat + 1 >= match.first) {
                ops.push_back(TestLib::Rep(repeat, 0));
                length = repeat;
            } else if (match.first >= 3) {
                ops.push_back(TestLib::Copy(match.first, match.second));
                length = match.first;
                r0 = match.second;
            } else {
                ops.push_back(TestLib::Lit(data[pos]));
            }
            for (uint32_t i = 0; i < length; ++i) {
                matcher.Insert(pos + i);
            }
            pos += length;
        }
    }
    for (size_t first = 0; first < frames.size(); first += BLOCK_FRAMES) {
        const size_t last = std::min(frames.size(), first + BLOCK_FRAMES);
        Counts counts{std::vector<uint64_t>(lzx.MainSymbols(), 0), std::vector<uint64_t>(CLzxWriter::LENGTH_SYMBOLS, 0),
                      std::vector<uint64_t>(8, 0)};
        for (size_t f = first; f < last; ++f) {
            Count(frames[f], counts);
        }
        const CodeLengths aligned = TestLib::HuffmanLengths(counts.Aligned, 7);
        const size_t size = std::min(data.size(), last * FRAME) - first * FRAME;
        lzx.AlignedBlock(
            static_cast<uint32_t>(size),
            {aligned[0], aligned[1], aligned[2], aligned[3], aligned[4], aligned[5], aligned[6], aligned[7]},
            TestLib::HuffmanLengths(counts.Main, 16),
            counts.AnyLength ? TestLib::HuffmanLengths(counts.Length, 16) : CodeLengths(CLzxWriter::LENGTH_SYMBOLS, 0));
        for (size_t f = first; f < last; ++f) {
            lzx.Write(frames[f]);
            lzx.EndFrame();
        }
    }
    return lzx.Finish();
}

void PutLe(std::vector<uint8_t> &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: lzx_pack OUT.cab WINDOW_BITS < list-of-files\n");
        return 2;
    }
    const unsigned windowBits = static_cast<unsigned>(std::atoi(argv[2]));
    std::vector<uint8_t> data;
    std::vector<uint32_t> sizes;
    for (std::string path; std::getline(std::cin, path);) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.eof() && in.fail()) {
            continue;
        }
        sizes.push_back(static_cast<uint32_t>(bytes.size()));
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    if (sizes.empty() || sizes.size() > 65535 || data.size() > 65535ull * FRAME) {
        std::fprintf(stderr, "lzx_pack: need 1-65535 files and at most 2 GiB\n");
        return 1;
    }
    std::vector<uint8_t> filtered = data;
    ApplyE8Filter(filtered);
    const std::vector<std::vector<uint8_t>> blocks = Compress(filtered, windowBits);

    // CFHEADER, one CFFOLDER, the CFFILEs, the CFDATA blocks.
    std::vector<uint8_t> files;
    uint32_t offset = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        PutLe(files, sizes[i], 4);
        PutLe(files, offset, 4);
        PutLe(files, 0, 2);      // iFolder
        PutLe(files, 0x5264, 2); // date
        PutLe(files, 0x28c4, 2); // time
        PutLe(files, 0x20, 2);   // attributes: archive
        char name[32];
        std::snprintf(name, sizeof name, "f%05zu.bin", i);
        files.insert(files.end(), name, name + std::strlen(name) + 1);
        offset += sizes[i];
    }
    const uint32_t dataStart = static_cast<uint32_t>(36 + 8 + files.size());
    size_t total = dataStart;
    for (const auto &block : blocks) {
        total += 8 + block.size();
    }
    std::vector<uint8_t> cab;
    cab.insert(cab.end(), {'M', 'S', 'C', 'F'});
    PutLe(cab, 0, 4);
    PutLe(cab, static_cast<uint32_t>(total), 4);
    PutLe(cab, 0, 4);
    PutLe(cab, 36 + 8, 4); // coffFiles
    PutLe(cab, 0, 4);
    cab.push_back(3); // version 1.3
    cab.push_back(1);
    PutLe(cab, 1, 2); // one folder
    PutLe(cab, static_cast<uint32_t>(sizes.size()), 2);
    PutLe(cab, 0, 2); // flags
    PutLe(cab, 0x4C5A, 2);
    PutLe(cab, 0, 2);
    PutLe(cab, dataStart, 4);
    PutLe(cab, static_cast<uint32_t>(blocks.size()), 2);
    PutLe(cab, 3 | windowBits << 8, 2);
    cab.insert(cab.end(), files.begin(), files.end());
    for (size_t i = 0; i < blocks.size(); ++i) {
        PutLe(cab, 0, 4); // no checksum
        PutLe(cab, static_cast<uint32_t>(blocks[i].size()), 2);
        PutLe(cab, static_cast<uint32_t>(std::min<size_t>(FRAME, data.size() - i * FRAME)), 2);
        cab.insert(cab.end(), blocks[i].begin(), blocks[i].end());
    }
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char *>(cab.data()), static_cast<std::streamsize>(cab.size()));
    std::printf("%zu files, %zu bytes in, %zu bytes of cabinet\n", sizes.size(), data.size(), cab.size());
    return out ? 0 : 1;
}
