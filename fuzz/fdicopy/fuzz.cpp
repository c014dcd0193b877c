// Fuzz target: the whole of FDICopy over cabinets held in memory.
//
// The input is one cabinet, or two joined by the 8 bytes "\xFFNEXTCAB":
// the second answers every other name FDI opens (the next cabinet of a set,
// or an earlier one when a folder continues from it). Files whose name
// starts with an odd byte are skipped, the rest written to a sink that only
// counts. After FDICopy and FDIDestroy every block must have been freed and
// every handle closed; a leak or a stray close aborts, which the fuzzer
// reports like a crash.
//
// Seeds: the test corpus (tests/corpus, read in place; MANIFEST.tsv there
// gives each cabinet's origin) and, in corpus/, only what adds coverage to
// it: built-*, made with the test cabinet builder (tests/testlib/CabBuilder):
// stored and MSZIP folders, reserves, and a two-cabinet set joined by the
// marker, in both orders.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "fdi/FdiApi.h"

namespace {

struct Memory {
    const uint8_t *Data;
    size_t Size;
};

Memory g_Cabinets[2];
std::map<intptr_t, size_t> g_Positions; // open cabinet handle -> position
std::map<intptr_t, int> g_Which;        // open cabinet handle -> cabinet
intptr_t g_NextHandle;
long g_LiveBlocks;
int g_NextCabinetCalls;

constexpr intptr_t OUTPUT_HANDLE = 0x7777;

void Fail(const char *what)
{
    std::fprintf(stderr, "fdicopy fuzz: %s\n", what);
    std::abort();
}

FNALLOC(Alloc)
{
    void *block = std::malloc(cb ? cb : 1);
    g_LiveBlocks += block != nullptr;
    return block;
}

FNFREE(Free)
{
    g_LiveBlocks -= pv != nullptr;
    std::free(pv);
}

FNOPEN(Open)
{
    intptr_t handle = ++g_NextHandle;
    g_Positions[handle] = 0;
    g_Which[handle] = std::strcmp(pszFile, "f\\a.cab") == 0 ? 0 : 1;
    if (g_Cabinets[g_Which[handle]].Data == nullptr) {
        g_Positions.erase(handle);
        g_Which.erase(handle);
        return -1;
    }
    return handle;
}

FNREAD(Read)
{
    auto found = g_Positions.find(hf);
    if (found == g_Positions.end()) {
        Fail("read of a handle that is not open");
    }
    const Memory &cabinet = g_Cabinets[g_Which[hf]];
    size_t position = found->second;
    size_t count = position < cabinet.Size ? cabinet.Size - position : 0;
    count = count < cb ? count : cb;
    std::memcpy(pv, cabinet.Data + position, count);
    found->second += count;
    return uint32_t(count);
}

FNWRITE(Write)
{
    if (hf != OUTPUT_HANDLE || cb > 32768) {
        Fail("write to a handle FDI was not given, or too large");
    }
    return cb;
}

FNCLOSE(Close)
{
    if (hf == OUTPUT_HANDLE) {
        return 0;
    }
    if (g_Positions.erase(hf) != 1) {
        Fail("close of a handle that is not open");
    }
    g_Which.erase(hf);
    return 0;
}

FNSEEK(Seek)
{
    auto found = g_Positions.find(hf);
    if (found == g_Positions.end() || (seektype != SEEK_SET && seektype != SEEK_CUR)) {
        Fail("seek of a handle that is not open, or from the end");
    }
    int64_t target = (seektype == SEEK_SET ? 0 : int64_t(found->second)) + dist;
    if (target < 0) {
        return -1;
    }
    found->second = size_t(target);
    return int32_t(target);
}

FNFDINOTIFY(Notify)
{
    switch (fdint) {
    case fdintCOPY_FILE: return (pfdin->psz1[0] & 1) ? 0 : OUTPUT_HANDLE;
    case fdintNEXT_CABINET:
        // Offer the second cabinet once, then give up.
        return (pfdin->fdie != FDIERROR_NONE || ++g_NextCabinetCalls > 64) ? -1 : 0;
    default: return 0;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const uint8_t MARKER[8] = {0xFF, 'N', 'E', 'X', 'T', 'C', 'A', 'B'};
    g_Cabinets[0] = Memory{data, size};
    g_Cabinets[1] = Memory{nullptr, 0};
    for (size_t i = 0; i + sizeof(MARKER) <= size; ++i) {
        if (std::memcmp(data + i, MARKER, sizeof(MARKER)) == 0) {
            g_Cabinets[0].Size = i;
            g_Cabinets[1] = Memory{data + i + sizeof(MARKER), size - i - sizeof(MARKER)};
            break;
        }
    }
    g_NextHandle = 100;
    g_LiveBlocks = 0;
    g_NextCabinetCalls = 0;
    ERF erf{};
    HFDI context = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &erf);
    if (context == nullptr) {
        Fail("FDICreate failed");
    }
    char name[] = "a.cab", path[] = "f\\";
    FDICopy(context, name, path, 0, Notify, nullptr, nullptr);
    FDICABINETINFO info;
    intptr_t handle = Open(const_cast<char *>("f\\a.cab"), 0x8000, 0x100);
    FDIIsCabinet(context, handle, &info);
    Close(handle);
    FDIDestroy(context);
    if (g_LiveBlocks != 0) {
        Fail("blocks not freed");
    }
    if (!g_Positions.empty()) {
        Fail("cabinet handles left open");
    }
    return 0;
}
