// Decoding one folder from its first block on: the block reader, the codec
// of the folder's compression type and the current block's output.
//
// Folders are decoded strictly in order. A file is produced by decoding
// (and dropping) everything in front of it, then handing its bytes to a
// sink block by block; the next file of the same folder continues from
// there unless it starts before the block in hand, which restarts the
// folder.
#pragma once

#include <cstdint>

#include "fdi/BlockReader.h"

namespace Fdi {

// Receives a file's bytes, at most one block (32768 bytes) per call.
class IOutputSink {
public:
    virtual ~IOutputSink() = default;
    virtual Fault Write(const uint8_t *data, uint32_t size) = 0;
};

class CFolderReader {
public:
    // input: BLOCK_INPUT_BUFFER bytes; output: BLOCK_OUTPUT_MAX bytes; both
    // owned by the caller and alive while the reader is used.
    CFolderReader(const Allocator &memory, uint8_t *input, uint8_t *output);
    ~CFolderReader();

    CFolderReader(const CFolderReader &) = delete;
    CFolderReader &operator=(const CFolderReader &) = delete;

    // True when folder key is the one being decoded and offset lies at or
    // after the start of the block in hand, so Produce can go on from here.
    bool CanContinue(uint32_t key, uint64_t offset) const;

    // Starts folder folderIndex of cabinet from its first block, under the
    // caller's key. The codec is made for the folder's compression or reset;
    // BadCompression for a type or window it cannot decode, NoMemory when
    // the codec's memory cannot be had. After a failure no codec is kept.
    Fault Start(uint32_t key, ICabinetChain *chain, CabinetFile *cabinet, uint32_t folderIndex);

    // Decodes up to offset, then hands size bytes to sink. Any failure
    // leaves the reader needing a Start.
    Fault Produce(uint64_t offset, uint32_t size, IOutputSink &sink);

    // Forgets the folder (the next file starts it again).
    void Invalidate() { m_Valid = false; }

    // How often the folder moved into another cabinet since Start.
    uint32_t Crossings() const { return m_Blocks.Crossings(); }
    // The cabinet the folder is being read from.
    CabinetFile *Cabinet() const { return m_Blocks.Cabinet(); }

private:
    Fault PrepareCodec(uint16_t typeCompress);
    void DropCodec();
    Fault DecodeNextBlock();

    Allocator m_Memory;
    uint8_t *m_Input;
    uint8_t *m_Output;
    CBlockReader m_Blocks;
    CCodec *m_Codec = nullptr;   // NULL for stored folders
    uint16_t m_CodecType = 0;    // typeCompress the codec was made for
    bool m_HasCodecType = false; // m_CodecType is valid (stored or a live codec)
    bool m_Valid = false;        // a folder is started and in order
    uint32_t m_Key = 0;
    const uint8_t *m_Block = nullptr; // output of the block in hand: m_Output, or
                                      // for stored data the payload where it was read
    uint64_t m_DecodedEnd = 0;        // folder offset just past the block in hand
    uint32_t m_OutputLength = 0;      // bytes of that block
};

} // namespace Fdi
