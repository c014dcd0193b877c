// The notification dialogue of one FDICopy with its client.
#include "fdi/ClientDialogue.h"

#include "fdi/Reason.h"

namespace Fdi {

Fault CClientDialogue::Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION &note, intptr_t *answer)
{
    note.pv = m_User;
    const intptr_t result = m_Notify(type, &note);
    if (answer != nullptr) {
        *answer = result;
    }
    if (result != -1) {
        return Fault::None;
    }
    // A client giving up on a next cabinet that failed leaves that
    // failure's reason in place: it says more than the stop.
    if (type == fdintNEXT_CABINET && note.fdie != FDIERROR_NONE) {
        return Fault::UserAbort;
    }
    return Fail(Fault::UserAbort, "the client stopped the copy (a notification returned -1)");
}

Fault CClientDialogue::CabinetInfo(const CabHeader &header)
{
    FDINOTIFICATION note{};
    note.psz1 = const_cast<char *>(header.NextCabinet);
    note.psz2 = const_cast<char *>(header.NextDisk);
    note.psz3 = const_cast<char *>(m_CabinetPath);
    note.setID = header.SetId;
    note.iCabinet = header.ICabinet;
    return Notify(fdintCABINET_INFO, note);
}

Fault CClientDialogue::Enumerate(const CabHeader &first, uint32_t *index, uint32_t *remaining)
{
    const uint32_t count = first.CFiles;
    FDINOTIFICATION note{};
    note.cb = int32_t(*index);
    note.iFolder = uint16_t(*remaining);
    note.setID = first.SetId;
    const Fault fault = Notify(fdintENUMERATE, note);
    if (fault != Fault::None) {
        return fault;
    }
    if (note.cb >= 0 && uint32_t(note.cb) < count) {
        *index = uint32_t(note.cb);
    }
    const uint32_t left = count - *index;
    *remaining = note.iFolder < left ? note.iFolder : left;
    return Fault::None;
}

Fault CClientDialogue::PartialFile(char *name, const CabHeader &first)
{
    FDINOTIFICATION note{};
    note.psz1 = name;
    note.psz2 = const_cast<char *>(first.PrevCabinet);
    note.psz3 = const_cast<char *>(first.PrevDisk);
    return Notify(fdintPARTIAL_FILE, note);
}

Fault CClientDialogue::CopyFile(const FileRecord &file, char *name, intptr_t *handle)
{
    FDINOTIFICATION note{};
    note.psz1 = name;
    note.cb = int32_t(file.Size);
    note.date = file.Date;
    note.time = file.Time;
    note.attribs = file.Attribs;
    note.iFolder = file.IFolder;
    return Notify(fdintCOPY_FILE, note, handle);
}

Fault CClientDialogue::CloseFileInfo(const FileRecord &file, char *name, intptr_t handle)
{
    FDINOTIFICATION note{};
    note.psz1 = name;
    note.hf = handle;
    note.date = file.Date;
    note.time = file.Time;
    note.attribs = uint16_t(file.Attribs & ~_A_EXEC);
    note.cb = (file.Attribs & _A_EXEC) ? 1 : 0;
    note.iFolder = file.IFolder;
    return Notify(fdintCLOSE_FILE_INFO, note);
}

Fault CClientDialogue::NextCabinet(const CabHeader &from, uint16_t setIndex, char *directory, FDIERROR fdie)
{
    FDINOTIFICATION note{};
    note.psz1 = const_cast<char *>(from.NextCabinet);
    note.psz2 = const_cast<char *>(from.NextDisk);
    note.psz3 = directory;
    note.setID = from.SetId;
    note.iCabinet = setIndex;
    note.fdie = fdie;
    return Notify(fdintNEXT_CABINET, note);
}

} // namespace Fdi
