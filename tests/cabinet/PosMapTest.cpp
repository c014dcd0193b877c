// CPosMap: growth keeps entries in place, removal moves the last entry into
// the gap, absent keys answer -1 (Get) or false/0 (TryGet).
#include <gtest/gtest.h>

#include "cabinet/PosMap.h"

using Cabinet::CPosMap;

TEST(CPosMap, GrowsByDoublingWithEntriesInPlace)
{
    CPosMap map;
    for (int32_t key = 1; key <= 5; ++key) {
        map.Set(key, key * 100);
    }
    EXPECT_EQ(map.Capacity(), 8);
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(map.KeyAt(i) * 100, map.ValueAt(i)) << "slot " << i;
    }
    map.Set(3, 7); // a present key: replaced, no growth
    EXPECT_EQ(map.Count(), 5);
    EXPECT_EQ(map.Get(3), 7);
    map.Clear();
    EXPECT_EQ(map.Capacity(), 8);
    EXPECT_EQ(map.Get(1), -1);
}

TEST(CPosMap, RemoveMovesLastEntryIntoTheGap)
{
    CPosMap map;
    map.Set(7, 70);
    map.Set(8, 80);
    map.Set(9, 90);
    map.Remove(7);
    ASSERT_EQ(map.Count(), 2);
    EXPECT_EQ(map.KeyAt(0), 9);
    EXPECT_EQ(map.ValueAt(0), 90);
    map.Remove(12345);
    EXPECT_EQ(map.Count(), 2);

    int32_t value = 55;
    EXPECT_FALSE(map.TryGet(7, value));
    EXPECT_EQ(value, 0);
    map.Set(4, -1); // a stored -1 is still found
    EXPECT_TRUE(map.TryGet(4, value));
    EXPECT_EQ(value, -1);
}
