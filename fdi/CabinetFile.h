// An open cabinet as the copy session holds it: the client's handle, its
// stream, the parsed header and the folder table.
#pragma once

#include <cstdint>

#include "fdi/CabParser.h"
#include "fdi/CabStream.h"

namespace Fdi {

// Made and destroyed only by the copy session, which opens the handle,
// allocates the record and its folder table through the client's callbacks
// and closes and frees them again before FDICopy returns.
struct CabinetFile {
    CabinetFile(const FileCallbacks &files, intptr_t handle) : Stream(files, handle, StreamBuffer, STREAM_BUFFER_SIZE)
    {
    }

    CCabStream Stream;
    CabHeader Header;
    FolderEntry *Folders = nullptr; // Header.CFolders entries
    bool ContinuedFromPrev = false; // some CFFILE entry is 0xFFFD or 0xFFFF:
                                    // folder 0 continues the previous cabinet's last
    bool ContinuesToNext = false;   // some CFFILE entry is 0xFFFE or 0xFFFF:
                                    // the last folder goes on in the next cabinet
    uint8_t StreamBuffer[STREAM_BUFFER_SIZE];
};

// Supplies the cabinet in which a folder goes on.
class ICabinetChain {
public:
    virtual ~ICabinetChain() = default;
    // The folder being read ran out of blocks in current, of which it is the
    // last folder. On success *next is an open cabinet whose folder 0
    // continues it; current may have been closed.
    virtual Fault NextCabinet(CabinetFile *current, CabinetFile **next) = 0;
};

} // namespace Fdi
