// The extractor as the selfex tool drives it: Cabinet::CExtract with its raw
// I/O slots taken over, so that
//   - every cabinet is read in place through a CCabinetView (a bare cabinet
//     behind a zero prefix that is never written out), the first one under
//     the path the tool presents it by;
//   - set members named by a header are opened only as plain file names in
//     the first cabinet's folder, never a path;
//   - in checksum mode each output is only counted and checksummed: nothing
//     is written and no memory grows with a file's size; the bytes may go on
//     to a stream (extract --stdout). Where the platform allows it the
//     output is not even created: the extractor gets a handle no file is
//     behind (VirtualOutputs);
//   - an output that fails at the system (create, write, close) is recorded
//     with its path and errno, which the extractor's numbers do not carry;
//   - an interrupt (tools/Interrupt.h) fails the next read, write or open,
//     so the extractor's failure path removes the file in progress.
// When the tool itself refuses an operation, Refusal() says why in words.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>

#include "cabinet/Extract.h"
#include "tools/CabinetView.h"
#include "tools/TextConv.h"

namespace Selfex {

class CToolExtract final : public Cabinet::CExtract {
public:
    CToolExtract() = default;
    ~CToolExtract();

    // The first cabinet: opens of presentedPath (wide, "\" between levels)
    // read realPath (UTF-8). Set members are looked for in presentedPath's
    // folder, which must be realPath's folder too.
    void SetFirstCabinet(const WideString &presentedPath, const std::string &realPath);
    // Outputs written to disk (false), or only counted and checksummed
    // (true): the extractor still creates each output, empty.
    void SetChecksumOnly(bool checksumOnly) { m_ChecksumOnly = checksumOnly; }
    bool ChecksumOnly() const { return m_ChecksumOnly; }
    // True when checksum-mode outputs are handles without a file, so that
    // there is nothing to delete after each one.
    bool VirtualOutputs() const { return m_ChecksumOnly && VIRTUAL_OUTPUTS; }
    // In checksum mode, also hands every output byte to out (null: none).
    // A failed write to it stops the run with a refusal naming the reason.
    void SetStreamOut(std::ostream *out) { m_StreamOut = out; }
    // Whether checksum mode computes each output's CRC-32 (on by default);
    // without it only the bytes are counted, and the CRC reads 0. The CRC
    // costs a sixth of a decode's time, so it is left out where nobody reads it.
    void SetCrcWanted(bool wanted) { m_CrcWanted = wanted; }
    // Byte count and CRC-32 of the last output closed in checksum mode.
    uint32_t LastOutputSize() const { return m_LastOutputSize; }
    uint32_t LastOutputCrc() const { return m_LastOutputCrc; }
    // True when the first cabinet is a bare cabinet (no stub in front).
    bool FirstIsBare() const { return m_FirstIsBare; }
    int32_t Base() const { return CabinetBase(); }

    // Called with the next cabinet a header names, before the extractor can
    // open it: a name that is not a plain file name is refused (Refusal
    // says why) and the run is aborted. The same check guards every open.
    void CheckNextCabinet(const char *nameUtf8);

    // Why the tool refused an operation since the last ClearRefusal, or an
    // empty text: the refusal, not the extractor's numbers, explains a failure.
    const std::string &Refusal() const { return m_Refusal; }
    // In checksum mode, how far a file closed unfinished got ("only 5 of its
    // 100 stored bytes were decoded"), or an empty text.
    const std::string &ShortOutput() const { return m_ShortOutput; }
    void ClearRefusal()
    {
        m_Refusal.clear();
        m_ShortOutput.clear();
        m_SystemFailure = SystemFailure();
    }

    // The first output that failed at the system since ClearRefusal.
    struct SystemFailure {
        std::string Operation; // "create", "write" or "close"; empty when none failed
        std::string Path;      // the output path, UTF-8 with "/"
        int Errno = 0;         // the C runtime's errno then; 0 for a write that fell short without one
    };
    const SystemFailure &OutputFailure() const { return m_SystemFailure; }
    // The rule the extractor's last refused name broke, and that name
    // (UTF-8): a stored name, or a set member with ERR_BAD_SET_MEMBER.
    Cabinet::NameRule RefusedRule() const { return RefusedNameRule(); }
    std::string RefusedNameText() const { return WideToUtf8(RefusedName().Data); }
    // The file name of the cabinet opened last.
    const std::string &LastCabinet() const { return m_LastCabinet; }

protected:
    int32_t RawRead(int32_t handle, void *buffer, uint32_t count) override;
    int32_t RawWrite(int32_t handle, const void *buffer, uint32_t count) override;
    int32_t RawClose(int32_t handle) override;
    int32_t RawSeek(int32_t handle, int32_t offset, int origin) override;
    int32_t RawOpen(const WCHAR *path, int flags, int permission) override;

private:
#if defined(_WIN32)
    // The extractor asks the C runtime for the system handle of every
    // output, and Windows' runtime does not take an unknown descriptor
    // quietly: outputs stay real, empty files there.
    static constexpr bool VIRTUAL_OUTPUTS = false;
#else
    static constexpr bool VIRTUAL_OUTPUTS = true;
#endif
    // Far above any descriptor the system hands out.
    static constexpr int32_t FIRST_VIRTUAL_HANDLE = 0x40000000;

    struct ChecksumOutput {
        uint64_t Size = 0;
        uint32_t Crc = 0;
    };

    int32_t OpenCabinet(const WideString &path);
    std::string MemberNameRefusal(const WideString &name) const;
    int32_t Refuse(const std::string &reason);
    void RecordSystemFailure(const char *operation, const std::string &path, int error);
    std::string OutputPathOf(int32_t handle) const;

    WideString m_FirstPresented;
    std::string m_FirstReal;
    WideString m_Folder;       // presented folder, with its final "\"
    std::string m_FirstName;   // the first cabinet's file name, for messages
    std::string m_LastCabinet; // file name of the cabinet opened last, for messages
    bool m_FirstIsBare = false;
    bool m_ChecksumOnly = false;
    bool m_CrcWanted = true;
    std::map<int32_t, std::unique_ptr<CCabinetView>> m_Views;
    std::map<int32_t, ChecksumOutput> m_Outputs;
    std::map<int32_t, std::string> m_OutputPaths; // every open output, for messages
    int32_t m_NextVirtualHandle = FIRST_VIRTUAL_HANDLE;
    std::ostream *m_StreamOut = nullptr;
    SystemFailure m_SystemFailure;
    uint32_t m_LastOutputSize = 0;
    uint32_t m_LastOutputCrc = 0;
    std::string m_Refusal;
    std::string m_ShortOutput;
};

} // namespace Selfex
