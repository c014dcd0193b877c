// Whether a package carries an Authenticode signature.
#include "tools/pe/Signature.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "tools/pe/PeImage.h"

namespace fs = std::filesystem;

namespace Selfex {

namespace {

constexpr size_t HEADER_READ = 64 * 1024;       // the PE headers of any stub lie well inside
constexpr uint32_t CERTIFICATE_HEADER_SIZE = 8; // WIN_CERTIFICATE up to its data

} // namespace

bool HasCertificateTable(const uint8_t *image, size_t headSize, uint64_t fileSize)
{
    PeDirectory table;
    if (!ReadPeDirectory(image, headSize, PE_DIRECTORY_SECURITY, table)) {
        return false;
    }
    return table.Size >= CERTIFICATE_HEADER_SIZE && table.Address != 0 && table.Address <= fileSize &&
           fileSize - table.Address >= table.Size;
}

std::string SignatureState(const std::string &path)
{
    // Only a regular file is opened: opening a FIFO would wait for a writer.
    std::error_code failed;
    if (!fs::is_regular_file(fs::u8path(path), failed)) {
        return "absent";
    }
    const uint64_t fileSize = fs::file_size(fs::u8path(path), failed);
    std::ifstream in(fs::u8path(path), std::ios::binary);
    std::vector<uint8_t> head(HEADER_READ);
    in.read(reinterpret_cast<char *>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    return !failed && HasCertificateTable(head.data(), head.size(), fileSize) ? "present" : "absent";
}

} // namespace Selfex
