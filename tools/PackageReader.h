// Reads packages and bare cabinets through Cabinet::CExtract, exactly as the
// stub does: the same header search, name checks, times and attributes.
//
// The extractor finds a cabinet only from offset 160000 on, where a package
// keeps it. A bare cabinet (a file that starts with "MSCF"), and every
// cabinet of its set, is read in place through a view that shows it behind
// 160000 zero bytes (tools/ToolExtract.h); no cabinet is ever copied.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cabinet/Extract.h"
#include "tools/TextConv.h"
#include "tools/ToolExtract.h"

namespace Selfex {

// One stored file as the extractor reports it.
struct StoredFile {
    std::string Name;     // stored name, UTF-8, "\" between levels
    uint32_t Size = 0;    // uncompressed bytes
    uint16_t Date = 0;    // MS-DOS date and time as stored; both 0 when the
    uint16_t Time = 0;    // stored value is not a valid date
    uint16_t Attribs = 0; // all 16 stored bits
};

// What an extraction run tells its observer; every call happens inside Copy.
class IExtractObserver {
public:
    virtual ~IExtractObserver() = default;
    // A file is about to be extracted to outPath (UTF-8 with "/"; a path
    // in a private folder when testing): true extracts it, false skips it.
    virtual bool OnFileStart(const StoredFile &file, const std::string &outPath) = 0;
    // written of the current file's size bytes are out.
    virtual void OnBytes(uint32_t written) = 0;
    // The current file is complete: size bytes, and when testing their CRC-32
    // (0 when extracting).
    virtual void OnFileDone(uint32_t size, uint32_t crc32) = 0;
};

class CPackageReader {
public:
    CPackageReader();
    ~CPackageReader();
    CPackageReader(const CPackageReader &) = delete;
    CPackageReader &operator=(const CPackageReader &) = delete;

    // Opens path (UTF-8), a package or a bare cabinet, and checks that it
    // holds a cabinet. False with a one-line message naming the file in error.
    bool Open(const std::string &path, std::string &error);
    // The file count from the cabinet header (of the first cabinet of a set).
    uint32_t HeaderFileCount() const { return m_HeaderFiles; }
    // Offset of the cabinet in the file: 0 for a bare cabinet.
    uint32_t CabinetOffset() const { return m_CabinetOffset; }
    // True when the first cabinet continues a set: its header names a
    // previous cabinet, where the files before it begin.
    bool Continues() const { return m_Continues; }

    // List, Test and Extract: false with a one-line reason in error, which
    // names the stored file, output or set member at fault but not the
    // package (the caller does). An interrupt fails them with
    // InterruptText().

    // Every stored file of the set, in order, without decoding any data.
    // Fails on the first stored name the extractor refuses as unsafe, and on
    // a set member that is not a plain file name beside the first cabinet.
    bool List(std::vector<StoredFile> &files, std::string &error);
    // Decodes every file without keeping it: each one is only counted and
    // checksummed, so memory does not grow with a file's size. The extractor
    // works in a private temporary folder, where it leaves empty files and
    // folders; the folder is removed before Test returns. With out, the
    // bytes of every file the observer takes go there too, in order.
    bool Test(IExtractObserver &observer, std::string &error, std::ostream *out = nullptr);
    // Whether Test hands its observer each file's CRC-32 (on by default;
    // off, the observer gets 0 and the run is faster).
    void SetCrcWanted(bool wanted) { m_Extract->SetCrcWanted(wanted); }
    // Extracts every file below destination (UTF-8, created if missing).
    bool Extract(const std::string &destination, IExtractObserver &observer, std::string &error);

private:
    bool Run(const std::string &destination, IExtractObserver *observer, std::vector<StoredFile> *files,
             std::string &error);

    std::unique_ptr<CToolExtract> m_Extract;
    WideString m_CabinetPath; // the path the extractor is given for the first cabinet
    uint32_t m_HeaderFiles = 0;
    uint32_t m_CabinetOffset = 0;
    bool m_Continues = false;
};

} // namespace Selfex
