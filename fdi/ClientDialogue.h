// The notification dialogue of one FDICopy with its client: what each
// notification carries, and what the client's answer means.
//
// Every notification hands the client the pv given to FDICopy. An answer of
// -1 stops the copy (Fault::UserAbort); the other answers are read as the
// notification defines them.
#pragma once

#include <cstdint>

#include "fdi/CabParser.h"
#include "fdi/FileTable.h"

namespace Fdi {

class CClientDialogue {
public:
    // cabinetPath: the directory given to FDICopy, alive during the copy.
    CClientDialogue(PFNFDINOTIFY notify, void *user, const char *cabinetPath)
        : m_Notify(notify), m_User(user), m_CabinetPath(cabinetPath)
    {
    }

    // CABINET_INFO for a cabinet just opened: its successor's names, the
    // FDICopy directory, the set and the index.
    Fault CabinetInfo(const CabHeader &header);

    // ENUMERATE over the table of first: cb carries the next entry (*index),
    // iFolder the entries left (*remaining). The client may move to another
    // entry (cb within the table) or change the count, which is kept within
    // the entries left from *index on; 0 ends the scan.
    Fault Enumerate(const CabHeader &first, uint32_t *index, uint32_t *remaining);

    // PARTIAL_FILE: the entry continues a file that an earlier cabinet's
    // FDICopy wrote; psz2 and psz3 name that cabinet and its disk.
    Fault PartialFile(char *name, const CabHeader &first);

    // COPY_FILE: *handle receives the client's answer: 0 skips the file,
    // any other value is the output handle its bytes go to.
    Fault CopyFile(const FileRecord &file, char *name, intptr_t *handle);

    // CLOSE_FILE_INFO for a file whose bytes all went to handle: the stored
    // time and attributes (without _A_EXEC, which becomes cb 1: "run after
    // extraction"). The client closes the handle.
    Fault CloseFileInfo(const FileRecord &file, char *name, intptr_t handle);

    // NEXT_CABINET: the set goes on in cabinet setIndex, named by from. The
    // client may rewrite directory (psz3, the buffer where it is looked for);
    // fdie reports why the previous attempt failed, FDIERROR_NONE at first.
    Fault NextCabinet(const CabHeader &from, uint16_t setIndex, char *directory, FDIERROR fdie);

private:
    Fault Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION &note, intptr_t *answer = nullptr);

    PFNFDINOTIFY m_Notify;
    void *m_User;
    const char *m_CabinetPath;
};

} // namespace Fdi
