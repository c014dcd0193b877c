// Conformance of time conversions (MS-DOS date/time, FILETIME, local time)
// and of applying times through CreateFileW/SetFileTime.
//
// Expected FILETIME values were computed independently (Python's datetime:
// microseconds since 1601-01-01 times 10).
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "tests/platform/HostControl.h"
#include "tests/testlib/TempDir.h"

namespace {

constexpr uint64_t TICKS_PER_SECOND = 10000000;

WORD DosDate(int year, int month, int day)
{
    return static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day);
}

WORD DosTime(int hour, int minute, int second)
{
    return static_cast<WORD>((hour << 11) | (minute << 5) | (second / 2));
}

uint64_t Ticks(const FILETIME &time)
{
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

FILETIME FileTime(uint64_t ticks)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

TEST(FileTimeConversion, DosDateTimeConvertsFieldByField)
{
    struct Case {
        const char *what;
        WORD date, time;
        uint64_t expected;
    } cases[] = {
        {"first DOS day", DosDate(1980, 1, 1), 0, 119600064000000000},
        {"last DOS second", DosDate(2107, 12, 31), DosTime(23, 59, 58), 159992927980000000},
        {"leap day 1980", DosDate(1980, 2, 29), 0, 119651040000000000},
        {"leap day 2000", DosDate(2000, 2, 29), 0, 125962560000000000},
        {"afternoon", DosDate(2024, 6, 15), DosTime(13, 45, 30), 133629327300000000},
    };
    for (const Case &c : cases) {
        FILETIME time = {};
        ASSERT_TRUE(DosDateTimeToFileTime(c.date, c.time, &time)) << c.what;
        EXPECT_EQ(Ticks(time), c.expected) << c.what;

        WORD date = 0, dosTime = 0;
        ASSERT_TRUE(FileTimeToDosDateTime(&time, &date, &dosTime)) << c.what;
        EXPECT_EQ(date, c.date) << c.what;
        EXPECT_EQ(dosTime, c.time) << c.what;
    }
}

TEST(FileTimeConversion, DosDateTimeRejectsFieldsOutOfRange)
{
    struct Case {
        const char *what;
        WORD date, time;
        bool wineAccepts; // Wine takes February 29 in any year
    } cases[] = {
        {"all zero (day 0, month 0)", 0, 0, false},
        {"day 0", DosDate(1980, 1, 0), 0, false},
        {"month 0", DosDate(1980, 0, 1), 0, false},
        {"month 13", DosDate(1980, 13, 1), 0, false},
        {"month 15", DosDate(1980, 15, 1), 0, false},
        {"February 30", DosDate(1980, 2, 30), 0, false},
        {"April 31", DosDate(1980, 4, 31), 0, false},
        {"February 29 of a common year", DosDate(1981, 2, 29), 0, true},
        {"February 29 of 2100", DosDate(2100, 2, 29), 0, true},
        {"second 60", DosDate(1980, 1, 1), DosTime(0, 0, 60), false},
        {"second 62", DosDate(1980, 1, 1), DosTime(0, 0, 62), false},
        {"minute 60", DosDate(1980, 1, 1), DosTime(0, 60, 0), false},
        {"minute 63", DosDate(1980, 1, 1), DosTime(0, 63, 0), false},
        {"hour 24", DosDate(1980, 1, 1), DosTime(24, 0, 0), false},
        {"hour 31", DosDate(1980, 1, 1), DosTime(31, 0, 0), false},
    };
    for (const Case &c : cases) {
        if (c.wineAccepts && RunningUnderWine()) {
            continue;
        }
        FILETIME time = FileTime(0x1234567812345678);
        EXPECT_FALSE(DosDateTimeToFileTime(c.date, c.time, &time)) << c.what;
        EXPECT_EQ(Ticks(time), 0x1234567812345678u) << c.what << ": output changed";
    }
}

TEST(FileTimeConversion, FileTimeToDosDateTimeKeepsTheDosRange)
{
    // Odd seconds and fractions round down to the even second.
    const FILETIME odd = FileTime(133629327300000000 + 19999999);
    WORD date = 0, time = 0;
    ASSERT_TRUE(FileTimeToDosDateTime(&odd, &date, &time));
    EXPECT_EQ(date, DosDate(2024, 6, 15));
    EXPECT_EQ(time, DosTime(13, 45, 30));

    struct Case {
        const char *what;
        uint64_t ticks;
        bool wineAccepts; // Wine has no upper limit
    } refused[] = {
        {"zero", 0, false},
        {"last second of 1979", 119600063990000000, false},
        {"beyond 2^63", 0x8000000000000000, false},
        {"first second of 2108", 159992928000000000, true},
    };
    for (const Case &c : refused) {
        if (c.wineAccepts && RunningUnderWine()) {
            continue;
        }
        const FILETIME value = FileTime(c.ticks);
        date = 0xAAAA;
        time = 0xBBBB;
        SetLastError(0);
        EXPECT_FALSE(FileTimeToDosDateTime(&value, &date, &time)) << c.what;
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER}) << c.what;
        EXPECT_EQ(date, 0xAAAA) << c.what;
        EXPECT_EQ(time, 0xBBBB) << c.what;
    }
}

// The offset that LocalFileTimeToFileTime subtracts, in seconds.
int64_t LocalOffsetSeconds(uint64_t localTicks)
{
    const FILETIME local = FileTime(localTicks);
    FILETIME utc = {};
    if (!LocalFileTimeToFileTime(&local, &utc)) {
        return INT64_MIN;
    }
    return static_cast<int64_t>(localTicks - Ticks(utc)) / static_cast<int64_t>(TICKS_PER_SECOND);
}

TEST(FileTimeConversion, LocalTimeUsesOneOffsetBothWays)
{
    const uint64_t january = 125911584000000000; // 2000-01-01
    const uint64_t july = 126068832000000000;    // 2000-07-01
    // Windows applies the offset in effect now to every time, so summer and
    // winter times shift alike.
    EXPECT_EQ(LocalOffsetSeconds(january), LocalOffsetSeconds(july));
    FILETIME utc = FileTime(july), local = {}, back = {};
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(Ticks(back), july);
}

TEST(FileTimeConversion, LocalTimeFollowsTheProcessTimeZone)
{
    if (!IsPosixLayer()) {
        GTEST_SKIP() << "Windows takes the time zone from the system, not from TZ";
    }
    const char *original = std::getenv("TZ");
    const std::string saved = original != nullptr ? original : "";
    const uint64_t january = 125911584000000000;
    struct Case {
        const char *zone;
        int64_t offset; // seconds east of UTC; these zones keep no summer time
    } cases[] = {{"UTC0", 0}, {"JST-9", 9 * 3600}, {"EST5", -5 * 3600}, {"IST-5:30", 19800}};
    for (const Case &c : cases) {
        ASSERT_TRUE(SetEnvironment("TZ", c.zone));
        EXPECT_EQ(LocalOffsetSeconds(january), c.offset) << c.zone;
    }
    SetEnvironment("TZ", original != nullptr ? saved.c_str() : nullptr);
}

TEST(FileTimeConversion, LocalTimeFollowsTheZoneTheProgramStartedIn)
{
    // The platform_tests_time_zone entry starts the program with TZ set and
    // the offset it implies, which Windows under Wine takes from TZ too.
    const char *expected = std::getenv("SELFEX_TEST_LOCAL_OFFSET");
    if (expected == nullptr) {
        GTEST_SKIP() << "needs the environment of the platform_tests_time_zone entry";
    }
    EXPECT_EQ(LocalOffsetSeconds(125911584000000000), std::atoll(expected));
}

class FileTimeApplyTest : public TempDirTest {};

TEST_F(FileTimeApplyTest, SetFileTimeThroughAWriteHandleShowsInTheLookUp)
{
    const WString path = In(WIDE("stamped.txt"));
    ASSERT_TRUE(WriteTextFile(path, "x"));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const FILETIME stamp = FileTime(133629327300000000); // 2024-06-15 13:45:30 UTC
    EXPECT_TRUE(SetFileTime(file, &stamp, nullptr, &stamp));
    EXPECT_TRUE(CloseHandle(file));

    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(Ticks(data.ftLastWriteTime), Ticks(stamp));
}

TEST_F(FileTimeApplyTest, ReadOnlyHandleMayNotSetTimes)
{
    // Windows requires FILE_WRITE_ATTRIBUTES (part of GENERIC_WRITE) for
    // SetFileTime; Wine does not check the handle's access.
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine sets times through any handle";
    }
    const WString path = In(WIDE("plain.txt"));
    ASSERT_TRUE(WriteTextFile(path, "x"));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const FILETIME stamp = FileTime(133629327300000000);
    SetLastError(0);
    EXPECT_FALSE(SetFileTime(file, nullptr, nullptr, &stamp));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(FileTimeApplyTest, CreateFileDispositionsReportWhatTheyFound)
{
    const WString path = In(WIDE("made.txt"));
    struct Step {
        const char *what;
        DWORD disposition;
        bool opens;
        DWORD error;
    } steps[] = {
        {"open missing", OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND},
        {"truncate missing", TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND},
        {"create new", CREATE_NEW, true, ERROR_SUCCESS},
        {"create new again", CREATE_NEW, false, ERROR_FILE_EXISTS},
        {"create always over existing", CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS},
        {"open always existing", OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS},
        {"open existing", OPEN_EXISTING, true, ERROR_SUCCESS},
    };
    for (const Step &step : steps) {
        SetLastError(12345);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, step.disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, step.opens) << step.what;
        EXPECT_EQ(GetLastError(), step.error) << step.what;
        if (file != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(file)) << step.what;
        }
    }
    SetLastError(0);
    EXPECT_EQ(CreateFileW(Dir().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED}) << "a folder is not a file";
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

} // namespace
