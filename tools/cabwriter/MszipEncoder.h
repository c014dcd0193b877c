// MSZIP compression of CFDATA blocks through zlib's deflate.
//
// Format notes. An MSZIP block is the two bytes "CK" followed by a raw
// deflate stream that ends with a final (BFINAL) deflate block and begins on
// a byte boundary. Deflate blocks may refer back up to 32 KiB into the data
// of the previous CFDATA blocks of the same folder, so readers keep that
// history across blocks, and a writer that carries it compresses better than
// one that starts afresh per block. zlib cannot end a deflate stream with a
// final block and go on with the same history, so each block is flushed with
// Z_SYNC_FLUSH (which leaves the output byte-aligned after an empty stored
// block) and closed with a hand-made empty final block of fixed Huffman
// codes; the zlib stream itself runs on through the whole folder.
//
// Effort. With the history carried, zlib's level 5 comes within 0.3 % of
// level 6 at two thirds of its time. Blocks that do not shrink (compressed
// or random data) cost deflate as much as any other and gain nothing, so
// after two such blocks in a row the encoder stores (level 0, plain stored
// deflate blocks) and tries compressing again every eighth block.
#pragma once

#include <cstdint>

#include <zlib.h>

namespace Selfex {

// Room a caller provides for one compressed block: "CK", zlib's bound for a
// 32 KiB sync-flushed block, and the closing final block.
constexpr uint32_t MSZIP_OUTPUT_CAPACITY = 40000;

// zlib's level for data that compresses.
constexpr int MSZIP_LEVEL = 5;

class CMszipEncoder {
public:
    // level: zlib's 0-9, or Z_DEFAULT_COMPRESSION.
    explicit CMszipEncoder(int level = MSZIP_LEVEL);
    ~CMszipEncoder();
    CMszipEncoder(const CMszipEncoder &) = delete;
    CMszipEncoder &operator=(const CMszipEncoder &) = delete;

    // Forgets the history: the next block opens a new folder.
    void StartFolder();

    // Compresses size bytes (1 to 32768) into output, which has room for
    // capacity bytes (MSZIP_OUTPUT_CAPACITY is always enough). Returns the
    // compressed size, or 0 when zlib failed or the output did not fit.
    uint32_t CompressBlock(const uint8_t *input, uint32_t size, uint8_t *output, uint32_t capacity);

private:
    // Picks the level for the next block from how the last ones went.
    bool ChooseLevel();
    void NoteResult(uint32_t input, uint32_t output);

    z_stream m_Stream;
    bool m_Ready;
    int m_Level;              // the level for compressible data
    int m_CurrentLevel;       // the level zlib runs at now
    uint32_t m_NotShrunk = 0; // blocks in a row that did not shrink
    uint32_t m_Stored = 0;    // blocks stored since the last try
};

} // namespace Selfex
