// Buffered reading of one open cabinet through the client's callbacks.
#include "fdi/CabStream.h"

#include <cstdio>
#include <cstring>

#include "fdi/Reason.h"

namespace Fdi {

namespace {

// The seek callback takes and returns a signed 32-bit position.
constexpr uint32_t POSITION_MAX = 0x7FFFFFFF;

} // namespace

CCabStream::CCabStream(const FileCallbacks &files, intptr_t handle, uint8_t *buffer, uint32_t bufferSize)
    : m_Files(files), m_Handle(handle), m_Buffer(buffer), m_Capacity(bufferSize)
{
}

Fault CCabStream::ReadRaw(uint8_t *out, uint32_t size, uint32_t *got)
{
    *got = 0;
    while (*got < size && !m_AtEnd) {
        uint32_t want = size - *got;
        uint32_t result = m_Files.Read(m_Handle, out + *got, want);
        if (result > want) {
            // (UINT)-1: the client's read failed.
            return Fail(Fault::Corrupt, "the read callback failed");
        }
        if (result == 0) {
            m_AtEnd = true;
        }
        *got += result;
    }
    return Fault::None;
}

Fault CCabStream::Refill()
{
    uint32_t kept = m_BufferLength - m_BufferPos;
    std::memmove(m_Buffer, m_Buffer + m_BufferPos, kept);
    m_BufferStart += m_BufferPos;
    m_BufferPos = 0;
    m_BufferLength = kept;
    uint32_t got = 0;
    Fault fault = ReadRaw(m_Buffer + kept, m_Capacity - kept, &got);
    m_BufferLength += got;
    return fault;
}

Fault CCabStream::Read(void *out, uint32_t size)
{
    uint8_t *target = static_cast<uint8_t *>(out);
    uint32_t buffered = m_BufferLength - m_BufferPos;
    uint32_t take = buffered < size ? buffered : size;
    std::memcpy(target, m_Buffer + m_BufferPos, take);
    m_BufferPos += take;
    target += take;
    size -= take;
    if (size == 0) {
        return Fault::None;
    }
    if (uint64_t(Position()) + size > POSITION_MAX) {
        return Fail(Fault::Corrupt, "a read beyond 2 GiB in the cabinet");
    }
    if (size >= m_Capacity) {
        // Large payloads go straight to the caller.
        uint32_t got = 0;
        Fault fault = ReadRaw(target, size, &got);
        m_BufferStart += m_BufferLength + got;
        m_BufferPos = m_BufferLength = 0;
        if (fault != Fault::None) {
            return fault;
        }
        return got == size ? Fault::None : Fail(Fault::EndOfFile, "the cabinet ends early");
    }
    Fault fault = Refill();
    if (fault != Fault::None) {
        return fault;
    }
    if (m_BufferLength < size) {
        m_BufferPos = m_BufferLength;
        return Fail(Fault::EndOfFile, "the cabinet ends early");
    }
    std::memcpy(target, m_Buffer, size);
    m_BufferPos = size;
    return Fault::None;
}

Fault CCabStream::Peek(uint32_t size, const uint8_t **data)
{
    if (m_BufferLength - m_BufferPos < size) {
        if (size > m_Capacity || uint64_t(Position()) + size > POSITION_MAX) {
            return Fail(Fault::Corrupt, "a read beyond 2 GiB in the cabinet");
        }
        Fault fault = Refill();
        if (fault != Fault::None) {
            return fault;
        }
        if (m_BufferLength < size) {
            return Fail(Fault::EndOfFile, "the cabinet ends inside a data block");
        }
    }
    *data = m_Buffer + m_BufferPos;
    return Fault::None;
}

Fault CCabStream::ReadString(char *out, uint32_t maxLength, uint32_t *length)
{
    // The whole string, terminator included, must fit the buffer at once.
    static_assert(STREAM_BUFFER_MIN > 256, "a name and its NUL must fit the read-ahead");
    if (m_BufferLength - m_BufferPos < maxLength + 1 && !m_AtEnd) {
        Fault fault = Refill();
        if (fault != Fault::None) {
            return fault;
        }
    }
    const uint8_t *start = m_Buffer + m_BufferPos;
    uint32_t available = m_BufferLength - m_BufferPos;
    uint32_t limit = available < maxLength + 1 ? available : maxLength + 1;
    // Only bytes actually read are searched for the terminator.
    const void *nul = std::memchr(start, 0, limit);
    if (nul == nullptr) {
        return Fail(Fault::Corrupt, "a name without its terminator");
    }
    uint32_t size = uint32_t(static_cast<const uint8_t *>(nul) - start);
    std::memcpy(out, start, size + 1);
    m_BufferPos += size + 1;
    *length = size;
    return Fault::None;
}

Fault CCabStream::Skip(uint32_t count)
{
    uint32_t buffered = m_BufferLength - m_BufferPos;
    if (count <= buffered) {
        m_BufferPos += count;
        return Fault::None;
    }
    uint64_t target = uint64_t(Position()) + count;
    if (target > POSITION_MAX) {
        return Fail(Fault::Corrupt, "a skip beyond 2 GiB in the cabinet");
    }
    uint32_t distance = count - buffered;
    if (m_Files.Seek(m_Handle, int32_t(distance), SEEK_CUR) == -1) {
        return Fail(Fault::Corrupt, "the seek callback failed");
    }
    m_BufferStart = uint32_t(target);
    m_BufferPos = m_BufferLength = 0;
    m_AtEnd = false;
    return Fault::None;
}

Fault CCabStream::SeekTo(uint32_t position)
{
    if (position >= m_BufferStart && position <= m_BufferStart + m_BufferLength) {
        // Still inside the read-ahead: no callback needed.
        m_BufferPos = position - m_BufferStart;
        return Fault::None;
    }
    if (position > POSITION_MAX) {
        return Fail(Fault::Corrupt, "an offset beyond 2 GiB in the cabinet");
    }
    if (m_Files.Seek(m_Handle, int32_t(position), SEEK_SET) == -1) {
        return Fail(Fault::Corrupt, "the seek callback failed");
    }
    m_BufferStart = position;
    m_BufferPos = m_BufferLength = 0;
    m_AtEnd = false;
    return Fault::None;
}

Fault CCabStream::Sync()
{
    uint32_t unused = m_BufferLength - m_BufferPos;
    if (unused > 0 && m_Files.Seek(m_Handle, -int32_t(unused), SEEK_CUR) == -1) {
        return Fail(Fault::Corrupt, "the seek callback failed");
    }
    m_BufferStart += m_BufferPos;
    m_BufferPos = m_BufferLength = 0;
    m_AtEnd = false;
    return Fault::None;
}

} // namespace Fdi
