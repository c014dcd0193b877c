// Canonical Huffman tables: which code lengths are accepted, and decoding
// of codes written by the test library's independent canonical coder,
// including codes longer than the root table (subtables) up to 16 bits.
#include <gtest/gtest.h>

#include <random>

#include "fdi/Huffman.h"
#include "tests/testlib/LzxWriter.h"

namespace {

using Fdi::TableBuild;
using TestLib::CanonicalCodes;
using TestLib::CodeLengths;

template <unsigned N, unsigned T, unsigned M>
TableBuild BuildOf(const CodeLengths &lengths)
{
    static Fdi::CHuffmanTable<N, T, M> table; // large; keep it off the stack
    CodeLengths padded(lengths);
    padded.resize(N, 0);
    return table.Build(padded.data());
}

struct LengthsCase {
    const char *Name;
    CodeLengths Lengths;
    TableBuild Expected;
};

TEST(CHuffmanTable, AcceptsOnlyCompleteCodesOrNoCodes)
{
    const LengthsCase cases[] = {
        {"two 1-bit codes", {1, 1}, TableBuild::Complete},
        {"1, 2, 2", {2, 1, 0, 2}, TableBuild::Complete},
        {"four 2-bit codes", {2, 2, 2, 2}, TableBuild::Complete},
        {"chain to 16 bits", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16}, TableBuild::Complete},
        {"no codes", {0, 0, 0}, TableBuild::Empty},
        {"one code alone", {0, 1}, TableBuild::Invalid},
        {"incomplete 1, 2", {1, 2}, TableBuild::Invalid},
        {"incomplete by one 16-bit code", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, TableBuild::Invalid},
        {"over-subscribed 1, 1, 1", {1, 1, 1}, TableBuild::Invalid},
        {"over-subscribed by one 16-bit code",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16, 16},
         TableBuild::Invalid},
        {"over-subscribed with longer codes after", {1, 1, 1, 2, 2}, TableBuild::Invalid},
        {"length above the maximum", {1, 2, 17, 17}, TableBuild::Invalid},
    };
    for (const LengthsCase &c : cases) {
        EXPECT_EQ((BuildOf<32, 6, 16>(c.Lengths)), c.Expected) << c.Name;
    }
    // A table whose maximum is 7 (3-bit aligned lengths cannot exceed it,
    // but the builder must still refuse 8 if asked).
    EXPECT_EQ((BuildOf<8, 7, 7>({1, 2, 3, 4, 5, 6, 7, 7})), TableBuild::Complete);
    EXPECT_EQ((BuildOf<8, 7, 7>({1, 2, 3, 4, 5, 6, 8, 8})), TableBuild::Invalid);
}

TEST(CHuffmanTable, EmptyTableDecodesNothing)
{
    // A tree without codes (LZX's length tree in a block without long
    // matches) decodes to EMPTY_SYMBOL and consumes no bits.
    static Fdi::CHuffmanTable<249, 10, 16> table;
    const CodeLengths none(249, 0);
    ASSERT_EQ(table.Build(none.data()), TableBuild::Empty);
    std::vector<uint8_t> bytes(4 + Fdi::CODEC_INPUT_PADDING, 0xA5);
    Fdi::CBitReader reader;
    reader.Init(bytes.data(), 4);
    reader.Refill();
    EXPECT_EQ(table.Decode(reader), Fdi::EMPTY_SYMBOL);
    EXPECT_EQ(reader.Position(), 0u);
}

// Huffman lengths (at most 16) for random frequencies over n symbols,
// some of them unused.
CodeLengths RandomCode(size_t n, std::mt19937 &random)
{
    std::vector<uint64_t> weights(n);
    for (uint64_t &w : weights) {
        const uint32_t r = static_cast<uint32_t>(random());
        w = (r % 4 == 0) ? 0 : 1 + (r / 4 % 16) * (1ull << (r / 64 % 12));
    }
    return TestLib::HuffmanLengths(weights, 16);
}

// Writes symbols with the canonical codes, decodes them with the table.
// Each symbol carries a tag, which must come back with it from root and
// subtable entries alike.
template <unsigned N, unsigned T>
::testing::AssertionResult RoundTrips(const CodeLengths &lengths, const std::vector<unsigned> &symbols)
{
    static Fdi::CHuffmanTable<N, T, 16> table;
    uint8_t tags[N];
    for (unsigned sym = 0; sym < N; ++sym) {
        tags[sym] = static_cast<uint8_t>(sym * 7 % 32);
    }
    if (table.Build(lengths.data(), tags) != TableBuild::Complete) {
        return ::testing::AssertionFailure() << "refused a complete code";
    }
    const std::vector<uint32_t> codes = CanonicalCodes(lengths);
    TestLib::CLzxBitWriter writer;
    for (unsigned sym : symbols) {
        writer.Put(codes[sym], lengths[sym]);
        writer.Put(sym & 7, 3); // plain bits in between must survive
    }
    // The writer's 16-bit words, high byte first: the order the LZX codec
    // hands the reader.
    std::vector<uint8_t> bytes = writer.Take();
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::swap(bytes[i], bytes[i + 1]);
    }
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    bytes.resize(bytes.size() + Fdi::CODEC_INPUT_PADDING, 0);
    Fdi::CBitReader reader;
    reader.Init(bytes.data(), size);
    for (size_t i = 0; i < symbols.size(); ++i) {
        reader.Refill();
        const uint32_t entry = table.DecodeEntry(reader);
        const unsigned got = table.SymbolOf(entry);
        const unsigned extra = reader.Take(3);
        if (got != symbols[i] || extra != (symbols[i] & 7)) {
            return ::testing::AssertionFailure() << "symbol " << i << ": got " << got << ", want " << symbols[i];
        }
        if (table.TagOf(entry) != tags[got]) {
            return ::testing::AssertionFailure() << "symbol " << i << ": tag " << table.TagOf(entry);
        }
    }
    if (reader.HasOverrun()) {
        return ::testing::AssertionFailure() << "read past the written bits";
    }
    return ::testing::AssertionSuccess();
}

template <unsigned N, unsigned T>
void RoundTripRandomCodes(unsigned seed)
{
    std::mt19937 random(seed);
    for (unsigned round = 0; round < 30; ++round) {
        const CodeLengths lengths = RandomCode(N, random);
        std::vector<unsigned> used, symbols;
        for (unsigned sym = 0; sym < N; ++sym) {
            if (lengths[sym]) {
                used.push_back(sym);
            }
        }
        for (unsigned i = 0; i < 500; ++i) {
            symbols.push_back(used[random() % used.size()]);
        }
        EXPECT_TRUE((RoundTrips<N, T>(lengths, symbols))) << "round " << round;
    }
}

TEST(CHuffmanTable, DecodesRandomCodesWithAnyRootWidth)
{
    // The LZX tables' shapes, and narrow roots that push most codes into
    // subtables.
    RoundTripRandomCodes<656, 11>(1);
    RoundTripRandomCodes<249, 10>(2);
    RoundTripRandomCodes<20, 8>(3);
    RoundTripRandomCodes<300, 5>(4);
    RoundTripRandomCodes<64, 4>(5);
}

TEST(CHuffmanTable, SubtablesAtTheirWorstCase)
{
    // Eleven root prefixes each lead to a chain of 9-, 10-, ..., 16-bit
    // codes plus a second 16-bit one: eleven full 256-entry subtables. Short
    // codes (1, 2, 3, 4, 6, 8 bits) fill the other 245 of 256 prefixes.
    CodeLengths lengths = {1, 2, 3, 4, 6, 8};
    for (unsigned chain = 0; chain < 11; ++chain) {
        for (unsigned len = 9; len <= 16; ++len) {
            lengths.push_back(static_cast<uint8_t>(len));
        }
        lengths.push_back(16);
    }
    lengths.resize(110, 0);
    std::vector<unsigned> symbols;
    for (unsigned sym = 0; sym < 105; ++sym) {
        symbols.push_back(sym);
        symbols.push_back(104 - sym);
    }
    EXPECT_TRUE((RoundTrips<110, 8>(lengths, symbols)));
}

} // namespace
