// Growable zero-terminated text buffers: CStrBufW (UTF-16) and CStrBufA (UTF-8).
//
// A buffer keeps no length of its own: its text is whatever precedes the
// first zero in the block at Data, and users may shorten or empty it by
// storing a zero into Data in place. The block always holds a zero below
// Capacity. Capacity counts characters (CStrBufW) or bytes (CStrBufA),
// terminator included, is at least 600 after construction and never
// decreases; the block is replaced only by a larger one and released only
// by the destructor.
//
// Growth rule, Reserve(n) with n counting characters without the terminator:
// nothing happens while n < Capacity; otherwise a new block of 2 * n
// characters replaces the old one and receives only the live text and its
// terminator. The doubling applies to the request, not to the old capacity.
// A block whose size in bytes would not fit in 32 bits is never requested
// at a smaller size: the request throws std::bad_alloc, as does running out
// of memory, and the buffer keeps its old block, text and Capacity.
//
// A buffer's own Length is verified: when the block holds no zero below
// Capacity it throws STRBUF_NO_TERMINATOR, a const char *. That and the
// allocator's std::bad_alloc are the only exceptions; nothing catches them.
//
// Text arguments (const WCHAR * / const char *) must be non-null and
// zero-terminated; their length is counted without any bound. A text
// argument must not point into the destination buffer's own block, since a
// growth releases that block before the copy. Buffers are used by one
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Win32.h"

// The request every constructor makes, giving a block of 600 characters.
constexpr uint32_t STRBUF_INITIAL_REQUEST = 300;

// The message thrown (as const char *) by Length when the terminator is lost.
inline constexpr char STRBUF_NO_TERMINATOR[] = "The string has no terminating null character!";

// Wide text buffer: the form of every path handed to the platform.
class CStrBufW {
public:
    WCHAR *Data;       // owned block of Capacity characters
    uint32_t Capacity; // characters in the block, terminator included

    // An empty text in a block of 600 characters.
    CStrBufW();
    // A copy of text in a block of 2 * max(length, 300) characters.
    explicit CStrBufW(const WCHAR *text);
    ~CStrBufW();

    CStrBufW(const CStrBufW &) = delete;
    CStrBufW &operator=(const CStrBufW &) = delete;
    CStrBufW(CStrBufW &&) = delete;
    CStrBufW &operator=(CStrBufW &&) = delete;
    // Narrow text has to name its code page (AssignMultiByte), and a 0 or
    // NULL would pass as a null text pointer: refuse both at compile time.
    explicit CStrBufW(const char *) = delete;
    explicit CStrBufW(int) = delete;
    void Assign(const char *) = delete;
    void Assign(const char *, uint32_t) = delete;
    void Assign(int) = delete;
    void Assign(std::nullptr_t) = delete;
    void Append(const char *) = delete;
    void Append(char) = delete;
    void Append(int) = delete;
    void Append(std::nullptr_t) = delete;

    // Makes room for a text of n characters (growth rule above).
    void Reserve(uint32_t n);

    // Characters before the first zero; throws STRBUF_NO_TERMINATOR when
    // no zero lies below Capacity.
    uint32_t Length() const;

    // Reserve(n), then copies at most n characters of text, stopping at its
    // terminator, zero-fills the rest up to index n and stores a zero at n.
    void Assign(const WCHAR *text, uint32_t n);
    // Copies text (Assign of text and its length).
    void Assign(const WCHAR *text);
    // Copies other's text (verifying both lengths); assigning a buffer to
    // itself leaves it unchanged.
    void Assign(const CStrBufW &other);

    // Adds text behind the current text, growing by the growth rule for the
    // combined length.
    void Append(const WCHAR *text);
    // Adds other's text (verifying both lengths); appending a buffer to
    // itself doubles its text.
    void Append(const CStrBufW &other);

    // Each of the first Length characters equal to from becomes to.
    void Replace(WCHAR from, WCHAR to);

    // Converts narrow text of the given code page (65001 UTF-8, 1252, or
    // whatever the platform's MultiByteToWideChar accepts) with flags 0.
    // The buffer is emptied first; when the platform refuses the conversion
    // the text stays empty and no error is recorded. Returns Data.
    WCHAR *AssignMultiByte(UINT codePage, const char *text);
    // The same with MB_ERR_INVALID_CHARS: a text the code page cannot
    // represent (invalid UTF-8) gives false and an empty buffer instead of
    // U+FFFD in its place.
    bool AssignMultiByteStrict(UINT codePage, const char *text);

private:
    bool AssignConverted(UINT codePage, DWORD flags, const char *text);
};

// Narrow (UTF-8) text buffer: the form of names handed to the decompressor.
class CStrBufA {
public:
    char *Data;        // owned block of Capacity bytes
    uint32_t Capacity; // bytes in the block, terminator included

    // An empty text in a block of 600 bytes.
    CStrBufA();
    ~CStrBufA();

    CStrBufA(const CStrBufA &) = delete;
    CStrBufA &operator=(const CStrBufA &) = delete;
    CStrBufA(CStrBufA &&) = delete;
    CStrBufA &operator=(CStrBufA &&) = delete;

    // Makes room for a text of n bytes (growth rule above).
    void Reserve(uint32_t n);

    // Bytes before the first zero; throws STRBUF_NO_TERMINATOR when no zero
    // lies below Capacity.
    uint32_t Length() const;

    // Converts wide text to UTF-8 after reserving 4 bytes per character, so
    // the platform is called once. The buffer is emptied first; when the
    // platform refuses the conversion the text stays empty. Returns Data.
    char *AssignUtf8(const WCHAR *text);
};
