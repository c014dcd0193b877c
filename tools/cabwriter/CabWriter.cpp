// Writes one MS-CAB cabinet.
#include "tools/cabwriter/CabWriter.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "tools/cabwriter/CabChecksum.h"
#include "tools/cabwriter/MszipEncoder.h"

namespace Selfex {

namespace {

bool IsAscii(const std::string &text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Where each member goes: its folder and its offset in the folder's
// uncompressed data.
struct Placement {
    std::vector<uint16_t> Folder;
    std::vector<uint32_t> Offset;
    std::vector<uint32_t> FolderBytes; // per folder
    uint32_t FolderCount = 0;
};

Placement PlaceMembers(const std::vector<CabMember> &members, uint32_t folderLimit)
{
    Placement placement;
    uint64_t used = 0;
    for (const CabMember &member : members) {
        // An empty file fits anywhere; it never opens a folder of its own.
        if (placement.FolderCount == 0 || (member.Size > 0 && used > 0 && used + member.Size > folderLimit)) {
            ++placement.FolderCount;
            placement.FolderBytes.push_back(0);
            used = 0;
        }
        placement.Folder.push_back(static_cast<uint16_t>(placement.FolderCount - 1));
        placement.Offset.push_back(static_cast<uint32_t>(used));
        used += member.Size;
        placement.FolderBytes.back() = static_cast<uint32_t>(used);
    }
    return placement;
}

// CFHEADER, the CFFOLDER table with its sizes still open, and the CFFILE table.
std::vector<uint8_t> BuildTables(const std::vector<CabMember> &members, const Placement &placement,
                                 const CabOptions &options)
{
    uint32_t filesOffset = CAB_HEADER_SIZE + CAB_FOLDER_ENTRY_SIZE * placement.FolderCount;
    uint32_t size = filesOffset;
    for (const CabMember &member : members) {
        size += CAB_FILE_ENTRY_FIXED + static_cast<uint32_t>(member.Name.size()) + 1;
    }
    std::vector<uint8_t> tables(size, 0);

    uint8_t *header = tables.data();
    header[0] = 'M';
    header[1] = 'S';
    header[2] = 'C';
    header[3] = 'F';
    // cbCabinet (offset 8) waits for the end of the run.
    PutLe32(header + 16, filesOffset); // coffFiles
    header[24] = CAB_VERSION_MINOR;
    header[25] = CAB_VERSION_MAJOR;
    PutLe16(header + 26, static_cast<uint16_t>(placement.FolderCount));
    PutLe16(header + 28, static_cast<uint16_t>(members.size()));
    PutLe16(header + 30, 0); // flags: no set neighbours, no reserve
    PutLe16(header + 32, options.SetId);
    PutLe16(header + 34, 0); // iCabinet

    uint16_t method = CAB_COMPRESS_NONE;
    if (options.Method == Compression::Mszip) {
        method = CAB_COMPRESS_MSZIP;
    } else if (options.Method == Compression::Lzx) {
        method = static_cast<uint16_t>(CAB_COMPRESS_LZX | options.LzxWindowBits << 8);
    }
    for (uint32_t i = 0; i < placement.FolderCount; ++i) {
        PutLe16(header + CAB_HEADER_SIZE + CAB_FOLDER_ENTRY_SIZE * i + 6, method);
    }

    uint8_t *entry = tables.data() + filesOffset;
    for (size_t i = 0; i < members.size(); ++i) {
        const CabMember &member = members[i];
        uint16_t attribs = member.Attribs & CAB_ATTRIB_STORABLE;
        if (!IsAscii(member.Name)) {
            attribs |= CAB_ATTRIB_NAME_IS_UTF;
        }
        PutLe32(entry, member.Size);
        PutLe32(entry + 4, placement.Offset[i]);
        PutLe16(entry + 8, placement.Folder[i]);
        PutLe16(entry + 10, member.Date);
        PutLe16(entry + 12, member.Time);
        PutLe16(entry + 14, attribs);
        std::copy(member.Name.begin(), member.Name.end(), entry + CAB_FILE_ENTRY_FIXED);
        entry += CAB_FILE_ENTRY_FIXED + member.Name.size() + 1; // the terminator is already 0
    }
    return tables;
}

// Cuts a folder's data into CFDATA blocks and appends them to the sink.
class CBlockWriter {
public:
    CBlockWriter(const CabOptions &options, ICabSink &sink, uint32_t offset)
        : m_Options(options), m_Sink(sink), m_Offset(offset)
    {
        if (options.Method == Compression::Lzx) {
            m_Lzx = std::make_unique<CLzxEncoder>(options.LzxWindowBits, options.LzxLevel);
        }
    }

    uint32_t Offset() const { return m_Offset; }
    uint32_t FolderBlocks() const { return m_FolderBlocks; }
    uint32_t TotalBlocks() const { return m_TotalBlocks; }

    // folderBytes: the uncompressed size of the folder.
    void StartFolder(uint32_t folderBytes)
    {
        m_Encoder.StartFolder();
        if (m_Lzx) {
            m_Lzx->StartFolder(folderBytes);
        }
        m_Fill = 0;
        m_FolderBlocks = 0;
    }

    // The unfilled part of the current block.
    uint8_t *Space() { return m_Block + m_Fill; }
    uint32_t SpaceBytes() const { return CAB_BLOCK_SIZE - m_Fill; }

    // Takes count bytes placed at Space(); a full block is written at once.
    bool Commit(uint32_t count, std::string &error)
    {
        m_Fill += count;
        return m_Fill < CAB_BLOCK_SIZE || Flush(error);
    }

    // Writes the last, partial block of the folder, if any, and for LZX the
    // blocks the encoder still holds.
    bool FinishFolder(std::string &error)
    {
        if (m_Fill != 0 && !Flush(error)) {
            return false;
        }
        if (!m_Lzx) {
            return true;
        }
        m_Lzx->FinishFolder();
        return WriteLzxFrames(error);
    }

private:
    bool Flush(std::string &error)
    {
        uint32_t size = m_Fill;
        m_Fill = 0;
        if (m_Lzx) {
            // LZX blocks span several frames: their payloads come when a block is complete.
            m_Lzx->AddFrame(m_Block, size);
            return WriteLzxFrames(error);
        }
        uint8_t *payload = m_Output + CAB_DATA_HEADER_SIZE;
        uint32_t compressed = size;
        if (m_Options.Method == Compression::Mszip) {
            compressed = m_Encoder.CompressBlock(m_Block, size, payload, MSZIP_OUTPUT_CAPACITY);
            if (compressed == 0 || compressed > CAB_MAX_PAYLOAD) {
                error = "MSZIP compression failed";
                return false;
            }
        } else {
            std::copy(m_Block, m_Block + size, payload);
        }
        return WriteData(payload, compressed, size, error);
    }

    bool WriteLzxFrames(std::string &error)
    {
        const std::vector<uint8_t> &output = m_Lzx->Output();
        uint32_t start = 0;
        for (size_t i = 0; i < m_Lzx->FrameEnds().size(); ++i) {
            uint32_t end = m_Lzx->FrameEnds()[i];
            std::copy(output.data() + start, output.data() + end, m_Output + CAB_DATA_HEADER_SIZE);
            if (!WriteData(m_Output + CAB_DATA_HEADER_SIZE, end - start, m_Lzx->FrameSizes()[i], error)) {
                return false;
            }
            start = end;
        }
        m_Lzx->ClearOutput();
        return true;
    }

    // Writes one CFDATA block whose payload lies at m_Output + CAB_DATA_HEADER_SIZE.
    bool WriteData(const uint8_t *payload, uint32_t size, uint32_t uncompressed, std::string &error)
    {
        uint32_t total = CAB_DATA_HEADER_SIZE + size;
        if (static_cast<uint64_t>(m_Offset) + total > m_Options.MaxCabinetBytes) {
            error = "the cabinet would be larger than " + std::to_string(m_Options.MaxCabinetBytes) +
                    " bytes, more than the extractor can address";
            return false;
        }
        PutLe32(m_Output, CabDataChecksum(payload, static_cast<uint16_t>(size), static_cast<uint16_t>(uncompressed)));
        PutLe16(m_Output + 4, static_cast<uint16_t>(size));
        PutLe16(m_Output + 6, static_cast<uint16_t>(uncompressed));
        if (!m_Sink.Append(m_Output, total, error)) {
            return false;
        }
        m_Offset += total;
        ++m_FolderBlocks;
        ++m_TotalBlocks;
        return true;
    }

    const CabOptions &m_Options;
    ICabSink &m_Sink;
    CMszipEncoder m_Encoder;
    std::unique_ptr<CLzxEncoder> m_Lzx;
    uint32_t m_Offset;
    uint32_t m_Fill = 0;
    uint32_t m_FolderBlocks = 0;
    uint32_t m_TotalBlocks = 0;
    uint8_t m_Block[CAB_BLOCK_SIZE];
    uint8_t m_Output[CAB_DATA_HEADER_SIZE + std::max(MSZIP_OUTPUT_CAPACITY, CAB_MAX_PAYLOAD)];
};

// Copies one member into the folder's blocks, checking that its source
// delivers exactly Size bytes.
bool CopyMember(const CabMember &member, IMemberSource &source, CBlockWriter &blocks, std::string &error)
{
    if (!source.Open(member, error)) {
        return false;
    }
    uint32_t remaining = member.Size;
    bool ok = true;
    while (ok && remaining > 0) {
        uint32_t want = std::min(remaining, blocks.SpaceBytes());
        int64_t got = source.Read(blocks.Space(), want, error);
        if (got <= 0) {
            if (got == 0) {
                error = member.Name + ": the file became shorter while it was being packed";
            }
            ok = false;
            break;
        }
        remaining -= static_cast<uint32_t>(got);
        ok = blocks.Commit(static_cast<uint32_t>(got), error);
    }
    if (ok) {
        uint8_t probe;
        int64_t extra = source.Read(&probe, 1, error);
        if (extra != 0) {
            if (extra > 0) {
                error = member.Name + ": the file grew while it was being packed";
            }
            ok = false;
        }
    }
    source.Close();
    return ok;
}

// A folder's blocks, made apart from the cabinet by one of several workers.
struct FolderData {
    std::vector<uint8_t> Bytes;
    uint32_t Blocks = 0;
    uint64_t Uncompressed = 0;
    bool Done = false;
    bool Ok = false;
    std::string Error;
};

class CMemorySink : public ICabSink {
public:
    explicit CMemorySink(std::vector<uint8_t> &bytes) : m_Bytes(bytes) {}
    bool Append(const uint8_t *data, size_t size, std::string &) override
    {
        m_Bytes.insert(m_Bytes.end(), data, data + size);
        return true;
    }
    bool Overwrite(uint32_t, const uint8_t *, size_t, std::string &error) override
    {
        error = "a folder's blocks are never rewritten";
        return false;
    }

private:
    std::vector<uint8_t> &m_Bytes;
};

// Compresses the folder whose members begin at first into data.
void CompressFolder(const std::vector<CabMember> &members, const Placement &placement, uint32_t folder, size_t first,
                    const CabOptions &options, IMemberSource &source, FolderData &data)
{
    // The cabinet's size limit is checked as the folders are put together.
    CabOptions unbounded = options;
    unbounded.MaxCabinetBytes = UINT32_MAX;
    try {
        CMemorySink sink(data.Bytes);
        auto blocks = std::make_unique<CBlockWriter>(unbounded, sink, 0);
        blocks->StartFolder(placement.FolderBytes[folder]);
        data.Ok = true;
        for (size_t i = first; data.Ok && i < members.size() && placement.Folder[i] == folder; ++i) {
            data.Ok = CopyMember(members[i], source, *blocks, data.Error);
            data.Uncompressed += members[i].Size;
        }
        data.Ok = data.Ok && blocks->FinishFolder(data.Error);
        data.Blocks = blocks->FolderBlocks();
    } catch (const std::bad_alloc &) {
        data.Ok = false;
        data.Error = "out of memory";
    }
}

// The folders of a cabinet compressed by one worker per source, appended
// in order by the calling thread. Workers stay at most a few folders ahead
// of the one being written, so that memory holds no more than that many
// compressed folders. False when no worker could start (nothing is written
// then), or with error after a failure.
class CFolderScheduler {
public:
    CFolderScheduler(const std::vector<CabMember> &members, const Placement &placement, const CabOptions &options)
        : m_Members(members), m_Placement(placement), m_Options(options), m_Data(placement.FolderCount),
          m_First(placement.FolderCount, members.size())
    {
        for (size_t i = members.size(); i-- > 0;) {
            m_First[placement.Folder[i]] = i;
        }
    }

    bool Start(std::vector<std::unique_ptr<IMemberSource>> &sources)
    {
        m_Ahead = static_cast<uint32_t>(sources.size()) + 1;
        for (std::unique_ptr<IMemberSource> &source : sources) {
            try {
                m_Threads.emplace_back(&CFolderScheduler::Work, this, source.get());
            } catch (const std::system_error &) {
                break; // the workers that did start take every folder between them
            }
        }
        return !m_Threads.empty();
    }

    // The next folder's blocks, once made; null after the last one.
    FolderData *Next()
    {
        if (m_Written > 0) {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Data[m_Written - 1] = FolderData(); // written: its memory goes
        }
        if (m_Written == m_Data.size()) {
            return nullptr;
        }
        std::unique_lock<std::mutex> guard(m_Lock);
        m_Changed.wait(guard, [this] { return m_Data[m_Written].Done; });
        FolderData *data = &m_Data[m_Written];
        ++m_Written;
        m_Changed.notify_all();
        return data;
    }

    ~CFolderScheduler()
    {
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Stop = true;
        }
        m_Changed.notify_all();
        for (std::thread &thread : m_Threads) {
            thread.join();
        }
    }

private:
    void Work(IMemberSource *source)
    {
        for (;;) {
            uint32_t folder;
            {
                std::unique_lock<std::mutex> guard(m_Lock);
                m_Changed.wait(guard,
                               [this] { return m_Stop || m_Taken == m_Data.size() || m_Taken < m_Written + m_Ahead; });
                if (m_Stop || m_Taken == m_Data.size()) {
                    return;
                }
                folder = m_Taken++;
            }
            FolderData data;
            CompressFolder(m_Members, m_Placement, folder, m_First[folder], m_Options, *source, data);
            {
                std::lock_guard<std::mutex> guard(m_Lock);
                data.Done = true;
                m_Data[folder] = std::move(data);
            }
            m_Changed.notify_all();
        }
    }

    const std::vector<CabMember> &m_Members;
    const Placement &m_Placement;
    const CabOptions &m_Options;
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::vector<FolderData> m_Data; // by folder
    std::vector<size_t> m_First;    // each folder's first member
    uint32_t m_Taken = 0;           // folders handed to workers
    uint32_t m_Written = 0;         // folders handed to the writer
    uint32_t m_Ahead = 1;
    bool m_Stop = false;
    std::vector<std::thread> m_Threads;
};

// Sources for the workers, or none when a single one would do.
std::vector<std::unique_ptr<IMemberSource>> ForkSources(IMemberSource &source, const CabOptions &options,
                                                        uint32_t folders)
{
    std::vector<std::unique_ptr<IMemberSource>> sources;
    const uint32_t workers = std::min<uint32_t>(options.Jobs, folders);
    for (uint32_t i = 0; workers > 1 && i < workers; ++i) {
        std::unique_ptr<IMemberSource> fork = source.Fork();
        if (!fork) {
            break;
        }
        sources.push_back(std::move(fork));
    }
    if (sources.size() < 2) {
        sources.clear();
    }
    return sources;
}

// The header and folder table again, now complete: the cabinet ends at end.
bool FinishCabinet(std::vector<uint8_t> &tables, const Placement &placement, uint32_t end, ICabSink &sink,
                   CabSummary &summary, size_t files, std::string &error)
{
    PutLe32(tables.data() + 8, end); // cbCabinet
    uint32_t fixedPart = CAB_HEADER_SIZE + CAB_FOLDER_ENTRY_SIZE * placement.FolderCount;
    if (!sink.Overwrite(0, tables.data(), fixedPart, error)) {
        return false;
    }
    summary.Files = static_cast<uint32_t>(files);
    summary.Folders = placement.FolderCount;
    summary.CabinetBytes = end;
    return true;
}

} // namespace

bool CheckCabMembers(const std::vector<CabMember> &members, const CabOptions &options, std::string &error)
{
    if (members.size() > CAB_MAX_FILES) {
        error = std::to_string(members.size()) + " files: a cabinet holds at most " + std::to_string(CAB_MAX_FILES);
        return false;
    }
    if (options.Method == Compression::Lzx &&
        (options.LzxWindowBits < LZX_MIN_WINDOW_BITS || options.LzxWindowBits > LZX_MAX_WINDOW_BITS ||
         options.LzxLevel < LZX_MIN_LEVEL || options.LzxLevel > LZX_MAX_LEVEL)) {
        error = "LZX takes window sizes of 2^" + std::to_string(LZX_MIN_WINDOW_BITS) + " to 2^" +
                std::to_string(LZX_MAX_WINDOW_BITS) + " bytes and levels " + std::to_string(LZX_MIN_LEVEL) + " to " +
                std::to_string(LZX_MAX_LEVEL);
        return false;
    }
    if (options.FolderLimit == 0 || options.FolderLimit > CAB_MAX_FOLDER_BYTES) {
        error = "the folder size must lie between 1 and " + std::to_string(CAB_MAX_FOLDER_BYTES) + " bytes";
        return false;
    }
    for (const CabMember &member : members) {
        if (member.Name.empty() || member.Name.size() > CAB_MAX_NAME_BYTES) {
            error = "\"" + member.Name + "\": a stored name must be 1 to " + std::to_string(CAB_MAX_NAME_BYTES) +
                    " bytes long, this one has " + std::to_string(member.Name.size());
            return false;
        }
        if (member.Name.find('\0') != std::string::npos) {
            error = "a stored name holds a zero byte";
            return false;
        }
        if (member.Size > CAB_MAX_FOLDER_BYTES) {
            error = member.Name + ": " + std::to_string(member.Size) + " bytes, more than a cabinet folder holds (" +
                    std::to_string(CAB_MAX_FOLDER_BYTES) + ")";
            return false;
        }
    }
    return true;
}

bool WriteCabinet(const std::vector<CabMember> &members, const CabOptions &options, IMemberSource &source,
                  ICabSink &sink, CabSummary &summary, std::string &error)
{
    summary = CabSummary();
    if (!CheckCabMembers(members, options, error)) {
        return false;
    }

    // 1. The tables, with the sizes that compression decides still open.
    Placement placement = PlaceMembers(members, options.FolderLimit);
    std::vector<uint8_t> tables = BuildTables(members, placement, options);
    if (tables.size() > options.MaxCabinetBytes) {
        error = "the file table alone is larger than the cabinet may be";
        return false;
    }
    if (!sink.Append(tables.data(), tables.size(), error)) {
        return false;
    }

    // 2. The data blocks, folder by folder, noting where each folder starts.
    std::vector<std::unique_ptr<IMemberSource>> sources = ForkSources(source, options, placement.FolderCount);
    if (!sources.empty()) {
        CFolderScheduler scheduler(members, placement, options);
        if (scheduler.Start(sources)) {
            uint32_t offset = static_cast<uint32_t>(tables.size());
            for (uint32_t folder = 0; folder < placement.FolderCount; ++folder) {
                FolderData *data = scheduler.Next();
                if (!data->Ok) {
                    error = data->Error;
                    return false;
                }
                if (static_cast<uint64_t>(offset) + data->Bytes.size() > options.MaxCabinetBytes) {
                    error = "the cabinet would be larger than " + std::to_string(options.MaxCabinetBytes) +
                            " bytes, more than the extractor can address";
                    return false;
                }
                if (!sink.Append(data->Bytes.data(), data->Bytes.size(), error)) {
                    return false;
                }
                uint8_t *entry = tables.data() + CAB_HEADER_SIZE + CAB_FOLDER_ENTRY_SIZE * folder;
                PutLe32(entry, offset);
                PutLe16(entry + 4, static_cast<uint16_t>(data->Blocks));
                offset += static_cast<uint32_t>(data->Bytes.size());
                summary.Blocks += data->Blocks;
                summary.UncompressedBytes += data->Uncompressed;
            }
            return FinishCabinet(tables, placement, offset, sink, summary, members.size(), error);
        }
    }
    auto blocks = std::make_unique<CBlockWriter>(options, sink, static_cast<uint32_t>(tables.size()));
    size_t next = 0;
    for (uint32_t folder = 0; folder < placement.FolderCount; ++folder) {
        uint8_t *entry = tables.data() + CAB_HEADER_SIZE + CAB_FOLDER_ENTRY_SIZE * folder;
        PutLe32(entry, blocks->Offset()); // coffCabStart
        blocks->StartFolder(placement.FolderBytes[folder]);
        for (; next < members.size() && placement.Folder[next] == folder; ++next) {
            if (!CopyMember(members[next], source, *blocks, error)) {
                return false;
            }
            summary.UncompressedBytes += members[next].Size;
        }
        if (!blocks->FinishFolder(error)) {
            return false;
        }
        PutLe16(entry + 4, static_cast<uint16_t>(blocks->FolderBlocks())); // cCFData
    }

    summary.Blocks = blocks->TotalBlocks();
    return FinishCabinet(tables, placement, blocks->Offset(), sink, summary, members.size(), error);
}

} // namespace Selfex
