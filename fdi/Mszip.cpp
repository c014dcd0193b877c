// MSZIP folder codec on zlib's raw inflate.
//
// Format notes:
//   - Every CFDATA block (joined again if it was split across cabinets) is
//     the two bytes "CK" and one complete raw deflate stream (RFC 1951)
//     ending in a block with BFINAL set. Only the first part of a split
//     block carries the "CK"; the check runs on the joined block.
//   - The 32 KiB history carries from block to block of a folder: a block's
//     matches may reach back into the previous blocks' output. Bit position,
//     Huffman tables and block state do not carry; every block starts at a
//     byte boundary after "CK". A decoder that clears its history per block
//     fails on most real cabinets (pwsh-help-Core.cab, see the corpus test).
//   - A block decodes to exactly its cbUncomp bytes; more or fewer is an
//     error, and so is a stream that has not ended when its input runs out
//     (the endless loop of CVE-2010-2800 came from missing that).
//   - Bytes after the final deflate block are ignored.
//
// zlib keeps the history in its own 32 KiB window. inflateReset would clear
// it; inflateResetKeep (exported by zlib since 1.2.5.2) starts a new stream
// and keeps it, which is exactly MSZIP's rule. The window is made at
// creation (an empty dictionary forces it), so no memory is taken while
// decoding and inflate keeps the window up to date after every block.
#include <zlib.h>

#include "fdi/CabFormat.h"
#include "fdi/Codec.h"
#include "fdi/Reason.h"

namespace Fdi {

namespace {

voidpf ZlibAlloc(voidpf opaque, uInt items, uInt size)
{
    uint64_t bytes = uint64_t(items) * size;
    if (bytes > UINT32_MAX) {
        return Z_NULL;
    }
    return static_cast<Allocator *>(opaque)->Alloc(uint32_t(bytes));
}

void ZlibFree(voidpf opaque, voidpf block)
{
    static_cast<Allocator *>(opaque)->Free(block);
}

class CMszipCodec final : public CCodec {
public:
    explicit CMszipCodec(const Allocator &memory) : m_Memory(memory) {}

    ~CMszipCodec() override
    {
        if (m_Initialised) {
            inflateEnd(&m_Stream);
        }
    }

    CMszipCodec(const CMszipCodec &) = delete;
    CMszipCodec &operator=(const CMszipCodec &) = delete;

    // Takes all of zlib's memory: its state now, its window through the
    // first Reset.
    Status Init()
    {
        m_Stream.zalloc = ZlibAlloc;
        m_Stream.zfree = ZlibFree;
        m_Stream.opaque = &m_Memory;
        int result = inflateInit2(&m_Stream, -MAX_WBITS);
        if (result != Z_OK) {
            return result == Z_MEM_ERROR ? Fail(Status::NoMemory, "no memory for zlib")
                                         : Fail(Status::BadData, "zlib does not start");
        }
        m_Initialised = true;
        return Reset();
    }

    Status Reset() override
    {
        // An empty dictionary allocates the window and leaves it empty.
        static const Bytef EMPTY = 0;
        if (inflateReset(&m_Stream) != Z_OK) {
            return Fail(Status::BadData, "zlib does not reset");
        }
        int result = inflateSetDictionary(&m_Stream, &EMPTY, 0);
        if (result != Z_OK) {
            return result == Z_MEM_ERROR ? Fail(Status::NoMemory, "no memory for zlib's window")
                                         : Fail(Status::BadData, "zlib does not reset");
        }
        return Status::Ok;
    }

    Status DecodeBlock(const uint8_t *in, uint32_t inSize, uint8_t *out, uint32_t outSize) override
    {
        if (outSize == 0 || outSize > BLOCK_OUTPUT_MAX) {
            return Fail(Status::BadData, "an MSZIP block size out of range");
        }
        if (inSize < 2 || in[0] != 'C' || in[1] != 'K') {
            return Fail(Status::BadData, "an MSZIP block without its \"CK\" signature");
        }
        if (inflateResetKeep(&m_Stream) != Z_OK) {
            return Fail(Status::BadData, "zlib does not reset");
        }
        m_Stream.next_in = const_cast<Bytef *>(in + 2);
        m_Stream.avail_in = inSize - 2;
        m_Stream.next_out = out;
        m_Stream.avail_out = outSize;
        int result = inflate(&m_Stream, Z_FINISH);
        // Z_STREAM_END with every output byte: the block is whole. Anything
        // else (bad data, input ending early, output that would overflow
        // cbUncomp or fall short of it) is an invalid block.
        if (result == Z_MEM_ERROR) {
            return Fail(Status::NoMemory, "no memory for zlib");
        }
        if (result == Z_DATA_ERROR) {
            return Fail(Status::BadData, "invalid deflate data");
        }
        if (result != Z_STREAM_END) {
            return Fail(Status::BadData, m_Stream.avail_out == 0 ? "deflate data yields more than cbUncomp bytes"
                                                                 : "deflate data ends early");
        }
        if (m_Stream.avail_out != 0) {
            return Fail(Status::BadData, "deflate data yields fewer than cbUncomp bytes");
        }
        return Status::Ok;
    }

private:
    Allocator m_Memory;
    z_stream m_Stream{};
    bool m_Initialised = false;
};

} // namespace

CCodec *CreateMszip(const Allocator &alloc, Status *status)
{
    CMszipCodec *codec = alloc.New<CMszipCodec>(alloc);
    if (codec == nullptr) {
        *status = Fail(Status::NoMemory, "no memory for the MSZIP decoder");
        return nullptr;
    }
    *status = codec->Init();
    if (*status != Status::Ok) {
        alloc.Delete(codec);
        return nullptr;
    }
    return codec;
}

} // namespace Fdi
