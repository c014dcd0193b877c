// CStrBufW and CStrBufA: the growth figures, the verified length and its
// exception, the conversions, and the refusal of sizes beyond 32 bits.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "support/StrBuf.h"
#include "support/WideText.h"

namespace {

using WString = std::basic_string<WCHAR>;

// Buffers are never copied or moved, and take no narrow or integer text.
static_assert(!std::is_copy_constructible_v<CStrBufW> && !std::is_move_constructible_v<CStrBufW>);
static_assert(!std::is_copy_assignable_v<CStrBufW> && !std::is_move_assignable_v<CStrBufW>);
static_assert(!std::is_copy_constructible_v<CStrBufA> && !std::is_move_constructible_v<CStrBufA>);
static_assert(!std::is_constructible_v<CStrBufW, const char *>);
static_assert(!std::is_constructible_v<CStrBufW, int>);

template <typename Buffer, typename Argument, typename = void>
struct CanAppend : std::false_type {};
template <typename Buffer, typename Argument>
struct CanAppend<Buffer, Argument, std::void_t<decltype(std::declval<Buffer &>().Append(std::declval<Argument>()))>>
    : std::true_type {};
template <typename Buffer, typename Argument, typename = void>
struct CanAssign : std::false_type {};
template <typename Buffer, typename Argument>
struct CanAssign<Buffer, Argument, std::void_t<decltype(std::declval<Buffer &>().Assign(std::declval<Argument>()))>>
    : std::true_type {};
static_assert(CanAppend<CStrBufW, const WCHAR *>::value && CanAssign<CStrBufW, const WCHAR *>::value);
static_assert(!CanAppend<CStrBufW, const char *>::value && !CanAssign<CStrBufW, const char *>::value);
static_assert(!CanAppend<CStrBufW, int>::value && !CanAssign<CStrBufW, int>::value);
static_assert(!CanAppend<CStrBufW, char>::value);

WString Repeat(WCHAR ch, size_t count)
{
    return WString(count, ch);
}

// Catches the lost-terminator exception; "" when nothing was thrown.
template <typename Action>
std::string ThrownMessage(Action action)
{
    try {
        action();
    } catch (const char *message) {
        return message;
    }
    return "";
}

TEST(CStrBufW, ConstructionRequestsAtLeast300AndDoubles)
{
    CStrBufW empty;
    EXPECT_EQ(empty.Capacity, 600u);
    EXPECT_EQ(empty.Length(), 0u);
    struct Case {
        size_t length;
        uint32_t capacity;
    } cases[] = {{0, 600}, {299, 600}, {300, 600}, {301, 602}, {700, 1400}};
    for (const Case &c : cases) {
        const WString text = Repeat(WIDE('x'), c.length);
        CStrBufW buffer(text.c_str());
        EXPECT_EQ(buffer.Capacity, c.capacity) << "length " << c.length;
        EXPECT_EQ(WString(buffer.Data), text) << "length " << c.length;
    }
}

TEST(CStrBufW, ReserveGrowsOnlyWhenTheRequestReachesCapacity)
{
    CStrBufW buffer(WIDE("keep"));
    buffer.Reserve(599);
    EXPECT_EQ(buffer.Capacity, 600u);
    buffer.Reserve(600);
    EXPECT_EQ(buffer.Capacity, 1200u) << "the request is doubled, not the old capacity";
    EXPECT_EQ(WString(buffer.Data), WIDE("keep"));
    buffer.Reserve(10);
    EXPECT_EQ(buffer.Capacity, 1200u) << "capacity never shrinks";
}

TEST(CStrBufW, GrowthKeepsATextShortenedInPlace)
{
    CStrBufW buffer(WIDE("0123456789"));
    buffer.Data[3] = 0;
    EXPECT_EQ(buffer.Length(), 3u);
    buffer.Reserve(1000);
    EXPECT_EQ(buffer.Capacity, 2000u);
    EXPECT_EQ(WString(buffer.Data), WIDE("012"));
}

TEST(CStrBufW, AssignCopiesUpToTheCountOrTheTerminator)
{
    CStrBufW buffer;
    const WString long700 = Repeat(WIDE('a'), 700);
    buffer.Assign(long700.c_str());
    EXPECT_EQ(buffer.Capacity, 1400u);
    EXPECT_EQ(buffer.Length(), 700u);

    buffer.Assign(WIDE("abc"), 10);
    EXPECT_EQ(WString(buffer.Data), WIDE("abc")) << "a count beyond the text stores the whole text";
    for (int i = 3; i <= 10; ++i) {
        EXPECT_EQ(buffer.Data[i], 0) << "index " << i << " is zero-filled up to the count";
    }
    buffer.Assign(WIDE("abcdef"), 2);
    EXPECT_EQ(WString(buffer.Data), WIDE("ab"));

    CStrBufW other(WIDE("other"));
    buffer.Assign(other);
    EXPECT_EQ(WString(buffer.Data), WIDE("other"));
    buffer.Assign(buffer);
    EXPECT_EQ(WString(buffer.Data), WIDE("other")) << "assigning a buffer to itself";
}

TEST(CStrBufW, AppendGrowsForTheCombinedLength)
{
    CStrBufW buffer(WIDE("12345"));
    const WString text600 = Repeat(WIDE('y'), 600);
    buffer.Append(text600.c_str());
    EXPECT_EQ(buffer.Capacity, 1210u);
    EXPECT_EQ(buffer.Length(), 605u);
    EXPECT_EQ(WString(buffer.Data), WIDE("12345") + text600);

    CStrBufW small(WIDE("ab"));
    CStrBufW tail(WIDE("cd"));
    small.Append(tail);
    EXPECT_EQ(WString(small.Data), WIDE("abcd"));
    small.Append(small);
    EXPECT_EQ(WString(small.Data), WIDE("abcdabcd")) << "appending a buffer to itself";

    // Self-append across a growth reads the text from the new block.
    const WString text400 = Repeat(WIDE('z'), 400);
    CStrBufW grows(text400.c_str());
    grows.Append(grows);
    EXPECT_EQ(grows.Capacity, 1600u);
    EXPECT_EQ(WString(grows.Data), text400 + text400);
}

TEST(CStrBufW, ReplaceStopsAtTheTerminator)
{
    CStrBufW buffer(WIDE("a/b/c"));
    buffer.Replace(WIDE('/'), WIDE('\\'));
    EXPECT_EQ(WString(buffer.Data), WIDE("a\\b\\c"));

    buffer.Assign(WIDE("x/y//z"));
    buffer.Data[3] = 0; // "x/y", with "/z" left behind the terminator
    buffer.Replace(WIDE('/'), WIDE('\\'));
    EXPECT_EQ(WString(buffer.Data), WIDE("x\\y"));
    EXPECT_EQ(buffer.Data[4], WIDE('/'));
}

TEST(CStrBufW, LostTerminatorThrowsAndChangesNothing)
{
    CStrBufW buffer(WIDE("text"));
    for (uint32_t i = 0; i < buffer.Capacity; ++i) {
        buffer.Data[i] = WIDE('x');
    }
    WCHAR *const block = buffer.Data;
    EXPECT_EQ(ThrownMessage([&] { buffer.Length(); }), STRBUF_NO_TERMINATOR);
    EXPECT_EQ(ThrownMessage([&] { buffer.Reserve(5000); }), STRBUF_NO_TERMINATOR);
    EXPECT_EQ(ThrownMessage([&] { buffer.Append(WIDE("more")); }), STRBUF_NO_TERMINATOR);
    EXPECT_EQ(ThrownMessage([&] { buffer.Replace(WIDE('x'), WIDE('y')); }), STRBUF_NO_TERMINATOR);
    CStrBufW target;
    EXPECT_EQ(ThrownMessage([&] { target.Assign(buffer); }), STRBUF_NO_TERMINATOR);
    EXPECT_EQ(buffer.Data, block);
    EXPECT_EQ(buffer.Capacity, 600u);
    EXPECT_EQ(std::string(STRBUF_NO_TERMINATOR), "The string has no terminating null character!");

    buffer.Data[599] = 0; // a zero in the last slot is a valid terminator
    EXPECT_EQ(buffer.Length(), 599u);
}

TEST(CStrBufW, BlockBeyond32BitsFailsAsOutOfMemory)
{
    CStrBufW buffer(WIDE("kept"));
    // 2 * 0x40000000 characters of 2 bytes is 2^32 bytes: one past the limit.
    EXPECT_THROW(buffer.Reserve(0x40000000), std::bad_alloc);
    EXPECT_THROW(buffer.Reserve(0xFFFFFFFF), std::bad_alloc);
    EXPECT_EQ(buffer.Capacity, 600u);
    EXPECT_EQ(WString(buffer.Data), WIDE("kept"));
}

TEST(CStrBufW, AssignMultiByteConvertsOrLeavesEmptyText)
{
    CStrBufW buffer(WIDE("previous"));
    EXPECT_EQ(WString(buffer.AssignMultiByte(CP_UTF8, "h\xC3\xA9 \xE2\x82\xAC")), WIDE("h\u00E9 \u20AC"));
    EXPECT_EQ(WString(buffer.AssignMultiByte(1252, "\x80\xE9")), WIDE("\u20AC\u00E9"));
    EXPECT_EQ(WString(buffer.AssignMultiByte(CP_UTF8, "")), WIDE(""));

    buffer.Assign(WIDE("previous"));
    EXPECT_EQ(buffer.AssignMultiByte(12345, "text"), buffer.Data);
    EXPECT_EQ(buffer.Data[0], 0) << "a refused conversion leaves the empty text, not the previous one";

    // 599 bytes give 599 characters plus terminator: exactly the default block.
    const std::string bytes(599, '\xE9');
    CStrBufW fits;
    fits.AssignMultiByte(1252, bytes.c_str());
    EXPECT_EQ(fits.Capacity, 600u);
    EXPECT_EQ(fits.Length(), 599u);
    EXPECT_EQ(fits.Data[598], WIDE('\u00E9'));
}

TEST(CStrBufA, DefaultAndGrowthFigures)
{
    CStrBufA buffer;
    EXPECT_EQ(buffer.Capacity, 600u);
    EXPECT_EQ(buffer.Length(), 0u);
    buffer.Reserve(600);
    EXPECT_EQ(buffer.Capacity, 1200u);
    EXPECT_THROW(buffer.Reserve(0x80000000), std::bad_alloc);
    EXPECT_EQ(buffer.Capacity, 1200u);

    std::memset(buffer.Data, 'x', buffer.Capacity);
    EXPECT_EQ(ThrownMessage([&] { buffer.Length(); }), STRBUF_NO_TERMINATOR);
}

TEST(CStrBufA, AssignUtf8ReservesFourBytesPerCharacter)
{
    const WString text149 = Repeat(WIDE('a'), 149);
    const WString text150 = Repeat(WIDE('a'), 150);
    CStrBufA buffer;
    buffer.AssignUtf8(text149.c_str());
    EXPECT_EQ(buffer.Capacity, 600u);
    EXPECT_EQ(buffer.Length(), 149u);
    buffer.AssignUtf8(text150.c_str());
    EXPECT_EQ(buffer.Capacity, 1200u) << "grows for 4 x 150 however short the UTF-8 form is";
    EXPECT_EQ(buffer.Length(), 150u);
}

TEST(CStrBufA, AssignUtf8ConvertsEveryPlane)
{
    CStrBufA buffer;
    const WCHAR mixed[] = {WIDE('h'), 0xE9, 0x20AC, 0xD83D, 0xDE00, 0};
    EXPECT_EQ(std::string(buffer.AssignUtf8(mixed)), "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    const WCHAR lone[] = {WIDE('a'), 0xD800, 0};
    EXPECT_EQ(std::string(buffer.AssignUtf8(lone)), "a\xEF\xBF\xBD") << "a lone surrogate is replaced, not refused";
    EXPECT_EQ(std::string(buffer.AssignUtf8(WIDE(""))), "");
}

} // namespace
