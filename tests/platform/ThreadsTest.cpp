// Conformance of thread slots, thread ids, the per-thread last error and
// the tick count.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Win32.h"

namespace {

// A TLS index freed at the end of the test.
class CSlot {
public:
    CSlot() : Index(TlsAlloc()) {}
    ~CSlot()
    {
        if (Index != TLS_OUT_OF_INDEXES) {
            TlsFree(Index);
        }
    }
    CSlot(const CSlot &) = delete;
    CSlot &operator=(const CSlot &) = delete;
    const DWORD Index;
};

TEST(ThreadSlots, EachThreadSeesOnlyItsOwnValue)
{
    CSlot slot;
    ASSERT_NE(slot.Index, TLS_OUT_OF_INDEXES);
    int mine = 0;
    ASSERT_TRUE(TlsSetValue(slot.Index, &mine));

    constexpr int THREADS = 4;
    int values[THREADS] = {};
    bool startedEmpty[THREADS] = {};
    bool keptOwn[THREADS] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < THREADS; ++i) {
        threads.emplace_back([&, i] {
            startedEmpty[i] = TlsGetValue(slot.Index) == nullptr;
            TlsSetValue(slot.Index, &values[i]);
            std::this_thread::yield();
            keptOwn[i] = TlsGetValue(slot.Index) == &values[i];
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    for (int i = 0; i < THREADS; ++i) {
        EXPECT_TRUE(startedEmpty[i]) << "a new thread starts with null in every slot";
        EXPECT_TRUE(keptOwn[i]) << "thread " << i;
    }
    EXPECT_EQ(TlsGetValue(slot.Index), &mine);
}

TEST(ThreadSlots, ReallocatedSlotStartsNullInEveryThread)
{
    DWORD index;
    {
        CSlot first;
        index = first.Index;
        ASSERT_NE(index, TLS_OUT_OF_INDEXES);
        int value = 0;
        ASSERT_TRUE(TlsSetValue(index, &value));
    }
    // The slot is free again; a new allocation must not show the old value,
    // whichever index it gets.
    CSlot second;
    ASSERT_NE(second.Index, TLS_OUT_OF_INDEXES);
    EXPECT_EQ(TlsGetValue(second.Index), nullptr);
}

TEST(ThreadSlots, BadIndexesFailAndGoodReadsClearTheError)
{
    CSlot slot;
    ASSERT_NE(slot.Index, TLS_OUT_OF_INDEXES);
    SetLastError(77);
    EXPECT_EQ(TlsGetValue(slot.Index), nullptr);
    EXPECT_EQ(GetLastError(), 0u) << "a stored null is told from an error by the last error";

    for (const DWORD bad : {DWORD{5000}, TLS_OUT_OF_INDEXES}) {
        SetLastError(0);
        EXPECT_EQ(TlsGetValue(bad), nullptr);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
        SetLastError(0);
        EXPECT_FALSE(TlsSetValue(bad, nullptr));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    }

    const DWORD index = TlsAlloc();
    ASSERT_TRUE(TlsFree(index));
    SetLastError(0);
    EXPECT_FALSE(TlsFree(index)) << "freeing twice";
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

TEST(ThreadIdentity, IdsDifferAndLastErrorIsPerThread)
{
    const DWORD mainId = GetCurrentThreadId();
    EXPECT_NE(mainId, 0u);
    EXPECT_EQ(GetCurrentThreadId(), mainId);

    // The two threads take turns through atomics alone: thread start-up and
    // join call the system, which may change this thread's last error.
    std::atomic<int> turn{0};
    DWORD otherId = 0, otherInitialError = 99, otherLaterError = 0;
    std::thread other([&] {
        otherId = GetCurrentThreadId();
        otherInitialError = GetLastError();
        while (turn.load() != 1) {
        }
        SetLastError(5678);
        otherLaterError = GetLastError();
        turn.store(2);
    });
    SetLastError(1234);
    turn.store(1);
    while (turn.load() != 2) {
    }
    const DWORD mainError = GetLastError();
    other.join();

    EXPECT_NE(otherId, 0u);
    EXPECT_NE(otherId, mainId);
    EXPECT_EQ(otherInitialError, 0u);
    EXPECT_EQ(otherLaterError, 5678u);
    EXPECT_EQ(mainError, 1234u) << "another thread's error must not leak here";
}

TEST(TickCount, AdvancesInMilliseconds)
{
    const DWORD before = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const DWORD elapsed = GetTickCount() - before; // unsigned: correct across the wrap
    // Loose bounds: the count is in milliseconds (not seconds or ticks of
    // another unit) and does not run backwards.
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 60000u);
}

} // namespace
