// Buffered reading of one open cabinet through the client's read and seek
// callbacks.
//
// The reader keeps a read-ahead buffer so that the many short fields of
// the header and the tables cost few callbacks, and so that data blocks can
// be used where they lie in the buffer (Peek) instead of being copied.
// Positions are logical: counted from the cabinet's first byte (where the
// handle stood when the reader was made), which is how the client expects
// SEEK_SET targets. Only SEEK_SET and SEEK_CUR are used.
//
// Results: Fault::None; Fault::EndOfFile when the cabinet ends before the
// bytes asked for (read returned 0); Fault::Corrupt when a read or seek
// callback failed (-1, or a count larger than asked for) or a position would
// leave the 31-bit range the seek callback can express.
#pragma once

#include <cstdint>

#include "fdi/Context.h"
#include "fdi/Fault.h"

namespace Fdi {

// Read-ahead of an open cabinet: several whole data blocks, so that a block
// is nearly always in the buffer already and one read fetches many.
constexpr uint32_t STREAM_BUFFER_SIZE = 256 * 1024;
// The smallest buffer a stream works with: a name and its NUL must fit.
constexpr uint32_t STREAM_BUFFER_MIN = 1024;

class CCabStream {
public:
    // buffer: bufferSize bytes (at least STREAM_BUFFER_MIN) owned by the
    // caller, alive as long as the stream. The handle's current position
    // counts as position 0.
    CCabStream(const FileCallbacks &files, intptr_t handle, uint8_t *buffer, uint32_t bufferSize);

    CCabStream(const CCabStream &) = delete;
    CCabStream &operator=(const CCabStream &) = delete;

    intptr_t Handle() const { return m_Handle; }
    // Logical position of the next byte Read returns.
    uint32_t Position() const { return m_BufferStart + m_BufferPos; }

    // Reads exactly size bytes into out.
    Fault Read(void *out, uint32_t size);
    // Makes the next size bytes (at most the buffer size) readable at *data
    // without consuming them. *data stays valid until the next call on the
    // stream other than Consume.
    Fault Peek(uint32_t size, const uint8_t **data);
    // Consumes size bytes made readable by Peek.
    void Consume(uint32_t size) { m_BufferPos += size; }
    // Reads a NUL-terminated string of at most maxLength bytes (plus NUL)
    // into out, which has room for maxLength + 1 bytes. A string without its
    // NUL within maxLength + 1 bytes, or cut by the end of the cabinet, is
    // Corrupt; *length receives the length without the NUL.
    Fault ReadString(char *out, uint32_t maxLength, uint32_t *length);
    // Skips count bytes forward.
    Fault Skip(uint32_t count);
    // Moves to a logical position (an offset stored in the cabinet).
    Fault SeekTo(uint32_t position);
    // Moves the handle back to the logical position, giving up the
    // read-ahead, so that the client sees it just behind the bytes used.
    Fault Sync();

private:
    // Reads into out until size bytes arrived or the cabinet ended;
    // *got receives the count.
    Fault ReadRaw(uint8_t *out, uint32_t size, uint32_t *got);
    // Moves the bytes not yet used to the start of the buffer and fills the
    // rest from the cabinet.
    Fault Refill();

    FileCallbacks m_Files;
    intptr_t m_Handle;
    uint8_t *m_Buffer;
    uint32_t m_Capacity;
    uint32_t m_BufferStart = 0;  // logical position of m_Buffer[0]
    uint32_t m_BufferPos = 0;    // next unread byte in m_Buffer
    uint32_t m_BufferLength = 0; // valid bytes in m_Buffer
    bool m_AtEnd = false;        // the last read came up short: nothing more follows
};

} // namespace Fdi
