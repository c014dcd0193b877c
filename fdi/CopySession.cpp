// One FDICopy call: the per-file loop over the cabinet's file table.
//
// Order of events for one cabinet: open; header; CABINET_INFO; folder
// table; file table; ENUMERATE; then per CFFILE entry in table order
// PARTIAL_FILE (continued from an earlier cabinet) or COPY_FILE, the file's
// writes and CLOSE_FILE_INFO; ENUMERATE; every handle closed, every block
// freed. The notifications are the client dialogue's (ClientDialogue.h),
// the table is the file table's (FileTable.h), and whatever lies in other
// cabinets of a set is the set walk's (CabinetSet.h).
#include "fdi/CopySession.h"

#include "fdi/CabFormat.h"
#include "fdi/CabinetSet.h"
#include "fdi/ClientDialogue.h"
#include "fdi/FileTable.h"
#include "fdi/FolderReader.h"
#include "fdi/Reason.h"

namespace Fdi {

namespace {

constexpr int32_t ERROR_NOT_ENOUGH_MEMORY_CODE = 8;

// The large buffers of one FDICopy, in one block.
struct WorkArea {
    uint8_t Input[BLOCK_INPUT_BUFFER];
    uint8_t Output[BLOCK_OUTPUT_MAX];
    char Path[CABINET_PATH_MAX];
};

class CCopySession final : private IOutputSink {
public:
    CCopySession(Context &context, const char *cabinetPath, PFNFDINOTIFY notify, void *user)
        : m_Memory(context.Memory), m_Files(context.Files), m_Dialogue(notify, user, cabinetPath),
          m_Set(context, cabinetPath, m_Dialogue, &m_Detail), m_Table(context.Memory)
    {
    }
    ~CCopySession() override;

    CCopySession(const CCopySession &) = delete;
    CCopySession &operator=(const CCopySession &) = delete;

    Fault Run(const char *cabinetName);
    int32_t Detail() const { return m_Detail; }

private:
    // NULL: the failing site said why already.
    Fault NoMemory(const char *reason);
    Fault Prepare();
    Fault ProcessEntries();
    Fault ProcessEntry(uint32_t index);
    Fault ExtractFile(const FileRecord &file, const char *name, intptr_t handle);
    Fault StartFolder(uint32_t folderIndex);
    Fault Write(const uint8_t *data, uint32_t size) override;

    const Allocator &m_Memory;
    const FileCallbacks &m_Files;
    int32_t m_Detail = 0;
    CClientDialogue m_Dialogue;
    CCabinetSet m_Set;
    CFileTable m_Table;
    WorkArea *m_Work = nullptr;
    CFolderReader *m_Reader = nullptr;
    intptr_t m_Target = 0; // output handle of the file being written
};

CCopySession::~CCopySession()
{
    // The reader first: its codec may hold memory; the set and the table
    // release theirs as members.
    m_Memory.Delete(m_Reader);
    m_Memory.Free(m_Work);
}

Fault CCopySession::NoMemory(const char *reason)
{
    m_Detail = ERROR_NOT_ENOUGH_MEMORY_CODE;
    return reason != nullptr ? Fail(Fault::NoMemory, reason) : Fault::NoMemory;
}

Fault CCopySession::Prepare()
{
    m_Work = static_cast<WorkArea *>(m_Memory.Alloc(uint32_t(sizeof(WorkArea))));
    if (m_Work == nullptr) {
        return NoMemory("no memory for the copy's buffers");
    }
    const Fault fault = m_Set.Prepare(m_Work->Path);
    if (fault != Fault::None) {
        return fault;
    }
    m_Reader = m_Memory.New<CFolderReader>(m_Memory, m_Work->Input, m_Work->Output);
    return m_Reader == nullptr ? NoMemory("no memory for the folder reader") : Fault::None;
}

Fault CCopySession::Run(const char *cabinetName)
{
    Fault fault = Prepare();
    if (fault != Fault::None) {
        return fault;
    }
    fault = m_Set.OpenFirst(cabinetName);
    if (fault != Fault::None) {
        return fault;
    }
    fault = m_Table.Load(m_Set.First());
    if (fault != Fault::None) {
        return fault == Fault::NoMemory ? NoMemory(nullptr) : fault;
    }
    return ProcessEntries();
}

Fault CCopySession::ProcessEntries()
{
    const CabHeader &header = m_Set.First().Header;
    uint32_t index = 0;
    uint32_t remaining = header.CFiles;
    Fault fault = m_Dialogue.Enumerate(header, &index, &remaining);
    while (fault == Fault::None) {
        if (remaining == 0) {
            // The end of the scan, unless the client asks for more entries.
            fault = m_Dialogue.Enumerate(header, &index, &remaining);
            if (remaining == 0) {
                break;
            }
            continue;
        }
        const uint32_t spans = m_Set.Spans();
        fault = ProcessEntry(index);
        ++index;
        --remaining;
        if (fault == Fault::None && m_Set.Spans() != spans) {
            // A file crossed into another cabinet.
            fault = m_Dialogue.Enumerate(header, &index, &remaining);
        }
    }
    return fault;
}

Fault CCopySession::ProcessEntry(uint32_t index)
{
    const FileRecord &file = m_Table.Record(index);
    char *name = m_Table.Name(file);
    if (IsContinuedFromPrev(file.IFolder)) {
        // Its bytes belong to a file an earlier cabinet's FDICopy wrote.
        return m_Dialogue.PartialFile(name, m_Set.First().Header);
    }
    intptr_t handle = 0;
    Fault fault = m_Dialogue.CopyFile(file, name, &handle);
    if (fault != Fault::None || handle == 0) {
        return fault; // stopped, or skipped
    }
    fault = ExtractFile(file, name, handle);
    if (fault != Fault::None) {
        // The client gets its handle back closed, and no CLOSE_FILE_INFO.
        m_Files.Close(handle);
        return fault;
    }
    return m_Dialogue.CloseFileInfo(file, name, handle);
}

Fault CCopySession::ExtractFile(const FileRecord &file, const char *name, intptr_t handle)
{
    if (file.Size == 0) {
        return Fault::None; // nothing to decode
    }
    const CabinetFile &first = m_Set.First();
    const CabHeader &header = first.Header;
    if (header.CFolders == 0) {
        return Fail(Fault::Corrupt, "a file with data in a cabinet without folders");
    }
    // 0xFFFE names the last folder; so does any index past it, as in
    // Windows' FDI.
    uint32_t folderIndex = file.IFolder;
    if (file.IFolder == IFOLD_CONTINUED_TO_NEXT || folderIndex >= header.CFolders) {
        folderIndex = header.CFolders - 1u;
    }
    // Offsets in a folder that came from an earlier cabinet, or goes on in
    // the next, count beyond this cabinet's blocks.
    const bool mayStartEarlier = folderIndex == 0 && header.HasPrev();
    const bool mayContinue = folderIndex + 1 == header.CFolders && header.HasNext();
    const uint64_t end = uint64_t(file.Offset) + file.Size;
    if (end > FOLDER_OUTPUT_MAX) {
        return Fail(Fault::Corrupt, "a file ending beyond the largest folder");
    }
    if (!mayStartEarlier && !mayContinue && end > uint64_t(first.Folders[folderIndex].CCFData) * BLOCK_OUTPUT_MAX) {
        return Fail(Fault::Corrupt, "a file ending beyond its folder's blocks");
    }
    m_Target = handle;
    m_Set.SetContinuedFile(name);
    if (!m_Reader->CanContinue(folderIndex, file.Offset)) {
        const Fault fault = StartFolder(folderIndex);
        if (fault != Fault::None) {
            return fault;
        }
    }
    return m_Reader->Produce(file.Offset, file.Size, *this);
}

Fault CCopySession::StartFolder(uint32_t folderIndex)
{
    m_Reader->Invalidate();
    m_Set.CloseOther();
    CabinetFile &first = m_Set.First();
    if (folderIndex != 0 || !first.Header.HasPrev()) {
        return m_Reader->Start(folderIndex, &m_Set, &first, folderIndex);
    }
    CabinetFile *start = nullptr;
    const Fault fault = m_Set.FindFolderStart(&start);
    if (fault != Fault::None) {
        return fault;
    }
    const uint32_t startFolder = start == &first ? 0 : start->Header.CFolders - 1u;
    return m_Reader->Start(folderIndex, &m_Set, start, startFolder);
}

Fault CCopySession::Write(const uint8_t *data, uint32_t size)
{
    const uint32_t written = m_Files.Write(m_Target, const_cast<uint8_t *>(data), size);
    return written == size ? Fault::None : Fail(Fault::TargetFile, "the write callback failed or wrote less");
}

} // namespace

Fault RunCopy(Context &context, const char *cabinetName, const char *cabinetPath, PFNFDINOTIFY notify, void *user,
              int32_t *detail)
{
    CCopySession session(context, cabinetPath, notify, user);
    const Fault fault = session.Run(cabinetName);
    *detail = fault == Fault::None ? 0 : session.Detail();
    return fault;
}

} // namespace Fdi
