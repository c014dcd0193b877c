// Reading the CFDATA blocks of one folder: block headers, reserve areas,
// checksums, and blocks split across the cabinets of a set.
#pragma once

#include <cstdint>

#include "fdi/CabinetFile.h"
#include "fdi/Codec.h"
#include "fdi/Fault.h"

namespace Fdi {

// Size of the input buffer Next fills: the largest block plus the zero
// padding the codecs may read past its end.
constexpr uint32_t BLOCK_INPUT_BUFFER = BLOCK_INPUT_MAX + CODEC_INPUT_PADDING;

class CBlockReader {
public:
    // Starts at the first block of folder folderIndex of cabinet (the
    // folder's compression word is typeCompress). chain supplies the next
    // cabinet when the folder continues there.
    Fault Start(ICabinetChain *chain, CabinetFile *cabinet, uint32_t folderIndex, uint16_t typeCompress);

    // Reads the next whole block: *payload points to its *inSize payload
    // bytes, *outSize is its cbUncomp (1..32768). A block that lies whole in
    // one cabinet is left where it was read (valid until the next call);
    // the parts of a split block are joined in input (BLOCK_INPUT_BUFFER
    // bytes), followed by CODEC_INPUT_PADDING zero bytes. EndOfFile: the
    // cabinet ends inside the block. Corrupt: a bad size, checksum or block
    // count, a read failure, or a continuation with another compression.
    // Faults of the chain are passed on.
    Fault Next(uint8_t *input, const uint8_t **payload, uint32_t *inSize, uint32_t *outSize);

    // The cabinet the next block comes from.
    CabinetFile *Cabinet() const { return m_Cabinet; }
    // How often the folder moved on into another cabinet since Start.
    uint32_t Crossings() const { return m_Crossings; }

private:
    // Reads one CFDATA (header, reserve, payload) whose payload may be at
    // most room bytes, verifies its checksum and points *payload at it.
    Fault ReadBlock(uint32_t room, const uint8_t **payload, uint32_t *cbData, uint32_t *cbUncomp);
    // Moves on to the first folder of the next cabinet.
    Fault MoveToNextCabinet();

    ICabinetChain *m_Chain = nullptr;
    CabinetFile *m_Cabinet = nullptr;
    uint16_t m_TypeCompress = 0;
    bool m_IsLastFolder = false; // the folder is the last of m_Cabinet: it may go on
    uint32_t m_BlocksLeft = 0;   // blocks of the folder still unread in m_Cabinet
    uint32_t m_BlocksDone = 0;   // whole blocks read since Start
    uint32_t m_Crossings = 0;
};

} // namespace Fdi
