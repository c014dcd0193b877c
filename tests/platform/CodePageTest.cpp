// Conformance of code-page conversion: every byte of 1252, UTF-8 including
// malformed input (Windows' U+FFFD counts, taken from Wine), lone
// surrogates, and the size and argument rules of both functions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Win32.h"

namespace {

using Units = std::vector<unsigned>;

// Converts bytes (length given, no terminator) and returns the UTF-16
// units, or {0xDEAD, error} when the call fails.
Units Decode(UINT codePage, const std::string &bytes, DWORD flags = 0)
{
    std::vector<WCHAR> out(bytes.size() + 8);
    SetLastError(0);
    const int count = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(),
                                          static_cast<int>(out.size()));
    if (count == 0) {
        return {0xDEAD, GetLastError()};
    }
    return Units(out.begin(), out.begin() + count);
}

std::string Encode(const std::vector<WCHAR> &units, DWORD flags, DWORD *error)
{
    char out[64];
    SetLastError(0);
    const int count =
        WideCharToMultiByte(CP_UTF8, flags, units.data(), static_cast<int>(units.size()), out, 64, nullptr, nullptr);
    *error = GetLastError();
    return std::string(out, static_cast<size_t>(count));
}

::testing::AssertionResult DecodesTo(const std::string &bytes, const Units &expected)
{
    const Units actual = Decode(CP_UTF8, bytes);
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    auto result = ::testing::AssertionFailure() << "got";
    for (unsigned unit : actual) {
        result << ' ' << std::hex << unit;
    }
    return result;
}

TEST(CodePage1252, EveryByteMapsAsOnWindows)
{
    // 0x80-0x9F differ from Latin-1; the five bytes 1252 leaves undefined map
    // to the C1 control of the same value. (Table from Python's cp1252 codec.)
    static const unsigned HIGH_CONTROLS[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    std::string all;
    for (int byte = 0; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
    }
    const Units units = Decode(1252, all);
    ASSERT_EQ(units.size(), 256u);
    for (unsigned byte = 0; byte < 256; ++byte) {
        const unsigned expected = byte >= 0x80 && byte < 0xA0 ? HIGH_CONTROLS[byte - 0x80] : byte;
        EXPECT_EQ(units[byte], expected) << "byte " << std::hex << byte;
    }
    // No byte is invalid in 1252, so the strict flag changes nothing.
    EXPECT_EQ(Decode(1252, all, MB_ERR_INVALID_CHARS), units);
}

TEST(CodePageUtf8, WellFormedSequencesDecode)
{
    EXPECT_TRUE(DecodesTo("A", {0x41}));
    EXPECT_TRUE(DecodesTo("\xC2\x80", {0x80}));                   // smallest two-byte form
    EXPECT_TRUE(DecodesTo("\xC3\xA9", {0xE9}));                   // é
    EXPECT_TRUE(DecodesTo("\xDF\xBF", {0x7FF}));                  // largest two-byte form
    EXPECT_TRUE(DecodesTo("\xE0\xA0\x80", {0x800}));              // smallest three-byte form
    EXPECT_TRUE(DecodesTo("\xED\x9F\xBF", {0xD7FF}));             // just below the surrogates
    EXPECT_TRUE(DecodesTo("\xEF\xBF\xBF", {0xFFFF}));             // a noncharacter still decodes
    EXPECT_TRUE(DecodesTo("\xF0\x90\x80\x80", {0xD800, 0xDC00})); // U+10000
    EXPECT_TRUE(DecodesTo("\xF0\x9F\x98\x80", {0xD83D, 0xDE00})); // U+1F600
    EXPECT_TRUE(DecodesTo("\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF})); // U+10FFFF
}

TEST(CodePageUtf8, MalformedSequencesBecomeReplacementCharacters)
{
    const unsigned R = 0xFFFD;
    EXPECT_TRUE(DecodesTo("\x80", {R})); // stray continuation byte
    EXPECT_TRUE(DecodesTo("\xFF", {R})); // never a lead byte
    EXPECT_TRUE(DecodesTo("\xFE\xFF", {R, R}));
    EXPECT_TRUE(DecodesTo("\xC0\x80", {R, R})); // C0 and C1 are never valid
    EXPECT_TRUE(DecodesTo("\xC1\xBF", {R, R}));
    EXPECT_TRUE(DecodesTo("\xF5\x80", {R, R})); // F5-FF are never valid
    // Overlong, surrogate and too-large forms are caught at the first
    // continuation byte, which goes with the lead into one U+FFFD.
    EXPECT_TRUE(DecodesTo("\xE0\x80\x80", {R, R}));
    EXPECT_TRUE(DecodesTo("\xE0\x9F\xBF", {R, R}));
    EXPECT_TRUE(DecodesTo("\xED\xA0\x80", {R, R})); // encoded surrogate D800
    EXPECT_TRUE(DecodesTo("\xF0\x80\x80\x80", {R, R, R}));
    EXPECT_TRUE(DecodesTo("\xF4\x90\x80\x80", {R, R, R})); // 110000
    // A sequence cut short is one U+FFFD; the byte that cut it is kept.
    EXPECT_TRUE(DecodesTo("\xE2\x82", {R}));
    EXPECT_TRUE(DecodesTo("\xE2\x82"
                          "A",
                          {R, 0x41}));
    EXPECT_TRUE(DecodesTo("\xF0\x9F\x98"
                          "A",
                          {R, 0x41}));
    EXPECT_TRUE(DecodesTo("A\xC3", {0x41, R}));
}

TEST(CodePageUtf8, StrictFlagRefusesMalformedInputOnly)
{
    EXPECT_EQ(Decode(CP_UTF8, "ok\xC3\xA9", MB_ERR_INVALID_CHARS), (Units{0x6F, 0x6B, 0xE9}));
    for (const char *bad : {"\x80", "\xC0\x80", "\xED\xA0\x80", "\xE2\x82", "A\xC3"}) {
        EXPECT_EQ(Decode(CP_UTF8, bad, MB_ERR_INVALID_CHARS), (Units{0xDEAD, ERROR_NO_UNICODE_TRANSLATION})) << bad;
    }
}

TEST(CodePageUtf8, LoneSurrogatesEncodeAsReplacementCharacter)
{
    struct Case {
        const char *what;
        std::vector<WCHAR> units;
        std::string expected;
    } cases[] = {
        {"pair", {0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {"high between letters",
         {WIDE('a'), 0xD800, WIDE('b')},
         "a\xEF\xBF\xBD"
         "b"},
        {"low alone", {0xDC00}, "\xEF\xBF\xBD"},
        {"high at the end", {0xD83D}, "\xEF\xBF\xBD"},
        {"low before high", {0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"U+FFFF", {0xFFFF}, "\xEF\xBF\xBF"},
        {"e acute", {0xE9}, "\xC3\xA9"},
    };
    for (const Case &c : cases) {
        DWORD error;
        EXPECT_EQ(Encode(c.units, 0, &error), c.expected) << c.what;
        EXPECT_EQ(error, 0u) << c.what;
    }
    DWORD error;
    EXPECT_EQ(Encode({0xD800}, WC_ERR_INVALID_CHARS, &error), "");
    EXPECT_EQ(error, DWORD{ERROR_NO_UNICODE_TRANSLATION});
}

TEST(CodePageSizes, TerminatorSizeQueryAndShortBuffer)
{
    // A length of -1 (Windows takes any negative one alike) converts and
    // counts the terminator.
    WCHAR wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, wide, 8), 3);
    EXPECT_EQ(wide[2], 0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -2, wide, 8), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4) << "size query";

    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 2), 0);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});

    char narrow[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, WIDE("\u20AC"), -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, WIDE("\u20AC"), -1, narrow, 8, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(narrow), "\xE2\x82\xAC");
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, WIDE("\u20AC"), -1, narrow, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
}

TEST(CodePageSizes, BadArgumentsAreRefused)
{
    WCHAR wide[4];
    struct Case {
        const char *what;
        UINT codePage;
        const char *source;
        int sourceLength;
        int targetLength;
    } cases[] = {
        {"empty source length", CP_UTF8, "ab", 0, 4},
        {"null source", CP_UTF8, nullptr, -1, 4},
        {"negative target length", CP_UTF8, "ab", -1, -1},
        {"unknown code page", 12345, "ab", -1, 4},
    };
    for (const Case &c : cases) {
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(c.codePage, 0, c.source, c.sourceLength, wide, c.targetLength), 0) << c.what;
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER}) << c.what;
    }
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 1, WIDE("a"), -1, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_FLAGS});
}

} // namespace
