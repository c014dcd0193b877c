// Decoding one folder in order, block by block.
#include "fdi/FolderReader.h"

#include <cstring>

#include "fdi/Reason.h"

namespace Fdi {

CFolderReader::CFolderReader(const Allocator &memory, uint8_t *input, uint8_t *output)
    : m_Memory(memory), m_Input(input), m_Output(output)
{
}

CFolderReader::~CFolderReader()
{
    DropCodec();
}

void CFolderReader::DropCodec()
{
    m_Memory.Delete(m_Codec);
    m_Codec = nullptr;
    m_HasCodecType = false;
}

bool CFolderReader::CanContinue(uint32_t key, uint64_t offset) const
{
    return m_Valid && m_Key == key && offset >= m_DecodedEnd - m_OutputLength;
}

Fault CFolderReader::PrepareCodec(uint16_t typeCompress)
{
    if (m_HasCodecType && m_CodecType == typeCompress) {
        return m_Codec ? FaultFromStatus(m_Codec->Reset()) : Fault::None;
    }
    // A different method: the old codec goes first, so that a failed setup
    // never leaves a codec of another folder behind.
    DropCodec();
    Status status = Status::Ok;
    switch (typeCompress & COMPRESS_MASK_TYPE) {
    case COMPRESS_NONE: break;
    case COMPRESS_MSZIP: m_Codec = CreateMszip(m_Memory, &status); break;
    case COMPRESS_LZX: m_Codec = CreateLzx(m_Memory, CompressionWindowBits(typeCompress), &status); break;
    case COMPRESS_QUANTUM:
        m_Codec = CreateQuantum(m_Memory, CompressionLevel(typeCompress), CompressionWindowBits(typeCompress), &status);
        break;
    default: return Fail(Fault::BadCompression, "an unknown compression type");
    }
    if (status == Status::NoMemory) {
        m_Codec = nullptr;
        return Fail(Fault::NoMemory, "no memory for the decoder");
    }
    if (status == Status::BadCompression) {
        m_Codec = nullptr;
        return Fail(Fault::BadCompression, "a compression window outside the method's range");
    }
    if (status != Status::Ok) {
        m_Codec = nullptr;
        return FaultFromStatus(status); // the codec said why
    }
    m_CodecType = typeCompress;
    m_HasCodecType = true;
    return Fault::None;
}

Fault CFolderReader::Start(uint32_t key, ICabinetChain *chain, CabinetFile *cabinet, uint32_t folderIndex)
{
    m_Valid = false;
    uint16_t typeCompress = cabinet->Folders[folderIndex].TypeCompress;
    Fault fault = PrepareCodec(typeCompress);
    if (fault == Fault::None) {
        fault = m_Blocks.Start(chain, cabinet, folderIndex, typeCompress);
    }
    if (fault != Fault::None) {
        return fault;
    }
    m_Key = key;
    m_DecodedEnd = 0;
    m_OutputLength = 0;
    m_Valid = true;
    return Fault::None;
}

Fault CFolderReader::DecodeNextBlock()
{
    const uint8_t *payload = nullptr;
    uint32_t inSize = 0, outSize = 0;
    Fault fault = m_Blocks.Next(m_Input, &payload, &inSize, &outSize);
    if (fault != Fault::None) {
        return fault;
    }
    if (m_Codec == nullptr) {
        // Stored data: the payload is the output, used where it lies.
        if (inSize != outSize) {
            return Fail(Fault::Corrupt, "a stored block whose two sizes differ");
        }
        m_Block = payload;
    } else {
        if (payload != m_Input) {
            // Codecs get their input with zero padding behind it.
            std::memcpy(m_Input, payload, inSize);
            std::memset(m_Input + inSize, 0, CODEC_INPUT_PADDING);
        }
        fault = FaultFromStatus(m_Codec->DecodeBlock(m_Input, inSize, m_Output, outSize));
        if (fault != Fault::None) {
            return fault;
        }
        m_Block = m_Output;
    }
    m_OutputLength = outSize;
    m_DecodedEnd += outSize;
    return Fault::None;
}

Fault CFolderReader::Produce(uint64_t offset, uint32_t size, IOutputSink &sink)
{
    uint64_t end = offset + size;
    uint64_t position = offset;
    while (position < end) {
        if (position >= m_DecodedEnd) {
            Fault fault = DecodeNextBlock();
            if (fault != Fault::None) {
                m_Valid = false;
                return fault;
            }
            continue;
        }
        uint64_t blockStart = m_DecodedEnd - m_OutputLength;
        uint64_t stop = end < m_DecodedEnd ? end : m_DecodedEnd;
        Fault fault = sink.Write(m_Block + (position - blockStart), uint32_t(stop - position));
        if (fault != Fault::None) {
            m_Valid = false;
            return fault;
        }
        position = stop;
    }
    return Fault::None;
}

} // namespace Fdi
