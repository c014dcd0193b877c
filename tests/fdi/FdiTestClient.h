// An FDI client for tests: in-memory cabinets, recorded notifications and
// outputs, counted allocations, and switches to fail or abort at any step.
//
// FDI's memory and file callbacks carry no context pointer, so the client
// that is running registers itself globally; tests use one client at a
// time on one thread.
//
//   CFdiTestClient client;
//   client.AddFile("cabs\\a.cab", bytes);
//   bool ok = client.Copy("a.cab", "cabs\\");
//   EXPECT_EQ(client.Output("x.txt"), ...);
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/fdi/FdiTestApi.h"

namespace FdiTest {

// One notification as FDI sent it (strings copied).
struct Note {
    FDINOTIFICATIONTYPE Type;
    int32_t Cb = 0;
    std::string Psz1, Psz2, Psz3;
    bool HasPsz1 = false, HasPsz2 = false, HasPsz3 = false;
    intptr_t Hf = 0;
    uint16_t Date = 0, Time = 0, Attribs = 0, SetId = 0, ICabinet = 0, IFolder = 0;
    int Fdie = 0;
    bool PvMatched = false; // pv was the pvUser given to FDICopy
};

// One file FDI produced through a COPY_FILE handle.
struct Output {
    std::string Name;          // psz1 of COPY_FILE
    std::vector<uint8_t> Data; // bytes written
    uint32_t Writes = 0;       // write calls
    uint32_t LargestWrite = 0;
    bool CloseInfo = false;   // CLOSE_FILE_INFO arrived for it
    bool ClosedByFdi = false; // FDI called close on the handle
};

// One call of the file callbacks, for checking FDI's I/O pattern.
struct IoCall {
    char Kind;            // 'o' open, 'r' read, 's' seek, 'c' close, 'w' write
    intptr_t Handle;      // the handle (open: the result)
    int64_t A = 0;        // open: flags; read/write: count; seek: distance
    int64_t B = 0;        // open: permission; seek: origin
    int64_t Result = 0;   // read/write: count moved; seek: new position
    int64_t Position = 0; // cabinet position before the call (reads and seeks)
    std::string Path;     // open only
};

class CFdiTestClient {
public:
    CFdiTestClient();
    ~CFdiTestClient();

    CFdiTestClient(const CFdiTestClient &) = delete;
    CFdiTestClient &operator=(const CFdiTestClient &) = delete;

    // In-memory files FDI may open, by the exact path it will ask for.
    // base: where the cabinet starts in bytes; the client shifts every seek
    // and position by it, as an extractor does for an embedded cabinet.
    void AddFile(const std::string &path, const std::vector<uint8_t> &bytes, int64_t base = 0)
    {
        m_Files[path] = bytes;
        m_Bases[path] = base;
    }

    // FDICreate (if not done yet) then FDICopy. Returns FDICopy's result;
    // Erf() holds the error block afterwards.
    bool Copy(const std::string &cabinet, const std::string &directory);
    // Opens path and calls FDIIsCabinet on it at offset position.
    bool IsCabinet(const std::string &path, FDICABINETINFO *info, int64_t position = 0);
    // FDIDestroy; later calls create a new context.
    bool Destroy();

    const ERF &Erf() const { return m_Erf; }
    // Why the last call failed, from our decoder's extra entry; always
    // empty under Wine, whose Cabinet.dll has none.
    std::string Reason() const;
    void FillErf(int value) { m_Erf.erfOper = m_Erf.erfType = m_Erf.fError = value; }

    // Results.
    const std::vector<Note> &Notes() const { return m_Notes; }
    std::vector<FDINOTIFICATIONTYPE> NoteTypes() const;
    const std::vector<Output> &Outputs() const { return m_Outputs; }
    // The output named name (last one if several), or NULL.
    const Output *FindOutput(const std::string &name) const;
    const std::vector<IoCall> &IoLog() const { return m_Io; }
    int64_t LiveAllocations() const { return m_LiveAllocations; }
    int64_t TotalAllocations() const { return m_TotalAllocations; }
    int OpenCabinetHandles() const { return int(m_Open.size()); }
    // Calls of close on handles nobody opened (or closed twice).
    int StrayCloses() const { return m_StrayCloses; }
    // Calls of free on blocks the alloc callback never gave out.
    int StrayFrees() const { return m_StrayFrees; }
    void ClearRecords();

    // Behaviour switches.
    // Return value for notifications, by type; called for every one.
    // Default: CABINET_INFO/PARTIAL_FILE/NEXT_CABINET/ENUMERATE 0, COPY_FILE
    // a new output handle, CLOSE_FILE_INFO TRUE.
    std::function<intptr_t(FDINOTIFICATIONTYPE, FDINOTIFICATION *, intptr_t)> OnNote;
    // COPY_FILE accepts the file when this says so (default: all).
    std::function<bool(const std::string &name)> Want;
    // Abort (-1) at the n-th notification, counting from 1 (0: never).
    int AbortAtNote = 0;
    // Fail (return NULL) the n-th allocation, counting from 1 (0: never).
    int64_t FailAllocation = 0;
    // The n-th read returns ReadFailResult instead (0: never).
    int FailRead = 0;
    uint32_t ReadFailResult = uint32_t(-1);
    // The n-th write returns WriteFailResult instead (0: never).
    int FailWrite = 0;
    uint32_t WriteFailResult = uint32_t(-1);
    // First output handle COPY_FILE returns (later ones count up).
    intptr_t FirstOutputHandle = 0x70001;
    // Cabinet handles are numbered from here (never 0 or -1).
    intptr_t FirstCabinetHandle = 100;

    // The callbacks, for tests that call FDICreate themselves.
    static FNALLOC(Alloc);
    static FNFREE(Free);
    static FNOPEN(Open);
    static FNREAD(Read);
    static FNWRITE(Write);
    static FNCLOSE(Close);
    static FNSEEK(Seek);
    static FNFDINOTIFY(Notify);

private:
    struct OpenFile {
        std::string Path;
        int64_t Position = 0; // logical: counted from the cabinet's base
        int64_t Base = 0;
    };
    bool EnsureContext();
    intptr_t DefaultAnswer(FDINOTIFICATIONTYPE type, FDINOTIFICATION *note);

    HFDI m_Context = nullptr;
    ERF m_Erf{};
    void *m_User = nullptr;
    std::map<std::string, std::vector<uint8_t>> m_Files;
    std::map<std::string, int64_t> m_Bases;
    std::map<intptr_t, OpenFile> m_Open;
    std::map<intptr_t, size_t> m_OutputHandles; // open output handle -> index in m_Outputs
    std::vector<Note> m_Notes;
    std::vector<Output> m_Outputs;
    std::vector<IoCall> m_Io;
    std::map<void *, uint32_t> m_Blocks;
    int64_t m_LiveAllocations = 0, m_TotalAllocations = 0;
    intptr_t m_NextCabinetHandle = 0, m_NextOutputHandle = 0;
    int m_Reads = 0, m_Writes = 0, m_StrayCloses = 0, m_StrayFrees = 0;
};

// Builds a map from output name to content for easy comparisons.
std::map<std::string, std::vector<uint8_t>> OutputsByName(const CFdiTestClient &client);

} // namespace FdiTest
