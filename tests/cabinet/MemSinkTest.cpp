// CMemSink: appends fill exactly to the capacity Reset asked for and never
// beyond it; memory follows the bytes that arrived, not the capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cabinet/MemSink.h"

using Cabinet::CMemSink;
using Cabinet::SinkAppend;

TEST(CMemSink, AppendsStopAtCapacity)
{
    CMemSink sink;
    EXPECT_EQ(sink.Append("x", 1), SinkAppend::Overflow); // takes nothing before a Reset
    sink.Reset(10);
    EXPECT_EQ(sink.Append("abcd", 4), SinkAppend::Appended);
    EXPECT_EQ(sink.Append("efghij", 6), SinkAppend::Appended);
    EXPECT_EQ(sink.Append("k", 1), SinkAppend::Overflow);
    // Counts near 4 GiB must not wrap around the check.
    EXPECT_EQ(sink.Append("x", 0xFFFFFFFFu), SinkAppend::Overflow);
    EXPECT_EQ(sink.Append("x", 0x80000000u), SinkAppend::Overflow);
    EXPECT_EQ(sink.Used(), 10);
    EXPECT_EQ(std::memcmp(sink.Buffer(), "abcdefghij", 10), 0);
}

// A file declaring 2 GB costs nothing until bytes arrive, and then about
// what arrived; the block is kept for the next file.
TEST(CMemSink, MemoryFollowsTheDataNotTheDeclaredSize)
{
    CMemSink sink;
    sink.Reset(0x7F060000);
    EXPECT_EQ(sink.Allocated(), 0u);
    const std::vector<uint8_t> block(100000, 0x5A);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sink.Append(block.data(), static_cast<uint32_t>(block.size())), SinkAppend::Appended);
    }
    EXPECT_EQ(sink.Used(), 300000);
    EXPECT_GE(sink.Allocated(), 300000u);
    EXPECT_LE(sink.Allocated(), 600000u);
    EXPECT_EQ(sink.Buffer()[299999], 0x5A);
    const uint8_t *kept = sink.Buffer();
    sink.Reset(5);
    EXPECT_EQ(sink.Buffer(), kept);
    EXPECT_EQ(sink.Capacity(), 5);
    EXPECT_EQ(sink.Used(), 0);
    sink.Release();
    EXPECT_EQ(sink.Buffer(), nullptr);
    EXPECT_EQ(sink.Allocated(), 0u);
}
