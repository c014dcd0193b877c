// A cabinet file as the selfex tool shows it to the extractor.
//
// The extractor looks for a cabinet only from offset 160000 on, where a
// package keeps it behind the stub. A bare cabinet (a file that starts with
// "MSCF") is therefore shown behind 160000 zero bytes that exist only in
// this view; a package is shown as it is. Nothing is copied or written: the
// view reads the file in place.
#pragma once

#include <cstdint>
#include <string>

namespace Selfex {

class CCabinetView {
public:
    CCabinetView() = default;
    ~CCabinetView();
    CCabinetView(const CCabinetView &) = delete;
    CCabinetView &operator=(const CCabinetView &) = delete;

    // Opens path (UTF-8) for reading. False, with the reason in words
    // ("no such file"), when it is missing, not a regular file (a FIFO would block
    // the open), unreadable, or when the view would be 2 GiB or longer: the
    // extractor's file positions are signed 32-bit.
    bool Open(const std::string &path, std::string &problem);
    // False when the last Open failed because nothing was there.
    bool Exists() const { return m_Exists; }
    // The descriptor behind the view, or -1 once closed.
    int32_t Handle() const { return m_Handle; }
    // True when the file is a bare cabinet shown behind the zero prefix.
    bool IsBare() const { return m_Prefix != 0; }

    // Like _read on the view: bytes read (0 at its end), or -1.
    int32_t Read(void *buffer, uint32_t count);
    // Like _lseek on the view: the new position, or -1 for a position
    // before the start or beyond 2^31 - 1 (the position is then unchanged).
    int32_t Seek(int32_t offset, int origin);
    // Closes the descriptor: 0, or -1 when the close failed.
    int32_t Close();

private:
    int32_t m_Handle = -1;
    bool m_Exists = true;
    uint32_t m_Prefix = 0;       // zero bytes shown before the file
    int64_t m_Length = 0;        // prefix + file size
    int64_t m_Position = 0;      // in the view
    int64_t m_FilePosition = -1; // the descriptor's offset in the file; -1 unknown
};

} // namespace Selfex
