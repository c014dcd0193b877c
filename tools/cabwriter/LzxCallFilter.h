// The encoder side of LZX's x86 call filter ("E8 translation").
#pragma once

#include <cstdint>

namespace Selfex {

// Rewrites, in place, the 32-bit operand after each 0xE8 byte of one frame
// from a relative to an absolute target, so that calls to one function look
// alike wherever they are. position: the frame's offset in the folder;
// size: the translation size from the stream header (above 0). Frames of 10
// bytes or less, and the last 10 bytes of any frame, are left alone, and the
// 4 bytes after every 0xE8 scanned are skipped, exactly as decoders scan.
// The caller leaves frames from frame 32768 on alone.
void EncodeCallTargets(uint8_t *data, uint32_t length, uint32_t position, int32_t size);

} // namespace Selfex
