// MSZIP compression of CFDATA blocks through zlib's deflate.
#include "tools/cabwriter/MszipEncoder.h"

#include <cstring>

namespace Selfex {

namespace {

// BFINAL 1, BTYPE 01 (fixed codes), then the 7-bit end-of-block code 0:
// ten bits, packed from the least significant bit up.
constexpr uint8_t EMPTY_FINAL_BLOCK[] = {0x03, 0x00};

constexpr uint32_t STORE_AFTER = 2; // blocks that did not shrink before storing starts
constexpr uint32_t RETRY_EVERY = 8; // while storing, every eighth block is compressed

} // namespace

CMszipEncoder::CMszipEncoder(int level) : m_Level(level), m_CurrentLevel(level)
{
    std::memset(&m_Stream, 0, sizeof m_Stream);
    // Negative window bits: raw deflate, no zlib header or trailer.
    m_Ready = deflateInit2(&m_Stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

CMszipEncoder::~CMszipEncoder()
{
    if (m_Ready) {
        deflateEnd(&m_Stream);
    }
}

void CMszipEncoder::StartFolder()
{
    if (m_Ready) {
        m_Ready = deflateReset(&m_Stream) == Z_OK;
    }
    m_NotShrunk = 0;
    m_Stored = 0;
}

bool CMszipEncoder::ChooseLevel()
{
    int wanted = m_Level;
    if (m_NotShrunk >= STORE_AFTER && ++m_Stored % RETRY_EVERY != 0) {
        wanted = 0;
    }
    if (wanted == m_CurrentLevel) {
        return true;
    }
    // Between blocks nothing is pending (each ended with a sync flush), so
    // the change takes effect at once and keeps the history.
    m_CurrentLevel = wanted;
    return deflateParams(&m_Stream, wanted, Z_DEFAULT_STRATEGY) == Z_OK;
}

void CMszipEncoder::NoteResult(uint32_t input, uint32_t output)
{
    // "Shrunk" means by more than 1 %, after the block's own overhead.
    bool shrunk = output < input - input / 100;
    if (shrunk) {
        m_NotShrunk = 0;
        m_Stored = 0;
    } else if (m_CurrentLevel != 0) {
        ++m_NotShrunk;
    }
}

uint32_t CMszipEncoder::CompressBlock(const uint8_t *input, uint32_t size, uint8_t *output, uint32_t capacity)
{
    const uint32_t overhead = 2 + sizeof EMPTY_FINAL_BLOCK;
    if (!m_Ready || capacity <= overhead) {
        return 0;
    }
    output[0] = 'C';
    output[1] = 'K';

    m_Stream.next_in = const_cast<Bytef *>(input);
    m_Stream.avail_in = 0;
    m_Stream.next_out = output + 2;
    m_Stream.avail_out = capacity - overhead;
    if (!ChooseLevel()) {
        return 0;
    }
    m_Stream.avail_in = size;
    int status = deflate(&m_Stream, Z_SYNC_FLUSH);
    // All input taken and room left over means the flush is complete; a full
    // output buffer might hide pending bytes.
    if (status != Z_OK || m_Stream.avail_in != 0 || m_Stream.avail_out == 0) {
        return 0;
    }

    uint32_t used = capacity - overhead - m_Stream.avail_out + 2;
    std::memcpy(output + used, EMPTY_FINAL_BLOCK, sizeof EMPTY_FINAL_BLOCK);
    used += sizeof EMPTY_FINAL_BLOCK;
    NoteResult(size, used);
    return used;
}

} // namespace Selfex
