// Builds MS-CAB cabinets and cabinet sets in memory for tests.
#include "tests/testlib/CabBuilder.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include <zlib.h>

namespace TestLib {

// A CFDATA block, or the part of a split block that lies in one cabinet.
struct CCabBuilder::Piece {
    size_t Folder;
    size_t Cabinet;
    std::vector<uint8_t> Payload;
    uint16_t Uncompressed; // 0 for a part whose block continues in the next cabinet
};

namespace {

constexpr uint16_t FLAG_PREV_CABINET = 0x0001;
constexpr uint16_t FLAG_NEXT_CABINET = 0x0002;
constexpr uint16_t FLAG_RESERVE_PRESENT = 0x0004;
constexpr size_t MSZIP_HISTORY = 32768;

void Append16(std::vector<uint8_t> &out, uint16_t value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void Append32(std::vector<uint8_t> &out, uint32_t value)
{
    Append16(out, uint16_t(value));
    Append16(out, uint16_t(value >> 16));
}

void AppendString(std::vector<uint8_t> &out, const std::string &text)
{
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// "CK" and one raw deflate stream of chunk, primed with up to 32 KiB of the
// data in front of it so that matches may reach into the previous block.
std::vector<uint8_t> DeflateBlock(const uint8_t *history, size_t historySize, const uint8_t *chunk, size_t size,
                                  int level)
{
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    if (historySize > 0 && deflateSetDictionary(&stream, history, uInt(historySize)) != Z_OK) {
        deflateEnd(&stream);
        throw std::runtime_error("deflateSetDictionary failed");
    }
    std::vector<uint8_t> out(2 + deflateBound(&stream, uLong(size)));
    out[0] = 'C';
    out[1] = 'K';
    stream.next_in = const_cast<Bytef *>(chunk);
    stream.avail_in = uInt(size);
    stream.next_out = out.data() + 2;
    stream.avail_out = uInt(out.size() - 2);
    int result = deflate(&stream, Z_FINISH);
    size_t produced = stream.total_out;
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        throw std::runtime_error("deflate did not finish");
    }
    out.resize(2 + produced);
    return out;
}

} // namespace

CCabBuilder::CCabBuilder(const CabOptions &options) : m_Options(options) {}

CCabBuilder &CCabBuilder::AddFolder(uint16_t typeCompress)
{
    FolderEntry folder;
    folder.TypeCompress = typeCompress;
    folder.Raw = typeCompress != CAB_COMPRESS_NONE && typeCompress != CAB_COMPRESS_MSZIP;
    m_Folders.push_back(folder);
    return *this;
}

CCabBuilder &CCabBuilder::AddFile(const std::string &name, const std::vector<uint8_t> &data, uint16_t attribs,
                                  uint16_t date, uint16_t time)
{
    if (m_Folders.empty()) {
        AddFolder();
    }
    return AddFileTo(m_Folders.size() - 1, name, data, attribs, date, time);
}

CCabBuilder &CCabBuilder::AddFileTo(size_t folderIndex, const std::string &name, const std::vector<uint8_t> &data,
                                    uint16_t attribs, uint16_t date, uint16_t time)
{
    FolderEntry &folder = m_Folders.at(folderIndex);
    if (folder.Raw) {
        throw std::logic_error("AddFile on a raw folder: use AddRawFile");
    }
    FileEntry file{name, folderIndex, uint32_t(folder.Data.size()), uint32_t(data.size()), attribs, date, time};
    folder.Data.insert(folder.Data.end(), data.begin(), data.end());
    m_Files.push_back(file);
    return *this;
}

CCabBuilder &CCabBuilder::AddRawFile(const std::string &name, uint32_t size, uint16_t attribs)
{
    if (m_Folders.empty() || !m_Folders.back().Raw) {
        throw std::logic_error("AddRawFile needs a raw folder");
    }
    FolderEntry &folder = m_Folders.back();
    m_Files.push_back(FileEntry{name, m_Folders.size() - 1, folder.RawSize, size, attribs, 0x5264, 0x28c4});
    folder.RawSize += size;
    return *this;
}

CCabBuilder &CCabBuilder::AddRawBlock(const std::vector<uint8_t> &payload, uint16_t uncompressedSize)
{
    if (m_Folders.empty() || !m_Folders.back().Raw) {
        throw std::logic_error("AddRawBlock needs a raw folder");
    }
    m_Folders.back().Blocks.push_back(DataBlock{payload, uncompressedSize});
    return *this;
}

CCabBuilder &CCabBuilder::SetTableOrder(const std::vector<size_t> &order)
{
    m_TableOrder = order;
    return *this;
}

std::vector<CCabBuilder::DataBlock> CCabBuilder::EncodeFolder(const FolderEntry &folder) const
{
    if (folder.Raw) {
        return folder.Blocks;
    }
    if (m_Options.BlockSize == 0 || m_Options.BlockSize > 32768) {
        throw std::logic_error("BlockSize must be 1..32768");
    }
    std::vector<DataBlock> blocks;
    const std::vector<uint8_t> &data = folder.Data;
    for (size_t start = 0; start < data.size(); start += m_Options.BlockSize) {
        size_t size = std::min<size_t>(m_Options.BlockSize, data.size() - start);
        DataBlock block;
        block.Uncompressed = uint16_t(size);
        if (folder.TypeCompress == CAB_COMPRESS_MSZIP) {
            size_t historyStart = start > MSZIP_HISTORY ? start - MSZIP_HISTORY : 0;
            block.Payload = DeflateBlock(data.data() + historyStart, start - historyStart, data.data() + start, size,
                                         m_Options.MszipLevel);
        } else {
            block.Payload.assign(data.begin() + long(start), data.begin() + long(start + size));
        }
        blocks.push_back(block);
    }
    return blocks;
}

CabImage CCabBuilder::Build() const
{
    return BuildSet({""}, UINT32_MAX).front();
}

std::vector<CabImage> CCabBuilder::BuildSetByPrefix(const std::string &prefix, uint32_t payloadPerCabinet,
                                                    std::vector<std::string> *names) const
{
    std::vector<std::string> list;
    std::vector<CabImage> set = BuildNamedSet(list, payloadPerCabinet, prefix);
    if (names) {
        *names = list;
    }
    return set;
}

std::vector<CabImage> CCabBuilder::BuildSet(const std::vector<std::string> &names, uint32_t payloadPerCabinet) const
{
    if (names.empty()) {
        throw std::logic_error("BuildSet needs names");
    }
    std::vector<std::string> list = names;
    return BuildNamedSet(list, payloadPerCabinet, std::string());
}

std::vector<CabImage> CCabBuilder::BuildNamedSet(std::vector<std::string> &names, uint32_t payloadPerCabinet,
                                                 const std::string &prefix) const
{
    if (payloadPerCabinet == 0) {
        throw std::logic_error("BuildSet needs a capacity");
    }
    // Cut every folder's blocks into cabinets, splitting blocks that do not
    // fit the room left.
    std::vector<Piece> pieces;
    std::vector<size_t> firstCab(m_Folders.size()), lastCab(m_Folders.size());
    std::vector<std::vector<BlockPlace>> blockCabs(m_Folders.size());
    size_t cabinet = 0;
    uint64_t room = payloadPerCabinet;
    for (size_t f = 0; f < m_Folders.size(); ++f) {
        std::vector<DataBlock> blocks = EncodeFolder(m_Folders[f]);
        firstCab[f] = cabinet;
        bool first = true;
        uint64_t output = 0;
        for (const DataBlock &block : blocks) {
            size_t done = 0;
            BlockPlace place{output, block.Uncompressed, 0, 0};
            output += block.Uncompressed;
            do {
                if (room == 0) {
                    ++cabinet;
                    room = payloadPerCabinet;
                }
                size_t take = size_t(std::min<uint64_t>(room, block.Payload.size() - done));
                bool last = done + take == block.Payload.size();
                Piece piece{f, cabinet, {}, uint16_t(last ? block.Uncompressed : 0)};
                piece.Payload.assign(block.Payload.begin() + long(done), block.Payload.begin() + long(done + take));
                pieces.push_back(piece);
                if (first) {
                    firstCab[f] = cabinet;
                    first = false;
                }
                if (done == 0) {
                    place.StartCabinet = cabinet;
                }
                place.EndCabinet = cabinet;
                room -= take;
                done += take;
            } while (done < block.Payload.size());
            blockCabs[f].push_back(place);
        }
        lastCab[f] = cabinet;
    }
    if (!prefix.empty()) {
        names.clear();
        for (size_t n = 0; n <= cabinet; ++n) {
            names.push_back(prefix + std::to_string(n + 1) + ".cab");
        }
    }
    if (cabinet + 1 != names.size()) {
        throw std::logic_error("BuildSet: the data fills " + std::to_string(cabinet + 1) + " cabinets, not " +
                               std::to_string(names.size()));
    }
    bool isSet = names.size() > 1;
    std::vector<CabImage> images;
    for (size_t n = 0; n < names.size(); ++n) {
        std::string prev = isSet ? (n > 0 ? names[n - 1] : "") : m_Options.PrevCabinet;
        std::string next = isSet ? (n + 1 < names.size() ? names[n + 1] : "") : m_Options.NextCabinet;
        images.push_back(WriteCabinet(n, pieces, firstCab, lastCab, blockCabs, prev, next, isSet));
    }
    return images;
}

CabImage CCabBuilder::WriteCabinet(size_t cabinet, const std::vector<Piece> &pieces,
                                   const std::vector<size_t> &folderFirstCab, const std::vector<size_t> &folderLastCab,
                                   const std::vector<std::vector<BlockPlace>> &blockCabs, const std::string &prevName,
                                   const std::string &nextName, bool isSet) const
{
    const CabOptions &o = m_Options;
    // Folders present in this cabinet, with their local index.
    std::vector<size_t> present;
    std::vector<int> localIndex(m_Folders.size(), -1);
    for (size_t f = 0; f < m_Folders.size(); ++f) {
        if (folderFirstCab[f] <= cabinet && cabinet <= folderLastCab[f]) {
            localIndex[f] = int(present.size());
            present.push_back(f);
        }
    }
    // Files listed here, with their iFolder value.
    std::vector<size_t> order = m_TableOrder;
    if (isSet || order.empty()) {
        order.clear();
        for (size_t i = 0; i < m_Files.size(); ++i) {
            order.push_back(i);
        }
    }
    std::vector<std::pair<size_t, uint16_t>> listed;
    for (size_t index : order) {
        const FileEntry &file = m_Files.at(index);
        // A file lies from the cabinet where the block holding its first
        // byte starts (or ends) to the one where the block holding its last
        // byte ends.
        const std::vector<BlockPlace> &blocks = blockCabs[file.Folder];
        size_t startCab = folderFirstCab[file.Folder], endCab = startCab;
        uint64_t last = file.Size ? uint64_t(file.Offset) + file.Size - 1 : file.Offset;
        for (const BlockPlace &block : blocks) {
            if (file.Offset >= block.Offset && (file.Offset < block.Offset + block.Size || &block == &blocks.back())) {
                startCab = o.ListWhereBlocksEnd ? block.EndCabinet : block.StartCabinet;
                endCab = startCab;
            }
            if (file.Size && last >= block.Offset && last < block.Offset + block.Size) {
                endCab = block.EndCabinet;
            }
        }
        if (cabinet < startCab || cabinet > endCab) {
            continue;
        }
        uint16_t iFolder = uint16_t(localIndex[file.Folder]);
        if (startCab < cabinet && cabinet < endCab) {
            iFolder = CAB_IFOLD_CONTINUED_PREV_AND_NEXT;
        } else if (startCab < cabinet) {
            iFolder = CAB_IFOLD_CONTINUED_FROM_PREV;
        } else if (cabinet < endCab) {
            iFolder = CAB_IFOLD_CONTINUED_TO_NEXT;
        }
        listed.emplace_back(index, iFolder);
    }

    bool reserve = o.ReserveFlag || o.HeaderReserve || o.FolderReserve || o.DataReserve;
    uint16_t flags = uint16_t((prevName.empty() ? 0 : FLAG_PREV_CABINET) | (nextName.empty() ? 0 : FLAG_NEXT_CABINET) |
                              (reserve ? FLAG_RESERVE_PRESENT : 0));
    CabImage image;
    std::vector<uint8_t> &out = image.Bytes;
    for (char c : {'M', 'S', 'C', 'F'}) {
        out.push_back(uint8_t(c));
    }
    Append32(out, 0);
    Append32(out, 0); // cbCabinet, filled in below
    Append32(out, 0);
    Append32(out, 0); // coffFiles, filled in below
    Append32(out, 0);
    out.push_back(o.VersionMinor);
    out.push_back(o.VersionMajor);
    Append16(out, uint16_t(present.size()));
    Append16(out, uint16_t(listed.size()));
    Append16(out, flags);
    Append16(out, o.SetId);
    Append16(out, uint16_t(o.CabinetIndex + cabinet));
    if (reserve) {
        image.Layout.ReserveSizes = out.size();
        Append16(out, o.HeaderReserve);
        out.push_back(o.FolderReserve);
        out.push_back(o.DataReserve);
        out.insert(out.end(), o.HeaderReserve, o.ReserveFill);
    }
    if (flags & FLAG_PREV_CABINET) {
        AppendString(out, prevName);
        AppendString(out, o.PrevDisk);
    }
    if (flags & FLAG_NEXT_CABINET) {
        AppendString(out, nextName);
        AppendString(out, o.NextDisk);
    }
    for (size_t i = 0; i < present.size(); ++i) {
        image.Layout.Folders.push_back(out.size());
        out.insert(out.end(), 8 + size_t(o.FolderReserve), o.ReserveFill);
    }
    PutLe32(out, CAB_OFF_COFF_FILES, uint32_t(out.size()));
    for (const auto &[index, iFolder] : listed) {
        const FileEntry &file = m_Files[index];
        image.Layout.Files.push_back(out.size());
        Append32(out, file.Size);
        Append32(out, file.Offset);
        Append16(out, iFolder);
        Append16(out, file.Date);
        Append16(out, file.Time);
        Append16(out, file.Attribs);
        AppendString(out, file.Name);
    }
    // Data blocks, folder by folder as they were placed; each CFFOLDER then
    // gets its first block's offset and block count.
    std::vector<uint32_t> folderStart(present.size(), 0);
    std::vector<uint16_t> folderBlocks(present.size(), 0);
    for (const Piece &piece : pieces) {
        if (piece.Cabinet != cabinet) {
            continue;
        }
        size_t local = size_t(localIndex[piece.Folder]);
        if (folderBlocks[local]++ == 0) {
            folderStart[local] = uint32_t(out.size());
        }
        size_t header = out.size();
        image.Layout.Blocks.push_back(header);
        Append32(out, 0);
        Append16(out, uint16_t(piece.Payload.size()));
        Append16(out, piece.Uncompressed);
        out.insert(out.end(), o.DataReserve, o.ReserveFill);
        out.insert(out.end(), piece.Payload.begin(), piece.Payload.end());
    }
    for (size_t local = 0; local < present.size(); ++local) {
        size_t at = image.Layout.Folders[local];
        PutLe32(out, at, folderBlocks[local] ? folderStart[local] : uint32_t(out.size()));
        PutLe16(out, at + 4, folderBlocks[local]);
        PutLe16(out, at + 6, m_Folders[present[local]].TypeCompress);
    }
    PutLe32(out, CAB_OFF_CB_CABINET, uint32_t(out.size()));
    if (o.Checksums) {
        for (size_t b = 0; b < image.Layout.Blocks.size(); ++b) {
            RefreshChecksum(image, b, o.DataReserve, o.ChecksumCoversReserve);
        }
    }
    return image;
}

void PutLe16(std::vector<uint8_t> &bytes, size_t offset, uint16_t value)
{
    bytes.at(offset) = uint8_t(value);
    bytes.at(offset + 1) = uint8_t(value >> 8);
}

void PutLe32(std::vector<uint8_t> &bytes, size_t offset, uint32_t value)
{
    PutLe16(bytes, offset, uint16_t(value));
    PutLe16(bytes, offset + 2, uint16_t(value >> 16));
}

uint16_t GetLe16(const std::vector<uint8_t> &bytes, size_t offset)
{
    return uint16_t(bytes.at(offset) | bytes.at(offset + 1) << 8);
}

uint32_t GetLe32(const std::vector<uint8_t> &bytes, size_t offset)
{
    return GetLe16(bytes, offset) | uint32_t(GetLe16(bytes, offset + 2)) << 16;
}

uint32_t CabChecksum(const uint8_t *data, size_t size, uint32_t seed)
{
    uint32_t sum = seed;
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        sum ^=
            uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16 | uint32_t(data[i + 3]) << 24;
    }
    // The last one to three bytes go in with the first of them highest.
    uint32_t tail = 0;
    for (; i < size; ++i) {
        tail = tail << 8 | data[i];
    }
    return sum ^ tail;
}

void RefreshChecksum(CabImage &image, size_t blockIndex, uint8_t dataReserve, bool coversReserve)
{
    std::vector<uint8_t> &bytes = image.Bytes;
    size_t at = image.Layout.Blocks.at(blockIndex);
    size_t size = GetLe16(bytes, at + 4);
    uint32_t sum = CabChecksum(bytes.data() + at + 8 + dataReserve, size, 0);
    // The payload is summed first, then cbData and cbUncomp (followed by
    // the reserve bytes when they count).
    size_t tail = 4 + (coversReserve ? dataReserve : 0);
    PutLe32(bytes, at, CabChecksum(bytes.data() + at + 4, tail, sum));
}

std::vector<uint8_t> EmbedAtOffset(const std::vector<uint8_t> &cabinet, size_t offset)
{
    std::vector<uint8_t> out(offset);
    for (size_t i = 0; i < offset; ++i) {
        uint8_t filler = uint8_t(i * 13 % 251);
        out[i] = filler == 'M' ? uint8_t('N') : filler; // no 'M', so no "MSCF"
    }
    out.insert(out.end(), cabinet.begin(), cabinet.end());
    return out;
}

std::vector<uint8_t> Bytes(const std::string &text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> out(size);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out[i] = uint8_t(state >> 11);
    }
    return out;
}

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed)
{
    static const char *const WORDS[] = {"cabinet ", "folder ", "block ", "the ",   "data ", "file\n",   "MSZIP ",
                                        "of ",      "window ", "and ",   "32768 ", "set ",  "reserve ", "name "};
    std::vector<uint8_t> out;
    out.reserve(size);
    uint32_t state = seed + 12345;
    while (out.size() < size) {
        state = state * 1103515245u + 12345u;
        const char *word = WORDS[(state >> 16) % (sizeof(WORDS) / sizeof(WORDS[0]))];
        for (const char *c = word; *c && out.size() < size; ++c) {
            out.push_back(uint8_t(*c));
        }
    }
    return out;
}

bool WriteWholeFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

} // namespace TestLib
