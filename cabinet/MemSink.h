// CMemSink: the in-memory output buffer of the extractor.
//
// In in-memory mode every file is decompressed into this buffer instead of a
// file on disk. It holds one file at a time: the extractor resets it for each
// file, and the client reads the bytes in its OnFileDone callback. The buffer
// is reused while files do not grow.
#pragma once

#include <cstdint>

namespace Cabinet {

class CMemSink {
public:
    // No buffer, Capacity() 0, Used() 0.
    CMemSink() = default;
    ~CMemSink() { Release(); }
    CMemSink(const CMemSink &) = delete;
    CMemSink &operator=(const CMemSink &) = delete;

    // Makes the sink empty and able to take size bytes. A larger buffer than
    // needed is kept as it is; a smaller one is replaced by a block of
    // size + 2 bytes. The contents are not cleared. A negative size only
    // empties the sink.
    void Reset(int32_t size);
    // Appends count bytes if they fit into Capacity(); otherwise copies
    // nothing and returns false.
    bool Append(const void *bytes, uint32_t count);
    // Frees the buffer; the sink is as after construction.
    void Release();

    // The file held: the first Used() bytes of Buffer(). Buffer() is null
    // while nothing is allocated.
    const uint8_t *Buffer() const { return m_Buffer; }
    int32_t Capacity() const { return m_Capacity; }
    int32_t Used() const { return m_Used; }

private:
    uint8_t *m_Buffer = nullptr; // Capacity + 2 bytes, owned
    int32_t m_Capacity = 0;      // bytes the sink accepts
    int32_t m_Used = 0;          // bytes appended since the last Reset
};

} // namespace Cabinet
