// Growable zero-terminated text buffers: CStrBufW (UTF-16) and CStrBufA (UTF-8).
#include "support/StrBuf.h"

#include <cassert>
#include <climits>
#include <cstring>
#include <new>

#include "support/WideText.h"

namespace {

// The verified length shared by both buffer classes.
template <typename Char>
uint32_t VerifiedLength(const Char *data, uint32_t capacity)
{
    for (uint32_t i = 0; i < capacity; ++i) {
        if (data[i] == 0) {
            return i;
        }
    }
    throw STRBUF_NO_TERMINATOR;
}

// The growth rule shared by both buffer classes. The request is 64-bit so
// that sums and multiples computed by callers cannot wrap before the check.
template <typename Char>
void GrowBlock(Char *&data, uint32_t &capacity, uint64_t request)
{
    if (request < capacity) {
        return;
    }
    const uint64_t newCapacity = 2 * request;
    if (newCapacity * sizeof(Char) > UINT32_MAX) {
        throw std::bad_alloc();
    }
    assert(newCapacity > 0 && "the constructors always request a non-empty block");

    // Measure first: a lost terminator must throw before anything changes.
    const uint32_t keep = data != nullptr ? VerifiedLength(data, capacity) + 1 : 0;
    Char *block = new Char[newCapacity];
    if (data != nullptr) {
        std::memcpy(block, data, keep * sizeof(Char));
        delete[] data;
    } else {
        block[0] = 0;
    }
    data = block;
    capacity = static_cast<uint32_t>(newCapacity);
}

// The room to offer the platform's conversion functions, whose sizes are int.
int ConversionRoom(uint32_t capacity)
{
    return capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
}

} // namespace

CStrBufW::CStrBufW() : Data(nullptr), Capacity(0)
{
    Reserve(STRBUF_INITIAL_REQUEST);
}

CStrBufW::CStrBufW(const WCHAR *text) : Data(nullptr), Capacity(0)
{
    const size_t length = WideLength(text);
    GrowBlock(Data, Capacity, length > STRBUF_INITIAL_REQUEST ? length : STRBUF_INITIAL_REQUEST);
    std::memcpy(Data, text, (length + 1) * sizeof(WCHAR));
}

CStrBufW::~CStrBufW()
{
    delete[] Data;
}

void CStrBufW::Reserve(uint32_t n)
{
    GrowBlock(Data, Capacity, n);
}

uint32_t CStrBufW::Length() const
{
    return VerifiedLength(Data, Capacity);
}

void CStrBufW::Assign(const WCHAR *text, uint32_t n)
{
    Reserve(n);
    uint32_t i = 0;
    for (; i < n && text[i] != 0; ++i) {
        Data[i] = text[i];
    }
    for (; i <= n; ++i) {
        Data[i] = 0;
    }
}

void CStrBufW::Assign(const WCHAR *text)
{
    const size_t length = WideLength(text);
    if (length > UINT32_MAX) {
        throw std::bad_alloc();
    }
    Assign(text, static_cast<uint32_t>(length));
}

void CStrBufW::Assign(const CStrBufW &other)
{
    const uint32_t length = other.Length();
    Length(); // a lost terminator here throws too, as for every buffer read
    if (&other != this) {
        Assign(other.Data, length);
    }
}

void CStrBufW::Append(const WCHAR *text)
{
    const size_t length = WideLength(text);
    const uint32_t current = Length();
    GrowBlock(Data, Capacity, uint64_t{current} + length);
    std::memcpy(Data + current, text, (length + 1) * sizeof(WCHAR));
}

void CStrBufW::Append(const CStrBufW &other)
{
    const uint32_t length = other.Length();
    const uint32_t current = Length();
    GrowBlock(Data, Capacity, uint64_t{current} + length);
    // Read other.Data only after the growth: when other is this buffer it
    // now names the new block, and the two ranges do not overlap.
    std::memcpy(Data + current, other.Data, length * sizeof(WCHAR));
    Data[current + length] = 0;
}

void CStrBufW::Replace(WCHAR from, WCHAR to)
{
    const uint32_t length = Length();
    for (uint32_t i = 0; i < length; ++i) {
        if (Data[i] == from) {
            Data[i] = to;
        }
    }
}

WCHAR *CStrBufW::AssignMultiByte(UINT codePage, const char *text)
{
    AssignConverted(codePage, 0, text);
    return Data;
}

bool CStrBufW::AssignMultiByteStrict(UINT codePage, const char *text)
{
    return AssignConverted(codePage, MB_ERR_INVALID_CHARS, text);
}

bool CStrBufW::AssignConverted(UINT codePage, DWORD flags, const char *text)
{
    // Empty first, so that a growth has nothing to copy and a refused
    // conversion leaves the empty text rather than the previous one.
    Data[0] = 0;
    // A narrow text never yields more UTF-16 units than it has bytes.
    GrowBlock(Data, Capacity, std::strlen(text));
    if (MultiByteToWideChar(codePage, flags, text, -1, Data, ConversionRoom(Capacity)) == 0) {
        Data[0] = 0;
        return false;
    }
    return true;
}

CStrBufA::CStrBufA() : Data(nullptr), Capacity(0)
{
    Reserve(STRBUF_INITIAL_REQUEST);
}

CStrBufA::~CStrBufA()
{
    delete[] Data;
}

void CStrBufA::Reserve(uint32_t n)
{
    GrowBlock(Data, Capacity, n);
}

uint32_t CStrBufA::Length() const
{
    return VerifiedLength(Data, Capacity);
}

char *CStrBufA::AssignUtf8(const WCHAR *text)
{
    Data[0] = 0;
    // Each UTF-16 unit needs at most 3 UTF-8 bytes; 4 leaves headroom.
    GrowBlock(Data, Capacity, 4 * uint64_t{WideLength(text)});
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, Data, ConversionRoom(Capacity), nullptr, nullptr) == 0) {
        Data[0] = 0;
    }
    return Data;
}
