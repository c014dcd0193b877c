// CMemSink: appends fill exactly to the capacity Reset asked for and never
// beyond it; a smaller Reset reuses the larger buffer.
#include <gtest/gtest.h>

#include <cstring>

#include "cabinet/MemSink.h"

using Cabinet::CMemSink;

TEST(CMemSink, AppendsStopAtCapacity)
{
    CMemSink sink;
    EXPECT_FALSE(sink.Append("x", 1)); // no buffer yet
    sink.Reset(10);
    EXPECT_TRUE(sink.Append("abcd", 4));
    EXPECT_TRUE(sink.Append("efghij", 6));
    EXPECT_FALSE(sink.Append("k", 1));
    // Counts near 4 GiB must not wrap around the check.
    EXPECT_FALSE(sink.Append("x", 0xFFFFFFFFu));
    EXPECT_FALSE(sink.Append("x", 0x80000000u));
    EXPECT_EQ(sink.Used(), 10);
    EXPECT_EQ(std::memcmp(sink.Buffer(), "abcdefghij", 10), 0);
}

TEST(CMemSink, SmallerResetReusesBufferLargerOneGrows)
{
    CMemSink sink;
    sink.Reset(10);
    const uint8_t *first = sink.Buffer();
    sink.Reset(5);
    EXPECT_EQ(sink.Buffer(), first);
    EXPECT_EQ(sink.Capacity(), 10);
    EXPECT_EQ(sink.Used(), 0);
    sink.Reset(20);
    EXPECT_EQ(sink.Capacity(), 20);
    EXPECT_TRUE(sink.Append("01234567890123456789", 20));
    sink.Release();
    EXPECT_EQ(sink.Buffer(), nullptr);
    EXPECT_EQ(sink.Capacity(), 0);
}
