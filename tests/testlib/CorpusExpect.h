// Readers for the cabinet corpus: MANIFEST.tsv and the FILE.expected.tsv
// files beside each valid cabinet.
//
// Both are UTF-8, tab-separated, with one header row naming the columns.
// Columns are found by name, so added columns do not break the readers.
// Reading fails (false, with a message) on a missing file, a missing
// column or a malformed number; tests report that as a test failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TestLib {

// One CFFILE entry as the corpus expects it (one row of FILE.expected.tsv).
struct ExpectedEntry {
    std::string Name;              // printable form of the stored name
    std::string NameBytes;         // the exact stored name bytes (from name_hex)
    uint32_t Size = 0;             // uncompressed size
    std::string Sha256;            // lower-case hex digest of the whole file's content
    uint16_t DosDate = 0;          // raw MS-DOS date
    uint16_t DosTime = 0;          // raw MS-DOS time
    uint16_t Attribs = 0;          // raw attribute bits
    uint16_t IFolder = 0;          // raw CFFILE folder index (0xFFFD..0xFFFF: continued)
    std::string FolderCompression; // "none", "MSZIP", "LZX:21", "Quantum:2/18", ...
    std::string FdiEvent;          // "COPY_FILE" or "PARTIAL_FILE"
    uint64_t CabOffset = 0;        // offset of the cabinet holding the entry within the file
};

// One corpus file (one row of MANIFEST.tsv).
struct ManifestEntry {
    std::string File;              // file name in the corpus folder
    std::string Compression;       // folder compression types, e.g. "none+unknown(15)"
    std::string Validity;          // "valid", "malformed" or "embedded"
    std::string Notes;             // what the file exercises
    uint64_t Size = 0;             // file size in bytes
    std::string Sha256;            // digest of the file itself
    std::string CabextractSummary; // cabextract -t result, for orientation only

    bool IsValid() const { return Validity == "valid"; }
    bool IsMalformed() const { return Validity == "malformed"; }
};

// The corpus folder: $SELFEX_CORPUS, else the source tree's tests/corpus
// under $SELFEX_SOURCE_DIR, else "tests/corpus".
std::string CorpusDir();

// Reads a FILE.expected.tsv. false with *error set when it cannot.
bool ReadExpected(const std::string &path, std::vector<ExpectedEntry> *entries, std::string *error);
// Reads MANIFEST.tsv. false with *error set when it cannot.
bool ReadManifest(const std::string &path, std::vector<ManifestEntry> *entries, std::string *error);

// The whole content of a file; false when it cannot be read.
bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *bytes);
// True when path names a readable file.
bool FileExists(const std::string &path);

} // namespace TestLib
