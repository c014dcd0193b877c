// CMemSink: in-memory output buffer.
#include "cabinet/MemSink.h"

#include <cstring>

namespace Cabinet {

void CMemSink::Reset(int32_t size)
{
    if (m_Capacity < size) {
        // Two spare bytes past the capacity, never written by the sink.
        uint8_t *buffer = new uint8_t[static_cast<size_t>(size) + 2];
        delete[] m_Buffer;
        m_Buffer = buffer;
        m_Capacity = size;
    }
    m_Used = 0;
}

bool CMemSink::Append(const void *bytes, uint32_t count)
{
    // 64-bit sum: a count near 4 GiB must not wrap into range.
    if (static_cast<int64_t>(m_Used) + count > m_Capacity) {
        return false;
    }
    if (count != 0) {
        std::memcpy(m_Buffer + m_Used, bytes, count);
    }
    m_Used += static_cast<int32_t>(count);
    return true;
}

void CMemSink::Release()
{
    delete[] m_Buffer;
    m_Buffer = nullptr;
    m_Capacity = 0;
    m_Used = 0;
}

} // namespace Cabinet
