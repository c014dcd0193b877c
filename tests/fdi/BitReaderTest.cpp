// Bit reader: bit order, starting offsets, and the
// overrun flag exactly at the end of the input and far beyond it.
#include <gtest/gtest.h>

#include <vector>

#include "fdi/BitReader.h"

namespace {

// The bytes followed by the zero padding every codec input has.
std::vector<uint8_t> Padded(std::vector<uint8_t> bytes)
{
    bytes.resize(bytes.size() + Fdi::CODEC_INPUT_PADDING, 0);
    return bytes;
}

TEST(CBitReader, ReadsBytesFromTheTop)
{
    const std::vector<uint8_t> data = Padded({0x34, 0x12, 0x78});
    Fdi::CBitReader bits;
    bits.Init(data.data(), 3);
    EXPECT_EQ(bits.Read(4), 0x3u);
    EXPECT_EQ(bits.Read(8), 0x41u);
    EXPECT_EQ(bits.Read(12), 0x278u);
    EXPECT_FALSE(bits.HasOverrun());
}

TEST(CBitReader, WideReadsAndZeroWidthReads)
{
    const std::vector<uint8_t> data = Padded({0xBE, 0xEF, 0xDE, 0xAD, 0x11, 0x11});
    Fdi::CBitReader bits;
    bits.Init(data.data(), 6);
    EXPECT_EQ(bits.Read(0), 0u);
    EXPECT_EQ(bits.Read(32), 0xBEEFDEADu);
    EXPECT_EQ(bits.Read(0), 0u);
    EXPECT_EQ(bits.Read(16), 0x1111u);
}

TEST(CBitReader, StartsAtAnyByteOffset)
{
    // After an uncompressed LZX block the words start at odd offsets too.
    const std::vector<uint8_t> data = Padded({0xFF, 0x12, 0x34, 0x56, 0x78});
    Fdi::CBitReader bits;
    bits.Init(data.data(), 5, 1);
    EXPECT_EQ(bits.Read(16), 0x1234u);
    EXPECT_EQ(bits.Read(16), 0x5678u);
    EXPECT_EQ(bits.Position(), 40u);
    EXPECT_FALSE(bits.HasOverrun());
    bits.Init(data.data(), 5, 5);
    EXPECT_FALSE(bits.HasOverrun());
    EXPECT_EQ(bits.Read(1), 0u);
    EXPECT_TRUE(bits.HasOverrun());
}

TEST(CBitReader, OverrunStartsOneBitPastTheEnd)
{
    for (uint32_t size : {0u, 1u, 2u, 7u, 8u, 9u, 30u}) {
        std::vector<uint8_t> bytes(size, 0xA5);
        const std::vector<uint8_t> data = Padded(bytes);
        Fdi::CBitReader bits;
        bits.Init(data.data(), size);
        for (uint32_t i = 0; i < size * 8; ++i) {
            bits.Read(1);
        }
        EXPECT_FALSE(bits.HasOverrun()) << size;
        EXPECT_EQ(bits.Read(1), 0u) << "zero bits past the end";
        EXPECT_TRUE(bits.HasOverrun()) << size;
    }
}

TEST(CBitReader, ReadingFarPastTheEndStaysInsideThePaddingAndReadsZeros)
{
    // Under ASan any load beyond the padding would be reported.
    const std::vector<uint8_t> data = Padded({0xFF, 0xFF});
    Fdi::CBitReader bits;
    bits.Init(data.data(), 2);
    EXPECT_EQ(bits.Read(16), 0xFFFFu);
    for (int i = 0; i < 10000; ++i) {
        bits.Refill();
        ASSERT_EQ(bits.Take(17), 0u);
    }
    EXPECT_TRUE(bits.HasOverrun());
}

} // namespace
