// Reads back what the cabinet writer produced.
#include "tests/tools/CabInspect.h"

#include <cstring>

#include <zlib.h>

#include "tests/testlib/CabBuilder.h"

namespace {

// The test library's readers, independent of the writer's format header.
using TestLib::GetLe16;
using TestLib::GetLe32;

// One MSZIP block with the folder's output so far as history.
bool Inflate(const InspectedBlock &block, std::vector<uint8_t> &output, std::string &error)
{
    if (block.Payload.size() < 2 || block.Payload[0] != 'C' || block.Payload[1] != 'K') {
        error = "MSZIP block without CK";
        return false;
    }
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    inflateInit2(&stream, -15);
    size_t history = std::min<size_t>(output.size(), 32768);
    if (history > 0) {
        inflateSetDictionary(&stream, output.data() + output.size() - history, static_cast<uInt>(history));
    }
    std::vector<uint8_t> out(block.UncompressedSize + 1u);
    stream.next_in = const_cast<Bytef *>(block.Payload.data() + 2);
    stream.avail_in = static_cast<uInt>(block.Payload.size() - 2);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    int status = inflate(&stream, Z_FINISH);
    bool ok = status == Z_STREAM_END && stream.avail_in == 0 && stream.total_out == block.UncompressedSize;
    inflateEnd(&stream);
    if (!ok) {
        error = "MSZIP block does not inflate to its size with a final block (status " + std::to_string(status) + ")";
        return false;
    }
    output.insert(output.end(), out.data(), out.data() + block.UncompressedSize);
    return true;
}

} // namespace

std::vector<uint8_t> InspectedCabinet::FileData(size_t i) const
{
    const InspectedFile &file = Files[i];
    const std::vector<uint8_t> &data = Folders[file.Folder].Data;
    return std::vector<uint8_t>(data.data() + file.FolderOffset, data.data() + file.FolderOffset + file.Size);
}

bool InspectCabinet(const std::vector<uint8_t> &cab, InspectedCabinet &result, std::string &error)
{
    result = InspectedCabinet();
    if (cab.size() < 36 || std::memcmp(cab.data(), "MSCF", 4) != 0) {
        error = "no header";
        return false;
    }
    result.CabinetSize = GetLe32(cab, 8);
    result.FilesOffset = GetLe32(cab, 16);
    result.VersionMinor = cab[24];
    result.VersionMajor = cab[25];
    uint16_t folders = GetLe16(cab, 26);
    uint16_t files = GetLe16(cab, 28);
    result.Flags = GetLe16(cab, 30);

    size_t at = 36;
    for (uint16_t i = 0; i < folders; ++i, at += 8) {
        if (at + 8 > cab.size()) {
            error = "folder table cut short";
            return false;
        }
        result.Folders.push_back({GetLe32(cab, at), GetLe16(cab, at + 4), GetLe16(cab, at + 6), {}, {}});
    }
    at = result.FilesOffset;
    for (uint16_t i = 0; i < files; ++i) {
        if (at + 16 > cab.size()) {
            error = "file table cut short";
            return false;
        }
        InspectedFile file{GetLe32(cab, at),
                           GetLe32(cab, at + 4),
                           GetLe16(cab, at + 8),
                           GetLe16(cab, at + 10),
                           GetLe16(cab, at + 12),
                           GetLe16(cab, at + 14),
                           {}};
        at += 16;
        while (at < cab.size() && cab[at] != 0) {
            file.Name += static_cast<char>(cab[at++]);
        }
        ++at;
        result.Files.push_back(file);
    }

    for (InspectedFolder &folder : result.Folders) {
        at = folder.DataOffset;
        for (uint16_t i = 0; i < folder.BlockCount; ++i) {
            if (at + 8 > cab.size()) {
                error = "block header beyond the end";
                return false;
            }
            InspectedBlock block{GetLe32(cab, at), GetLe16(cab, at + 4), GetLe16(cab, at + 6), {}};
            at += 8;
            if (at + block.CompressedSize > cab.size()) {
                error = "block payload beyond the end";
                return false;
            }
            block.Payload.assign(cab.data() + at, cab.data() + at + block.CompressedSize);
            at += block.CompressedSize;
            if (folder.Compression == 1) {
                if (!Inflate(block, folder.Data, error)) {
                    return false;
                }
            } else {
                folder.Data.insert(folder.Data.end(), block.Payload.begin(), block.Payload.end());
            }
            folder.Blocks.push_back(std::move(block));
        }
    }
    for (const InspectedFile &file : result.Files) {
        if (file.Folder >= result.Folders.size() ||
            file.FolderOffset + static_cast<uint64_t>(file.Size) > result.Folders[file.Folder].Data.size()) {
            error = "file " + file.Name + " lies outside its folder's data";
            return false;
        }
    }
    return true;
}
