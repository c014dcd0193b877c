// One FDICopy call.
//
// Order of events for one cabinet: open; header; CABINET_INFO; folder
// table; file table; ENUMERATE; then per CFFILE entry in table order
// PARTIAL_FILE (continued from an earlier cabinet) or COPY_FILE, the file's
// writes and CLOSE_FILE_INFO; ENUMERATE; every handle closed, every block
// freed.
//
// Cabinet sets. A folder that runs out of blocks in its cabinet continues
// in the first folder of the next one. Moving on past the cabinet FDICopy
// was called on asks the client with NEXT_CABINET, which names the
// cabinet, offers a writable directory buffer and reports the previous
// attempt's failure in fdie until the client supplies the right cabinet or
// returns -1. A file that starts in a folder continued from earlier
// cabinets is decoded from where that folder really starts: the earlier
// cabinets (named by the previous-cabinet fields, in the same directory)
// are opened and read silently up to this one. Besides the cabinet FDICopy
// was called on, one cabinet of the set stays open (the one the folder is
// read from), two for a moment while moving from one to the next.
#include "fdi/CopySession.h"

#include <cstring>

#include "fdi/CabFormat.h"
#include "fdi/CabParser.h"
#include "fdi/CabinetFile.h"
#include "fdi/FolderReader.h"

namespace Fdi {

namespace {

// Cabinets are opened as Cabinet.dll opens them: _O_BINARY | _O_RDONLY,
// with _S_IREAD | _S_IWRITE.
constexpr int CABINET_OPEN_FLAGS = 0x8000;
constexpr int CABINET_OPEN_PERMISSION = 0x0180;
// A directory joined with a cabinet name, NUL included.
constexpr uint32_t PATH_MAX_BYTES = 4096;
// The directory buffer offered in NEXT_CABINET has room for at least this.
constexpr uint32_t NEXT_DIRECTORY_MIN = CB_MAX_CAB_PATH;
// Win32 error numbers FDI leaves in erfType.
constexpr int32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr int32_t ERROR_NOT_ENOUGH_MEMORY_CODE = 8;

// A CFFILE entry of the cabinet FDICopy was called on.
struct FileRecord {
    uint32_t Size;
    uint32_t Offset;
    uint16_t IFolder, Date, Time, Attribs;
    uint32_t NameOffset; // into the names block
};

// The large buffers of one FDICopy, in one block.
struct WorkArea {
    uint8_t Input[BLOCK_INPUT_BUFFER];
    uint8_t Output[BLOCK_OUTPUT_MAX];
    char Path[PATH_MAX_BYTES];
};

bool SameNameIgnoringCase(const char *first, const char *second)
{
    for (;; ++first, ++second) {
        unsigned char a = static_cast<unsigned char>(*first);
        unsigned char b = static_cast<unsigned char>(*second);
        if (a >= 'A' && a <= 'Z') {
            a = static_cast<unsigned char>(a + ('a' - 'A'));
        }
        if (b >= 'A' && b <= 'Z') {
            b = static_cast<unsigned char>(b + ('a' - 'A'));
        }
        if (a != b) {
            return false;
        }
        if (a == 0) {
            return true;
        }
    }
}

class CCopySession final : public ICabinetChain, private IOutputSink {
public:
    CCopySession(Context &context, const char *cabinetPath, PFNFDINOTIFY notify, void *user)
        : m_Memory(context.Memory), m_Files(context.Files), m_CabinetPath(cabinetPath), m_Notify(notify), m_User(user)
    {
    }
    ~CCopySession() override;

    CCopySession(const CCopySession &) = delete;
    CCopySession &operator=(const CCopySession &) = delete;

    Fault Run(const char *cabinetName);
    int32_t Detail() const { return m_Detail; }

private:
    void *Allocate(uint32_t size);
    Fault NoMemory();

    // Cabinet files.
    Fault JoinPath(const char *directory, bool addSeparator, const char *name);
    Fault OpenCabinet(const char *path, CabinetFile **cabinet, uint16_t *version);
    Fault LoadFolders(CabinetFile *cabinet);
    Fault LoadFileTable();
    Fault ScanFileTable(CabinetFile *cabinet, const char *continuedName, bool *found);
    void CloseCabinet(CabinetFile *cabinet);
    void CloseOther();

    // Notifications.
    intptr_t Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION &note);
    Fault NotifyCabinetInfo(const CabinetFile &cabinet);
    Fault Enumerate(uint32_t *index, uint32_t *remaining);

    // Files and folders.
    Fault ProcessEntry(uint32_t index);
    Fault ExtractFile(const FileRecord &file, const char *name, intptr_t handle);
    Fault StartFolder(uint32_t folderIndex);
    Fault FindFolderStart(CabinetFile **start);
    bool IsLinkedBack(CabinetFile *previous, CabinetFile *current);
    Fault OpenEarlierCabinet(const char *name, uint32_t setIndex, CabinetFile **cabinet);
    Fault AskForNextCabinet(CabinetFile *current, CabinetFile **next);

    Fault NextCabinet(CabinetFile *current, CabinetFile **next) override;
    Fault Write(const uint8_t *data, uint32_t size) override;

    const Allocator &m_Memory;
    const FileCallbacks &m_Files;
    const char *m_CabinetPath;
    PFNFDINOTIFY m_Notify;
    void *m_User;
    int32_t m_Detail = 0;

    WorkArea *m_Work = nullptr;
    char *m_NextDirectory = nullptr; // the buffer NEXT_CABINET offers in psz3
    uint32_t m_NextDirectorySize = 0;
    CFolderReader *m_Reader = nullptr;
    CabinetFile *m_First = nullptr; // the cabinet FDICopy was called on
    CabinetFile *m_Other = nullptr; // another cabinet of the set the reader stands in
    FileRecord *m_FileTable = nullptr;
    char *m_Names = nullptr;
    uint32_t m_NamesSize = 0, m_NamesUsed = 0;
    intptr_t m_Target = 0;              // output handle of the file being written
    const char *m_TargetName = nullptr; // and its name
    uint32_t m_Spans = 0;               // cabinets reached through NEXT_CABINET
};

// Stores the first cabinet's CFFILE entries.
class CTableLoader final : public IFileVisitor {
public:
    CTableLoader(CabinetFile &cabinet, FileRecord *records, const Allocator &memory, char **names, uint32_t *size,
                 uint32_t *used)
        : m_Cabinet(cabinet), m_Records(records), m_Memory(memory), m_Names(names), m_Size(size), m_Used(used)
    {
    }

    Fault OnFile(const FileEntry &entry) override
    {
        m_Cabinet.ContinuedFromPrev |= IsContinuedFromPrev(entry.IFolder);
        m_Cabinet.ContinuesToNext |= IsContinuedToNext(entry.IFolder);
        uint32_t need = entry.NameLength + 1;
        if (*m_Size - *m_Used < need) {
            // Grow the names block by doubling; a cabinet's names are at most
            // 65535 * 256 bytes, so this stays far from overflow.
            uint32_t size = *m_Size * 2 > *m_Used + need ? *m_Size * 2 : *m_Used + need;
            char *grown = static_cast<char *>(m_Memory.Alloc(size));
            if (grown == nullptr) {
                return Fault::NoMemory;
            }
            if (*m_Names) {
                std::memcpy(grown, *m_Names, *m_Used);
                m_Memory.Free(*m_Names);
            }
            *m_Names = grown;
            *m_Size = size;
        }
        std::memcpy(*m_Names + *m_Used, entry.Name, need);
        FileRecord &record = m_Records[m_Count++];
        record = FileRecord{entry.Size, entry.Offset, entry.IFolder, entry.Date, entry.Time, entry.Attribs, *m_Used};
        *m_Used += need;
        return Fault::None;
    }

private:
    CabinetFile &m_Cabinet;
    FileRecord *m_Records;
    const Allocator &m_Memory;
    char **m_Names;
    uint32_t *m_Size, *m_Used;
    uint32_t m_Count = 0;
};

// Looks through another cabinet's CFFILE entries: notes whether its folders
// continue from or into a neighbour and whether a continued entry has the
// given name.
class CTableScanner final : public IFileVisitor {
public:
    CTableScanner(CabinetFile &cabinet, const char *continuedName) : m_Cabinet(cabinet), m_Name(continuedName) {}

    Fault OnFile(const FileEntry &entry) override
    {
        m_Cabinet.ContinuesToNext |= IsContinuedToNext(entry.IFolder);
        if (IsContinuedFromPrev(entry.IFolder)) {
            m_Cabinet.ContinuedFromPrev = true;
            if (m_Name && SameNameIgnoringCase(entry.Name, m_Name)) {
                Found = true;
            }
        }
        return Fault::None;
    }

    bool Found = false;

private:
    CabinetFile &m_Cabinet;
    const char *m_Name;
};

CCopySession::~CCopySession()
{
    m_Memory.Delete(m_Reader);
    CloseOther();
    if (m_First) {
        CloseCabinet(m_First);
    }
    m_Memory.Free(m_FileTable);
    m_Memory.Free(m_Names);
    m_Memory.Free(m_NextDirectory);
    m_Memory.Free(m_Work);
}

void *CCopySession::Allocate(uint32_t size)
{
    return m_Memory.Alloc(size);
}

Fault CCopySession::NoMemory()
{
    m_Detail = ERROR_NOT_ENOUGH_MEMORY_CODE;
    return Fault::NoMemory;
}

Fault CCopySession::JoinPath(const char *directory, bool addSeparator, const char *name)
{
    size_t directoryLength = std::strlen(directory);
    size_t nameLength = std::strlen(name);
    size_t separator = addSeparator ? 1 : 0;
    if (directoryLength + separator + nameLength + 1 > PATH_MAX_BYTES) {
        return Fault::CabinetNotFound;
    }
    char *path = m_Work->Path;
    std::memcpy(path, directory, directoryLength);
    if (addSeparator) {
        path[directoryLength] = '\\';
    }
    std::memcpy(path + directoryLength + separator, name, nameLength + 1);
    return Fault::None;
}

Fault CCopySession::OpenCabinet(const char *path, CabinetFile **cabinet, uint16_t *version)
{
    *cabinet = nullptr;
    intptr_t handle = m_Files.Open(const_cast<char *>(path), CABINET_OPEN_FLAGS, CABINET_OPEN_PERMISSION);
    if (handle == -1) {
        return Fault::CabinetNotFound;
    }
    CabinetFile *opened = m_Memory.New<CabinetFile>(m_Files, handle);
    if (opened == nullptr) {
        m_Files.Close(handle);
        return NoMemory();
    }
    Fault fault = ReadHeader(opened->Stream, &opened->Header, version);
    if (fault != Fault::None) {
        CloseCabinet(opened);
        return fault;
    }
    *cabinet = opened;
    return Fault::None;
}

Fault CCopySession::LoadFolders(CabinetFile *cabinet)
{
    uint32_t count = cabinet->Header.CFolders;
    if (count == 0) {
        return Fault::None;
    }
    cabinet->Folders = static_cast<FolderEntry *>(Allocate(count * uint32_t(sizeof(FolderEntry))));
    if (cabinet->Folders == nullptr) {
        return NoMemory();
    }
    return ReadFolders(cabinet->Stream, cabinet->Header, cabinet->Folders);
}

Fault CCopySession::LoadFileTable()
{
    uint32_t count = m_First->Header.CFiles;
    if (count == 0) {
        return Fault::None;
    }
    m_FileTable = static_cast<FileRecord *>(Allocate(count * uint32_t(sizeof(FileRecord))));
    if (m_FileTable == nullptr) {
        return NoMemory();
    }
    CTableLoader loader(*m_First, m_FileTable, m_Memory, &m_Names, &m_NamesSize, &m_NamesUsed);
    Fault fault = ReadFiles(m_First->Stream, m_First->Header, loader);
    return fault == Fault::NoMemory ? NoMemory() : fault;
}

Fault CCopySession::ScanFileTable(CabinetFile *cabinet, const char *continuedName, bool *found)
{
    CTableScanner scanner(*cabinet, continuedName);
    Fault fault = ReadFiles(cabinet->Stream, cabinet->Header, scanner);
    *found = scanner.Found;
    return fault;
}

void CCopySession::CloseCabinet(CabinetFile *cabinet)
{
    m_Files.Close(cabinet->Stream.Handle());
    m_Memory.Free(cabinet->Folders);
    m_Memory.Delete(cabinet);
}

void CCopySession::CloseOther()
{
    if (m_Other) {
        CloseCabinet(m_Other);
        m_Other = nullptr;
    }
}

intptr_t CCopySession::Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION &note)
{
    note.pv = m_User;
    return m_Notify(type, &note);
}

Fault CCopySession::NotifyCabinetInfo(const CabinetFile &cabinet)
{
    FDINOTIFICATION note{};
    note.psz1 = const_cast<char *>(cabinet.Header.NextCabinet);
    note.psz2 = const_cast<char *>(cabinet.Header.NextDisk);
    note.psz3 = const_cast<char *>(m_CabinetPath);
    note.setID = cabinet.Header.SetId;
    note.iCabinet = cabinet.Header.ICabinet;
    return Notify(fdintCABINET_INFO, note) == -1 ? Fault::UserAbort : Fault::None;
}

Fault CCopySession::Enumerate(uint32_t *index, uint32_t *remaining)
{
    // cb is the next CFFILE entry, iFolder the entries left. The client may
    // move cb to another entry or change the count; 0 ends the scan.
    uint32_t count = m_First->Header.CFiles;
    FDINOTIFICATION note{};
    note.cb = int32_t(*index);
    note.iFolder = uint16_t(*remaining);
    note.setID = m_First->Header.SetId;
    if (Notify(fdintENUMERATE, note) == -1) {
        return Fault::UserAbort;
    }
    if (note.cb >= 0 && uint32_t(note.cb) < count) {
        *index = uint32_t(note.cb);
    }
    uint32_t left = count - *index;
    *remaining = note.iFolder < left ? note.iFolder : left;
    return Fault::None;
}

Fault CCopySession::Run(const char *cabinetName)
{
    m_Work = static_cast<WorkArea *>(Allocate(uint32_t(sizeof(WorkArea))));
    if (m_Work == nullptr) {
        return NoMemory();
    }
    if (JoinPath(m_CabinetPath, false, cabinetName) != Fault::None) {
        m_Detail = ERROR_FILE_NOT_FOUND_CODE;
        return Fault::CabinetNotFound;
    }
    size_t pathLength = std::strlen(m_CabinetPath) + 1;
    m_NextDirectorySize = uint32_t(pathLength > NEXT_DIRECTORY_MIN ? pathLength : NEXT_DIRECTORY_MIN);
    m_NextDirectory = static_cast<char *>(Allocate(m_NextDirectorySize));
    m_Reader = m_Memory.New<CFolderReader>(m_Memory, m_Work->Input, m_Work->Output);
    if (m_NextDirectory == nullptr || m_Reader == nullptr) {
        return NoMemory();
    }
    uint16_t version = 0;
    Fault fault = OpenCabinet(m_Work->Path, &m_First, &version);
    if (fault == Fault::UnknownVersion) {
        m_Detail = version;
    }
    if (fault == Fault::None) {
        fault = NotifyCabinetInfo(*m_First);
    }
    if (fault == Fault::None) {
        fault = LoadFolders(m_First);
    }
    if (fault == Fault::None) {
        fault = LoadFileTable();
    }
    uint32_t index = 0;
    uint32_t remaining = m_First ? m_First->Header.CFiles : 0;
    if (fault == Fault::None) {
        fault = Enumerate(&index, &remaining);
    }
    while (fault == Fault::None) {
        if (remaining == 0) {
            // The end of the scan, unless the client asks for more entries.
            fault = Enumerate(&index, &remaining);
            if (remaining == 0) {
                break;
            }
            continue;
        }
        uint32_t spans = m_Spans;
        fault = ProcessEntry(index);
        ++index;
        --remaining;
        if (fault == Fault::None && m_Spans != spans) {
            // A file crossed into another cabinet.
            fault = Enumerate(&index, &remaining);
        }
    }
    return fault;
}

Fault CCopySession::ProcessEntry(uint32_t index)
{
    const FileRecord &file = m_FileTable[index];
    char *name = m_Names + file.NameOffset;
    FDINOTIFICATION note{};
    note.psz1 = name;
    if (IsContinuedFromPrev(file.IFolder)) {
        // Its bytes belong to a file an earlier cabinet's FDICopy wrote.
        note.psz2 = m_First->Header.PrevCabinet;
        note.psz3 = m_First->Header.PrevDisk;
        return Notify(fdintPARTIAL_FILE, note) == -1 ? Fault::UserAbort : Fault::None;
    }
    note.cb = int32_t(file.Size);
    note.date = file.Date;
    note.time = file.Time;
    note.attribs = file.Attribs;
    note.iFolder = file.IFolder;
    intptr_t handle = Notify(fdintCOPY_FILE, note);
    if (handle == -1) {
        return Fault::UserAbort;
    }
    if (handle == 0) {
        return Fault::None;
    }
    Fault fault = ExtractFile(file, name, handle);
    if (fault != Fault::None) {
        // The client gets its handle back closed, and no CLOSE_FILE_INFO.
        m_Files.Close(handle);
        return fault;
    }
    FDINOTIFICATION done{};
    done.psz1 = name;
    done.hf = handle;
    done.date = file.Date;
    done.time = file.Time;
    done.attribs = uint16_t(file.Attribs & ~_A_EXEC);
    done.cb = (file.Attribs & _A_EXEC) ? 1 : 0; // "run after extraction"
    done.iFolder = file.IFolder;
    return Notify(fdintCLOSE_FILE_INFO, done) == -1 ? Fault::UserAbort : Fault::None;
}

Fault CCopySession::ExtractFile(const FileRecord &file, const char *name, intptr_t handle)
{
    if (file.Size == 0) {
        return Fault::None; // nothing to decode
    }
    const CabHeader &header = m_First->Header;
    if (header.CFolders == 0) {
        return Fault::Corrupt;
    }
    // 0xFFFE names the last folder; so does any index past it, as in
    // Windows' FDI.
    uint32_t folderIndex = file.IFolder;
    if (file.IFolder == IFOLD_CONTINUED_TO_NEXT || folderIndex >= header.CFolders) {
        folderIndex = header.CFolders - 1u;
    }
    // Offsets in a folder that came from an earlier cabinet, or goes on in
    // the next, count beyond this cabinet's blocks.
    bool mayStartEarlier = folderIndex == 0 && header.HasPrev();
    bool mayContinue = folderIndex + 1 == header.CFolders && header.HasNext();
    uint64_t end = uint64_t(file.Offset) + file.Size;
    if (end > FOLDER_OUTPUT_MAX) {
        return Fault::Corrupt;
    }
    if (!mayStartEarlier && !mayContinue && end > uint64_t(m_First->Folders[folderIndex].CCFData) * BLOCK_OUTPUT_MAX) {
        return Fault::Corrupt;
    }
    m_Target = handle;
    m_TargetName = name;
    if (!m_Reader->CanContinue(folderIndex, file.Offset)) {
        Fault fault = StartFolder(folderIndex);
        if (fault != Fault::None) {
            return fault;
        }
    }
    return m_Reader->Produce(file.Offset, file.Size, *this);
}

Fault CCopySession::StartFolder(uint32_t folderIndex)
{
    m_Reader->Invalidate();
    CloseOther();
    if (folderIndex != 0 || !m_First->Header.HasPrev()) {
        return m_Reader->Start(folderIndex, this, m_First, folderIndex);
    }
    CabinetFile *start = nullptr;
    Fault fault = FindFolderStart(&start);
    if (fault != Fault::None) {
        return fault;
    }
    if (start == m_First) {
        return m_Reader->Start(folderIndex, this, m_First, 0);
    }
    m_Other = start;
    return m_Reader->Start(folderIndex, this, start, start->Header.CFolders - 1u);
}

Fault CCopySession::OpenEarlierCabinet(const char *name, uint32_t setIndex, CabinetFile **cabinet)
{
    // Earlier members of the set sit where this one does, under the names
    // the headers give; they are read without asking the client.
    Fault fault = JoinPath(m_CabinetPath, false, name);
    uint16_t version = 0;
    if (fault == Fault::None) {
        fault = OpenCabinet(m_Work->Path, cabinet, &version);
    }
    if (fault != Fault::None) {
        return fault == Fault::NoMemory || fault == Fault::CabinetNotFound ? fault : Fault::Corrupt;
    }
    const CabHeader &header = (*cabinet)->Header;
    if (header.SetId != m_First->Header.SetId || header.ICabinet != setIndex) {
        fault = Fault::Corrupt;
    }
    if (fault == Fault::None) {
        fault = LoadFolders(*cabinet);
    }
    if (fault == Fault::None && header.CFolders == 0) {
        fault = Fault::Corrupt;
    }
    if (fault != Fault::None) {
        CloseCabinet(*cabinet);
        *cabinet = nullptr;
    }
    return fault;
}

bool CCopySession::IsLinkedBack(CabinetFile *previous, CabinetFile *current)
{
    // The entries say so when a file crosses the boundary. Without such a
    // file the data still does when the previous cabinet's last folder ends
    // in the head of a split block.
    if (current->ContinuedFromPrev || previous->ContinuesToNext) {
        return true;
    }
    const FolderEntry &folder = previous->Folders[previous->Header.CFolders - 1u];
    CCabStream &stream = previous->Stream;
    if (folder.CCFData == 0 || stream.SeekTo(folder.CoffCabStart) != Fault::None) {
        return false;
    }
    for (uint32_t block = 0;; ++block) {
        uint8_t header[CFDATA_SIZE];
        if (stream.Read(header, CFDATA_SIZE) != Fault::None) {
            return false;
        }
        if (block + 1u == folder.CCFData) {
            return Le16(header + CFDATA_CB_UNCOMP) == 0;
        }
        if (stream.Skip(previous->Header.DataReserve + uint32_t(Le16(header + CFDATA_CB_DATA))) != Fault::None) {
            return false;
        }
    }
}

Fault CCopySession::FindFolderStart(CabinetFile **start)
{
    // Back through the set while folder 0 of a cabinet continues the last
    // folder of the one before; the folder starts in the last folder of the
    // earliest cabinet reached (or in folder 0 of the first cabinet when
    // nothing goes back). A missing or unsuitable earlier cabinet is a
    // failure only where the entries say the folder goes back.
    CabinetFile *current = m_First;
    for (;;) {
        const CabHeader &header = current->Header;
        bool mustGoBack = current->ContinuedFromPrev;
        CabinetFile *previous = nullptr;
        Fault fault = Fault::Corrupt;
        if (header.HasPrev() && header.ICabinet > 0) {
            fault = OpenEarlierCabinet(header.PrevCabinet, header.ICabinet - 1u, &previous);
        }
        bool found = false;
        if (fault == Fault::None) {
            fault = ScanFileTable(previous, nullptr, &found);
        }
        bool linked = fault == Fault::None && IsLinkedBack(previous, current);
        uint16_t typeHere = current->Folders[0].TypeCompress;
        if (linked && !IsSameCompression(previous->Folders[previous->Header.CFolders - 1u].TypeCompress, typeHere)) {
            linked = false;
            fault = Fault::Corrupt;
        }
        if (!linked) {
            if (previous) {
                CloseCabinet(previous);
            }
            if (mustGoBack) {
                if (current != m_First) {
                    CloseCabinet(current);
                }
                return fault == Fault::None ? Fault::Corrupt : fault;
            }
            *start = current;
            return Fault::None;
        }
        if (current != m_First) {
            CloseCabinet(current);
        }
        current = previous;
        if (current->Header.CFolders > 1) {
            *start = current;
            return Fault::None;
        }
    }
}

Fault CCopySession::NextCabinet(CabinetFile *current, CabinetFile **next)
{
    const CabHeader &header = current->Header;
    if (current == m_First || header.ICabinet >= m_First->Header.ICabinet) {
        return AskForNextCabinet(current, next);
    }
    // Still in front of the cabinet FDICopy was called on: on silently.
    if (header.ICabinet + 1u == m_First->Header.ICabinet) {
        CloseOther();
        *next = m_First;
        return Fault::None;
    }
    CabinetFile *cabinet = nullptr;
    Fault fault = OpenEarlierCabinet(header.NextCabinet, header.ICabinet + 1u, &cabinet);
    if (fault != Fault::None) {
        return fault;
    }
    CloseOther();
    m_Other = cabinet;
    *next = cabinet;
    return Fault::None;
}

Fault CCopySession::AskForNextCabinet(CabinetFile *current, CabinetFile **next)
{
    const CabHeader &from = current->Header;
    if (from.ICabinet == 0xFFFF) {
        return Fault::Corrupt;
    }
    uint16_t setIndex = uint16_t(from.ICabinet + 1u);
    // Every boundary starts again from the FDICopy directory.
    std::memset(m_NextDirectory, 0, m_NextDirectorySize);
    std::memcpy(m_NextDirectory, m_CabinetPath, std::strlen(m_CabinetPath));
    FDIERROR fdie = FDIERROR_NONE;
    CabinetFile *cabinet = nullptr;
    for (;;) {
        FDINOTIFICATION note{};
        note.psz1 = const_cast<char *>(from.NextCabinet);
        note.psz2 = const_cast<char *>(from.NextDisk);
        note.psz3 = m_NextDirectory;
        note.setID = from.SetId;
        note.iCabinet = setIndex;
        note.fdie = fdie;
        if (Notify(fdintNEXT_CABINET, note) == -1) {
            return Fault::UserAbort;
        }
        m_NextDirectory[m_NextDirectorySize - 1] = '\0';
        size_t length = std::strlen(m_NextDirectory);
        bool separator = length > 0 && m_NextDirectory[length - 1] != '\\' && m_NextDirectory[length - 1] != '/';
        uint16_t version = 0;
        Fault fault = JoinPath(m_NextDirectory, separator, from.NextCabinet);
        if (fault == Fault::None) {
            fault = OpenCabinet(m_Work->Path, &cabinet, &version);
        }
        if (fault == Fault::NoMemory) {
            return fault;
        }
        if (fault == Fault::None && (cabinet->Header.SetId != from.SetId || cabinet->Header.ICabinet != setIndex)) {
            CloseCabinet(cabinet);
            fault = Fault::WrongCabinet;
        }
        if (fault == Fault::None) {
            break;
        }
        fdie = ErrorCodeOf(fault);
    }
    bool found = false;
    Fault fault = NotifyCabinetInfo(*cabinet);
    if (fault == Fault::None) {
        fault = LoadFolders(cabinet);
    }
    if (fault == Fault::None) {
        fault = ScanFileTable(cabinet, m_TargetName, &found);
    }
    if (fault == Fault::None && !found) {
        // The next cabinet does not go on with the file being written.
        fault = Fault::Corrupt;
    }
    if (fault != Fault::None) {
        CloseCabinet(cabinet);
        return fault;
    }
    CloseOther();
    m_Other = cabinet;
    ++m_Spans;
    *next = cabinet;
    return Fault::None;
}

Fault CCopySession::Write(const uint8_t *data, uint32_t size)
{
    uint32_t written = m_Files.Write(m_Target, const_cast<uint8_t *>(data), size);
    return written == size ? Fault::None : Fault::TargetFile;
}

} // namespace

Fault RunCopy(Context &context, const char *cabinetName, const char *cabinetPath, PFNFDINOTIFY notify, void *user,
              int32_t *detail)
{
    CCopySession session(context, cabinetPath, notify, user);
    Fault fault = session.Run(cabinetName);
    *detail = fault == Fault::None ? 0 : session.Detail();
    return fault;
}

} // namespace Fdi
