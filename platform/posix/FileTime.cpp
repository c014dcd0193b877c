// File times: MS-DOS date/time and FILETIME conversions, local time, and
// the host's timespec.
//
// FILETIME counts 100-nanosecond intervals since 1601-01-01 in the
// proleptic Gregorian calendar. Local time follows the process time zone
// (TZ, looked at again whenever its value changes). As on Windows, the local-time conversions
// apply the offset in effect now to any time, not the offset in effect at
// that time, so a summer time converted in winter is off by the
// daylight-saving hour, exactly as Windows' own results are.
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/posix/HostBridge.h"

namespace {

constexpr uint64_t TICKS_PER_SECOND = 10000000;
constexpr uint64_t TICKS_PER_DAY = TICKS_PER_SECOND * 86400;
constexpr int64_t UNIX_EPOCH_SECONDS = 11644473600; // 1601-01-01 to 1970-01-01
constexpr int DOS_FIRST_YEAR = 1980;                // DOS years are 1980 + 0..127
constexpr int DOS_LAST_YEAR = 2107;

constexpr int DAYS_BEFORE_MONTH[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int DAYS_IN_MONTH[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    return DAYS_IN_MONTH[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

// Days from 1601-01-01 to the first of January of year (year >= 1601).
// 1600 is a multiple of 400, so the leap days of the years since 1601
// follow from the count of whole years alone.
int64_t DaysBeforeYear(int year)
{
    const int64_t years = year - 1601;
    return 365 * years + years / 4 - years / 100 + years / 400;
}

uint64_t ToTicks(const FILETIME &time)
{
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

FILETIME FromTicks(uint64_t ticks)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

// The offset of local time from UTC now, in ticks (east of Greenwich positive).
int64_t CurrentLocalOffset()
{
    // tzset reads the zone file again at every call (a stat each time, once
    // per extracted file): only a changed TZ is worth that.
    static std::mutex lock;
    static std::string zoneSeen;
    static bool zoneRead = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        const char *zone = std::getenv("TZ");
        const std::string current = zone != nullptr ? std::string(1, '=') + zone : std::string();
        if (!zoneRead || current != zoneSeen) {
            tzset();
            zoneSeen = current;
            zoneRead = true;
        }
    }
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) {
        return 0;
    }
    return int64_t{local.tm_gmtoff} * static_cast<int64_t>(TICKS_PER_SECOND);
}

} // namespace

namespace Host {

FILETIME FileTimeFromTimespec(const struct timespec &time)
{
    const int64_t seconds = int64_t{time.tv_sec} + UNIX_EPOCH_SECONDS;
    if (seconds < 0) {
        return FromTicks(0);
    }
    return FromTicks(static_cast<uint64_t>(seconds) * TICKS_PER_SECOND + static_cast<uint64_t>(time.tv_nsec) / 100);
}

struct timespec TimespecFromFileTime(const FILETIME &time)
{
    // Times beyond 2^63 ticks are treated as the largest one.
    uint64_t ticks = ToTicks(time);
    if (ticks > INT64_MAX) {
        ticks = INT64_MAX;
    }
    struct timespec result;
    result.tv_sec = static_cast<time_t>(static_cast<int64_t>(ticks / TICKS_PER_SECOND) - UNIX_EPOCH_SECONDS);
    result.tv_nsec = static_cast<long>(ticks % TICKS_PER_SECOND) * 100;
    return result;
}

} // namespace Host

BOOL DosDateTimeToFileTime(WORD dosDate, WORD dosTime, LPFILETIME fileTime)
{
    // Date: bits 15-9 years since 1980, 8-5 month, 4-0 day.
    // Time: bits 15-11 hour, 10-5 minute, 4-0 seconds / 2.
    const int year = DOS_FIRST_YEAR + (dosDate >> 9);
    const int month = (dosDate >> 5) & 0x0F;
    const int day = dosDate & 0x1F;
    const int hour = dosTime >> 11;
    const int minute = (dosTime >> 5) & 0x3F;
    const int second = (dosTime & 0x1F) * 2;
    // Rejections leave *fileTime alone and, like Windows, set no error.
    if (fileTime == nullptr || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return FALSE;
    }
    const int64_t days =
        DaysBeforeYear(year) + DAYS_BEFORE_MONTH[month - 1] + (month > 2 && IsLeapYear(year) ? 1 : 0) + day - 1;
    const int64_t seconds = ((days * 24 + hour) * 60 + minute) * 60 + second;
    *fileTime = FromTicks(static_cast<uint64_t>(seconds) * TICKS_PER_SECOND);
    return TRUE;
}

BOOL FileTimeToDosDateTime(const FILETIME *fileTime, WORD *dosDate, WORD *dosTime)
{
    if (fileTime == nullptr || dosDate == nullptr || dosTime == nullptr) {
        return Host::Fail(ERROR_INVALID_PARAMETER);
    }
    const uint64_t ticks = ToTicks(*fileTime);
    const uint64_t first = static_cast<uint64_t>(DaysBeforeYear(DOS_FIRST_YEAR)) * TICKS_PER_DAY;
    const uint64_t end = static_cast<uint64_t>(DaysBeforeYear(DOS_LAST_YEAR + 1)) * TICKS_PER_DAY;
    if (ticks < first || ticks >= end) {
        return Host::Fail(ERROR_INVALID_PARAMETER);
    }

    int64_t days = static_cast<int64_t>(ticks / TICKS_PER_DAY) - DaysBeforeYear(DOS_FIRST_YEAR);
    const int64_t secondOfDay = static_cast<int64_t>((ticks % TICKS_PER_DAY) / TICKS_PER_SECOND);
    int year = DOS_FIRST_YEAR;
    while (days >= (IsLeapYear(year) ? 366 : 365)) {
        days -= IsLeapYear(year++) ? 366 : 365;
    }
    int month = 1;
    while (days >= DaysInMonth(year, month)) {
        days -= DaysInMonth(year, month++);
    }
    *dosDate = static_cast<WORD>(((year - DOS_FIRST_YEAR) << 9) | (month << 5) | (days + 1));
    *dosTime =
        static_cast<WORD>(((secondOfDay / 3600) << 11) | ((secondOfDay / 60 % 60) << 5) | (secondOfDay % 60 / 2));
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME *localTime, LPFILETIME utcTime)
{
    if (localTime == nullptr || utcTime == nullptr) {
        return Host::Fail(ERROR_INVALID_PARAMETER);
    }
    // Unsigned arithmetic wraps at the ends of the range, as Windows' does.
    *utcTime = FromTicks(ToTicks(*localTime) - static_cast<uint64_t>(CurrentLocalOffset()));
    return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME *utcTime, LPFILETIME localTime)
{
    if (utcTime == nullptr || localTime == nullptr) {
        return Host::Fail(ERROR_INVALID_PARAMETER);
    }
    *localTime = FromTicks(ToTicks(*utcTime) + static_cast<uint64_t>(CurrentLocalOffset()));
    return TRUE;
}
