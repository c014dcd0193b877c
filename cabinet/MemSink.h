// CMemSink: the in-memory output buffer of the extractor.
//
// In in-memory mode every file is decompressed into this buffer instead of a
// file on disk. It holds one file at a time: the extractor resets it for each
// file, and the client reads the bytes in its OnFileDone callback. Memory
// follows the bytes that arrive, not the size a header declares: the block
// grows as data is appended (at least doubling, at most to the declared
// size) and is reused while files do not grow.
#pragma once

#include <cstdint>

namespace Cabinet {

enum class SinkAppend : uint8_t {
    Appended,
    Overflow,    // the bytes would pass Capacity(); nothing copied
    OutOfMemory, // the block could not grow; nothing copied
};

class CMemSink {
public:
    // No buffer, Capacity() 0, Used() 0.
    CMemSink() = default;
    ~CMemSink() { Release(); }
    CMemSink(const CMemSink &) = delete;
    CMemSink &operator=(const CMemSink &) = delete;

    // Makes the sink empty and able to take size bytes; allocates nothing.
    // The contents are not cleared. A negative size only empties the sink
    // and lets it take nothing.
    void Reset(int32_t size);
    // Appends count bytes if they fit into Capacity(), growing the block as
    // needed. Never throws.
    SinkAppend Append(const void *bytes, uint32_t count);
    // Frees the buffer; the sink is as after construction.
    void Release();

    // The file held: the first Used() bytes of Buffer(). Buffer() is null
    // while nothing is allocated.
    const uint8_t *Buffer() const { return m_Buffer; }
    int32_t Capacity() const { return m_Capacity; }
    int32_t Used() const { return m_Used; }
    // Bytes the block holds now, two spare bytes behind them not counted.
    uint32_t Allocated() const { return m_Allocated; }

private:
    uint8_t *m_Buffer = nullptr; // m_Allocated + 2 bytes, owned
    uint32_t m_Allocated = 0;
    int32_t m_Capacity = 0; // bytes the sink accepts
    int32_t m_Used = 0;     // bytes appended since the last Reset
};

} // namespace Cabinet
