// SHA-256 (FIPS 180-4) for comparing extracted files with the corpus hashes.
//
// Test code only: small and plain, no speed tricks. Feed bytes with Update
// in any number of pieces, then read the digest once with Finish or
// HexDigest; the object is then spent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace TestLib {

class CSha256 {
public:
    CSha256();

    // Adds size bytes at data to the message.
    void Update(const void *data, size_t size);
    // Pads the message and returns the 32-byte digest.
    std::array<uint8_t, 32> Finish();
    // Finish, as 64 lower-case hexadecimal digits.
    std::string HexDigest();

private:
    void Compress(const uint8_t *block);

    uint32_t m_State[8];
    uint8_t m_Block[64];
    size_t m_BlockUsed = 0;
    uint64_t m_TotalBytes = 0;
};

// The lower-case hexadecimal SHA-256 of size bytes at data.
std::string Sha256Hex(const void *data, size_t size);
inline std::string Sha256Hex(const std::vector<uint8_t> &bytes)
{
    return Sha256Hex(bytes.data(), bytes.size());
}

} // namespace TestLib
