// CMemSink: in-memory output buffer.
#include "cabinet/MemSink.h"

#include <cstring>
#include <new>

namespace Cabinet {

namespace {

// The first block; smaller files get a block of their own size.
constexpr uint32_t FIRST_BLOCK = 64 * 1024;

} // namespace

void CMemSink::Reset(int32_t size)
{
    m_Capacity = size < 0 ? 0 : size;
    m_Used = 0;
}

SinkAppend CMemSink::Append(const void *bytes, uint32_t count)
{
    // 64-bit sum: a count near 4 GiB must not wrap into range.
    const uint64_t needed = static_cast<uint64_t>(m_Used) + count;
    if (needed > static_cast<uint64_t>(m_Capacity)) {
        return SinkAppend::Overflow;
    }
    if (needed > m_Allocated) {
        uint64_t size = m_Allocated * uint64_t{2};
        size = size < FIRST_BLOCK ? FIRST_BLOCK : size;
        size = size < needed ? needed : size;
        size = size > static_cast<uint64_t>(m_Capacity) ? static_cast<uint64_t>(m_Capacity) : size;
        // Two spare bytes past the data, never written by the sink.
        uint8_t *buffer = new (std::nothrow) uint8_t[static_cast<size_t>(size) + 2];
        if (buffer == nullptr) {
            return SinkAppend::OutOfMemory;
        }
        if (m_Used != 0) {
            std::memcpy(buffer, m_Buffer, static_cast<size_t>(m_Used));
        }
        delete[] m_Buffer;
        m_Buffer = buffer;
        m_Allocated = static_cast<uint32_t>(size);
    }
    if (count != 0) {
        std::memcpy(m_Buffer + m_Used, bytes, count);
    }
    m_Used += static_cast<int32_t>(count);
    return SinkAppend::Appended;
}

void CMemSink::Release()
{
    delete[] m_Buffer;
    m_Buffer = nullptr;
    m_Allocated = 0;
    m_Capacity = 0;
    m_Used = 0;
}

} // namespace Cabinet
