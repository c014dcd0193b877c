// The walk through the cabinets of a set during one FDICopy.
//
// A folder that runs out of blocks in its cabinet continues in the first
// folder of the next one. Moving on past the cabinet FDICopy was called on
// asks the client with NEXT_CABINET, which names the cabinet, offers a
// writable directory buffer and reports the previous attempt's failure in
// fdie until the client supplies the right cabinet or returns -1. A file
// that starts in a folder continued from earlier cabinets is decoded from
// where that folder really starts: the earlier cabinets (named by the
// previous-cabinet fields, in the same directory) are opened and read
// silently up to this one. Besides the cabinet FDICopy was called on, one
// cabinet of the set stays open (the one the folder is read from), two for
// a moment while moving from one to the next.
#pragma once

#include <cstdint>

#include "fdi/CabinetFile.h"
#include "fdi/ClientDialogue.h"
#include "fdi/Context.h"

namespace Fdi {

// A directory joined with a cabinet name, NUL included.
constexpr uint32_t CABINET_PATH_MAX = 4096;

class CCabinetSet final : public ICabinetChain {
public:
    // cabinetPath: the FDICopy directory. *detail receives the ERF.erfType
    // value of a failure that has one (8 when memory ran out).
    CCabinetSet(Context &context, const char *cabinetPath, CClientDialogue &dialogue, int32_t *detail)
        : m_Memory(context.Memory), m_Files(context.Files), m_CabinetPath(cabinetPath), m_Dialogue(dialogue),
          m_Detail(detail)
    {
    }
    // Closes every cabinet still open and frees what the set allocated.
    ~CCabinetSet() override;

    CCabinetSet(const CCabinetSet &) = delete;
    CCabinetSet &operator=(const CCabinetSet &) = delete;

    // Takes path (CABINET_PATH_MAX bytes, alive as long as the set) for the
    // names it opens and allocates the directory buffer NEXT_CABINET offers.
    Fault Prepare(char *path);

    // Opens the cabinet FDICopy was called on and reads its header
    // (*detail: 2 for a path too long to open, the version for one above
    // 1.3), tells the client (CABINET_INFO) and reads its folder table.
    Fault OpenFirst(const char *cabinetName);
    CabinetFile &First() const { return *m_First; }

    // Where folder 0 of the first cabinet really starts: *start is the first
    // cabinet itself (its folder 0), or an earlier cabinet of the set, now
    // open (its last folder), when the folders are linked back to it. A
    // missing or unsuitable earlier cabinet is a failure only where the
    // entries say the folder goes back.
    Fault FindFolderStart(CabinetFile **start);

    // Closes the cabinet besides the first one, if any.
    void CloseOther();

    // The file being written: the next cabinet must continue it.
    void SetContinuedFile(const char *name) { m_ContinuedName = name; }
    // Cabinets reached through NEXT_CABINET so far.
    uint32_t Spans() const { return m_Spans; }

    Fault NextCabinet(CabinetFile *current, CabinetFile **next) override;

private:
    friend class CCabinetHold;

    Fault NoMemory(const char *reason);
    Fault JoinPath(const char *directory, bool addSeparator, const char *name);
    Fault OpenCabinet(CabinetFile **cabinet, uint16_t *version);
    Fault LoadFolders(CabinetFile &cabinet);
    void Close(CabinetFile *cabinet);
    Fault OpenEarlierCabinet(const char *name, uint32_t setIndex, CabinetFile **cabinet);
    Fault OpenLinkedPrevious(CabinetFile &current, CabinetFile **previous);
    bool IsLinkedBack(CabinetFile &previous, const CabinetFile &current);
    Fault AskForNextCabinet(CabinetFile *current, CabinetFile **next);
    Fault OpenWithClient(const CabHeader &from, uint16_t setIndex, CabinetFile **cabinet);
    Fault TryNextCabinet(const CabHeader &from, uint16_t setIndex, CabinetFile **cabinet);

    const Allocator &m_Memory;
    const FileCallbacks &m_Files;
    const char *m_CabinetPath;
    CClientDialogue &m_Dialogue;
    int32_t *m_Detail;

    char *m_Path = nullptr;          // CABINET_PATH_MAX bytes: the name being opened
    char *m_NextDirectory = nullptr; // the buffer NEXT_CABINET offers in psz3
    uint32_t m_NextDirectorySize = 0;
    CabinetFile *m_First = nullptr; // the cabinet FDICopy was called on
    CabinetFile *m_Other = nullptr; // another cabinet of the set the folder is read from
    const char *m_ContinuedName = nullptr;
    uint32_t m_Spans = 0;
};

} // namespace Fdi
