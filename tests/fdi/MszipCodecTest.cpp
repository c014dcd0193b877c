// The MSZIP codec on its own: blocks made by zlib with and without history,
// and the block rules (the "CK" marker, exact output size, a stream that
// must end in its block, history only within a folder).
#include <gtest/gtest.h>

#include <cstdlib>

#include <zlib.h>

#include "fdi/Codec.h"
#include "tests/testlib/CabBuilder.h"

using namespace TestLib;

namespace {

void *TestAlloc(uint32_t size)
{
    return std::malloc(size);
}

void TestFree(void *block)
{
    std::free(block);
}

const Fdi::Allocator MEMORY{TestAlloc, TestFree};

// "CK" + raw deflate of data, primed with history.
std::vector<uint8_t> Block(const std::vector<uint8_t> &data, const std::vector<uint8_t> &history = {},
                           bool final = true)
{
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (!history.empty()) {
        deflateSetDictionary(&stream, history.data(), uInt(history.size()));
    }
    std::vector<uint8_t> out(2 + deflateBound(&stream, uLong(data.size())) + 16);
    out[0] = 'C';
    out[1] = 'K';
    stream.next_in = const_cast<Bytef *>(data.data());
    stream.avail_in = uInt(data.size());
    stream.next_out = out.data() + 2;
    stream.avail_out = uInt(out.size() - 2);
    deflate(&stream, final ? Z_FINISH : Z_SYNC_FLUSH);
    out.resize(2 + stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Decodes one block with room for exactly outSize bytes.
Fdi::Status Decode(Fdi::CCodec &codec, std::vector<uint8_t> block, uint32_t outSize, std::vector<uint8_t> *out)
{
    block.resize(block.size() + Fdi::CODEC_INPUT_PADDING, 0);
    out->assign(outSize, 0);
    return codec.DecodeBlock(block.data(), uint32_t(block.size() - Fdi::CODEC_INPUT_PADDING), out->data(), outSize);
}

struct CodecHolder {
    Fdi::CCodec *Codec = nullptr;
    CodecHolder()
    {
        Fdi::Status status;
        Codec = Fdi::CreateMszip(MEMORY, &status);
    }
    ~CodecHolder() { MEMORY.Delete(Codec); }
};

} // namespace

TEST(MszipCodec, HistoryCarriesAcrossBlocksUntilReset)
{
    std::vector<uint8_t> first = PatternBytes(32768, 1);
    // The second block repeats the end of the first: its matches reach back.
    std::vector<uint8_t> second(first.end() - 20000, first.end());
    std::vector<uint8_t> secondBlock = Block(second, first);
    CodecHolder holder;
    ASSERT_NE(holder.Codec, nullptr);
    std::vector<uint8_t> out;
    ASSERT_EQ(Decode(*holder.Codec, Block(first), 32768, &out), Fdi::Status::Ok);
    EXPECT_EQ(out, first);
    ASSERT_EQ(Decode(*holder.Codec, secondBlock, uint32_t(second.size()), &out), Fdi::Status::Ok);
    EXPECT_EQ(out, second);
    // A new folder has no history: the same block refers before its start.
    ASSERT_EQ(holder.Codec->Reset(), Fdi::Status::Ok);
    EXPECT_EQ(Decode(*holder.Codec, secondBlock, uint32_t(second.size()), &out), Fdi::Status::BadData);
}

TEST(MszipCodec, ShortBlockKeepsOlderHistory)
{
    // After a short block, matches may reach into the block before it.
    std::vector<uint8_t> first = RandomBytes(30000, 2), second = RandomBytes(100, 3);
    std::vector<uint8_t> both = first;
    both.insert(both.end(), second.begin(), second.end());
    std::vector<uint8_t> third(first.begin() + 1000, first.begin() + 9000);
    CodecHolder holder;
    std::vector<uint8_t> out;
    ASSERT_EQ(Decode(*holder.Codec, Block(first), 30000, &out), Fdi::Status::Ok);
    ASSERT_EQ(Decode(*holder.Codec, Block(second, first), 100, &out), Fdi::Status::Ok);
    ASSERT_EQ(Decode(*holder.Codec, Block(third, both), 8000, &out), Fdi::Status::Ok);
    EXPECT_EQ(out, third);
}

TEST(MszipCodec, BadBlocks)
{
    std::vector<uint8_t> data = PatternBytes(5000, 4);
    std::vector<uint8_t> good = Block(data);
    std::vector<uint8_t> noMarker = good;
    noMarker[1] = 'X';
    std::vector<uint8_t> cut(good.begin(), good.begin() + long(good.size() / 2));
    std::vector<uint8_t> unfinished = Block(data, {}, false); // no final deflate block
    std::vector<uint8_t> type3 = {'C', 'K', 0x07};            // BFINAL, BTYPE 3
    std::vector<uint8_t> badStored = {'C', 'K', 0x01, 0x05, 0x00, 0x00, 0x00, 'h', 'e', 'l', 'l', 'o'};
    struct Case {
        const char *What;
        std::vector<uint8_t> Block;
        uint32_t OutSize;
    } cases[] = {
        {"no CK", noMarker, 5000},
        {"output longer than cbUncomp", good, 4999},
        {"output shorter", good, 5001},
        {"input ends early", cut, 5000},
        {"no final block", unfinished, 5000},
        {"block type 3", type3, 10},
        {"stored LEN/NLEN mismatch", badStored, 5},
        {"only CK", {'C', 'K'}, 1},
        {"nothing", {}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        CodecHolder holder;
        std::vector<uint8_t> out;
        EXPECT_EQ(Decode(*holder.Codec, c.Block, c.OutSize, &out), Fdi::Status::BadData);
        // The codec is usable again after a Reset.
        ASSERT_EQ(holder.Codec->Reset(), Fdi::Status::Ok);
        ASSERT_EQ(Decode(*holder.Codec, good, 5000, &out), Fdi::Status::Ok);
        EXPECT_EQ(out, data);
    }
}

TEST(MszipCodec, CreationFailsCleanlyWithoutMemory)
{
    static int allowed;
    static int live;
    auto alloc = [](uint32_t size) -> void * {
        if (allowed-- <= 0) {
            return nullptr;
        }
        ++live;
        return std::malloc(size);
    };
    auto release = [](void *block) {
        live -= block != nullptr;
        std::free(block);
    };
    Fdi::Allocator memory{alloc, release};
    for (allowed = 0;;) {
        int budget = allowed;
        live = 0;
        Fdi::Status status;
        Fdi::CCodec *codec = Fdi::CreateMszip(memory, &status);
        if (codec) {
            memory.Delete(codec);
            EXPECT_EQ(live, 0);
            break;
        }
        EXPECT_EQ(status, Fdi::Status::NoMemory);
        EXPECT_EQ(live, 0) << "after " << budget << " allocations";
        allowed = budget + 1;
        ASSERT_LT(allowed, 10);
    }
}
