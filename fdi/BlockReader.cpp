// Reading CFDATA blocks: checksums, reserves and split blocks.
//
// Format notes:
//   - The checksum covers the payload first, then the four bytes of cbData
//     and cbUncomp; a stored 0 means "not computed". Whether the data
//     reserve between header and payload is covered is not settled among
//     writers: libmspack and Wine leave it out, 7-Zip folds it in after the
//     size fields. A block passes when either sum matches, so both kinds of
//     writer are accepted (FdiError.BlockChecksums pins both).
//   - A block split at a cabinet boundary has cbUncomp 0 in its head part,
//     which must be the folder's last block in that cabinet; the tail is the
//     first block of the next cabinet's first folder and carries the real
//     cbUncomp. Each part has its own checksum over its own bytes. The
//     joined payload obeys the same 38912-byte limit as a whole block, and
//     that limit is checked at each part's header, before its bytes are read.
#include "fdi/BlockReader.h"

#include <cstring>

#include "fdi/CabChecksum.h"
#include "fdi/Reason.h"

namespace Fdi {

Fault CBlockReader::Start(ICabinetChain *chain, CabinetFile *cabinet, uint32_t folderIndex, uint16_t typeCompress)
{
    m_Chain = chain;
    m_Cabinet = cabinet;
    m_TypeCompress = typeCompress;
    m_IsLastFolder = folderIndex + 1 == cabinet->Header.CFolders;
    m_BlocksLeft = cabinet->Folders[folderIndex].CCFData;
    m_BlocksDone = 0;
    m_Crossings = 0;
    return cabinet->Stream.SeekTo(cabinet->Folders[folderIndex].CoffCabStart);
}

Fault CBlockReader::MoveToNextCabinet()
{
    // Only a last folder goes on, and only when its cabinet names a next.
    if (!m_IsLastFolder || !m_Cabinet->Header.HasNext()) {
        return Fail(Fault::Corrupt, "a folder needs more blocks than its cabinet holds");
    }
    CabinetFile *next = nullptr;
    Fault fault = m_Chain->NextCabinet(m_Cabinet, &next);
    if (fault != Fault::None) {
        return fault;
    }
    if (next->Header.CFolders == 0 || !IsSameCompression(next->Folders[0].TypeCompress, m_TypeCompress)) {
        return Fail(Fault::Corrupt, "the next cabinet's first folder has another compression");
    }
    m_Cabinet = next;
    m_IsLastFolder = next->Header.CFolders == 1;
    m_BlocksLeft = next->Folders[0].CCFData;
    ++m_Crossings;
    return next->Stream.SeekTo(next->Folders[0].CoffCabStart);
}

Fault CBlockReader::ReadBlock(uint32_t room, const uint8_t **payload, uint32_t *cbData, uint32_t *cbUncomp)
{
    CCabStream &stream = m_Cabinet->Stream;
    uint32_t headerSize = CFDATA_SIZE + m_Cabinet->Header.DataReserve;
    const uint8_t *header = nullptr;
    Fault fault = stream.Peek(headerSize, &header);
    if (fault != Fault::None) {
        return fault;
    }
    uint32_t stored = Le32(header + CFDATA_CSUM);
    *cbData = Le16(header + CFDATA_CB_DATA);
    *cbUncomp = Le16(header + CFDATA_CB_UNCOMP);
    // Both sizes are checked before a byte of payload is read.
    if (*cbData > room) {
        return Fail(Fault::Corrupt, "a data block larger than 38912 bytes");
    }
    if (*cbUncomp > BLOCK_OUTPUT_MAX) {
        return Fail(Fault::Corrupt, "a data block decoding to more than 32768 bytes");
    }
    fault = stream.Peek(headerSize + *cbData, &header);
    if (fault != Fault::None) {
        return fault;
    }
    stream.Consume(headerSize + *cbData);
    *payload = header + headerSize;
    if (stored == 0) {
        return Fault::None;
    }
    uint32_t payloadSum = CabChecksum(*payload, *cbData, 0);
    uint32_t reserve = headerSize - CFDATA_SIZE;
    if (CabChecksum(header + CFDATA_CB_DATA, 4, payloadSum) == stored ||
        (reserve > 0 && CabChecksum(header + CFDATA_CB_DATA, 4 + reserve, payloadSum) == stored)) {
        return Fault::None;
    }
    return Fail(Fault::Corrupt, "a data block checksum does not match");
}

Fault CBlockReader::Next(uint8_t *input, const uint8_t **payload, uint32_t *inSize, uint32_t *outSize)
{
    uint32_t held = 0;
    uint32_t cbUncomp = 0;
    const uint8_t *part = nullptr;
    uint32_t cbData = 0;
    while (cbUncomp == 0) {
        if (m_BlocksLeft == 0) {
            Fault fault = MoveToNextCabinet();
            if (fault != Fault::None) {
                return fault;
            }
            continue;
        }
        Fault fault = ReadBlock(BLOCK_INPUT_MAX - held, &part, &cbData, &cbUncomp);
        if (fault != Fault::None) {
            return fault;
        }
        --m_BlocksLeft;
        if (cbUncomp == 0 || held > 0) {
            // A part of a split block: joined in input, since the cabinet
            // it lies in may be gone before the rest is read.
            std::memcpy(input + held, part, cbData);
            held += cbData;
        }
        // The head of a split block ends the folder's part in this cabinet.
        if (cbUncomp == 0 && m_BlocksLeft != 0) {
            return Fail(Fault::Corrupt, "a split block that is not its folder's last in the cabinet");
        }
    }
    if (++m_BlocksDone > FOLDER_BLOCKS_MAX) {
        return Fail(Fault::Corrupt, "a folder of more than 65535 blocks");
    }
    if (held > 0) {
        std::memset(input + held, 0, CODEC_INPUT_PADDING);
        *payload = input;
        *inSize = held;
    } else {
        *payload = part;
        *inSize = cbData;
    }
    *outSize = cbUncomp;
    return Fault::None;
}

} // namespace Fdi
