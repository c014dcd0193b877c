// The walk through the cabinets of a set during one FDICopy.
#include "fdi/CabinetSet.h"

#include <cstring>

#include "fdi/FileTable.h"
#include "fdi/Reason.h"

namespace Fdi {

namespace {

// Cabinets are opened as Cabinet.dll opens them: _O_BINARY | _O_RDONLY,
// with _S_IREAD | _S_IWRITE.
constexpr int CABINET_OPEN_FLAGS = 0x8000;
constexpr int CABINET_OPEN_PERMISSION = 0x0180;
// The directory buffer offered in NEXT_CABINET has room for at least this.
constexpr uint32_t NEXT_DIRECTORY_MIN = CB_MAX_CAB_PATH;
// Win32 error numbers FDI leaves in erfType.
constexpr int32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr int32_t ERROR_NOT_ENOUGH_MEMORY_CODE = 8;

} // namespace

// A cabinet the set opened, closed again when the holder goes out of scope
// unless Keep hands it on: a function can return at its first fault.
class CCabinetHold {
public:
    CCabinetHold(CCabinetSet &set, CabinetFile *cabinet) : m_Set(set), m_Cabinet(cabinet) {}
    ~CCabinetHold()
    {
        if (m_Cabinet) {
            m_Set.Close(m_Cabinet);
        }
    }
    CCabinetHold(const CCabinetHold &) = delete;
    CCabinetHold &operator=(const CCabinetHold &) = delete;

    CabinetFile &operator*() const { return *m_Cabinet; }
    CabinetFile *operator->() const { return m_Cabinet; }
    CabinetFile *Keep()
    {
        CabinetFile *kept = m_Cabinet;
        m_Cabinet = nullptr;
        return kept;
    }
    // Closes the cabinet held and holds another (or none).
    void Reset(CabinetFile *cabinet)
    {
        if (m_Cabinet) {
            m_Set.Close(m_Cabinet);
        }
        m_Cabinet = cabinet;
    }

private:
    CCabinetSet &m_Set;
    CabinetFile *m_Cabinet;
};

CCabinetSet::~CCabinetSet()
{
    CloseOther();
    if (m_First) {
        Close(m_First);
    }
    m_Memory.Free(m_NextDirectory);
}

Fault CCabinetSet::NoMemory(const char *reason)
{
    *m_Detail = ERROR_NOT_ENOUGH_MEMORY_CODE;
    return Fail(Fault::NoMemory, reason);
}

Fault CCabinetSet::Prepare(char *path)
{
    m_Path = path;
    const size_t pathLength = std::strlen(m_CabinetPath) + 1;
    m_NextDirectorySize = uint32_t(pathLength > NEXT_DIRECTORY_MIN ? pathLength : NEXT_DIRECTORY_MIN);
    m_NextDirectory = static_cast<char *>(m_Memory.Alloc(m_NextDirectorySize));
    return m_NextDirectory == nullptr ? NoMemory("no memory for the next cabinet's directory") : Fault::None;
}

Fault CCabinetSet::JoinPath(const char *directory, bool addSeparator, const char *name)
{
    const size_t directoryLength = std::strlen(directory);
    const size_t nameLength = std::strlen(name);
    const size_t separator = addSeparator ? 1 : 0;
    if (directoryLength + separator + nameLength + 1 > CABINET_PATH_MAX) {
        return Fail(Fault::CabinetNotFound, "a cabinet path longer than 4095 bytes");
    }
    std::memcpy(m_Path, directory, directoryLength);
    if (addSeparator) {
        m_Path[directoryLength] = '\\';
    }
    std::memcpy(m_Path + directoryLength + separator, name, nameLength + 1);
    return Fault::None;
}

Fault CCabinetSet::OpenCabinet(CabinetFile **cabinet, uint16_t *version)
{
    *cabinet = nullptr;
    const intptr_t handle = m_Files.Open(m_Path, CABINET_OPEN_FLAGS, CABINET_OPEN_PERMISSION);
    if (handle == -1) {
        return Fail(Fault::CabinetNotFound, "the cabinet does not open");
    }
    CabinetFile *opened = m_Memory.New<CabinetFile>(m_Files, handle);
    if (opened == nullptr) {
        m_Files.Close(handle);
        return NoMemory("no memory for an open cabinet");
    }
    CCabinetHold hold(*this, opened);
    const Fault fault = ReadHeader(opened->Stream, &opened->Header, version);
    if (fault != Fault::None) {
        return fault;
    }
    *cabinet = hold.Keep();
    return Fault::None;
}

Fault CCabinetSet::LoadFolders(CabinetFile &cabinet)
{
    const uint32_t count = cabinet.Header.CFolders;
    if (count == 0) {
        return Fault::None;
    }
    cabinet.Folders = static_cast<FolderEntry *>(m_Memory.Alloc(count * uint32_t(sizeof(FolderEntry))));
    if (cabinet.Folders == nullptr) {
        return NoMemory("no memory for a folder table");
    }
    return ReadFolders(cabinet.Stream, cabinet.Header, cabinet.Folders);
}

void CCabinetSet::Close(CabinetFile *cabinet)
{
    m_Files.Close(cabinet->Stream.Handle());
    m_Memory.Free(cabinet->Folders);
    m_Memory.Delete(cabinet);
}

void CCabinetSet::CloseOther()
{
    if (m_Other) {
        Close(m_Other);
        m_Other = nullptr;
    }
}

Fault CCabinetSet::OpenFirst(const char *cabinetName)
{
    if (JoinPath(m_CabinetPath, false, cabinetName) != Fault::None) {
        *m_Detail = ERROR_FILE_NOT_FOUND_CODE;
        return Fault::CabinetNotFound; // JoinPath said why
    }
    uint16_t version = 0;
    const Fault fault = OpenCabinet(&m_First, &version);
    if (fault == Fault::UnknownVersion) {
        *m_Detail = version;
    }
    if (fault != Fault::None) {
        return fault;
    }
    const Fault told = m_Dialogue.CabinetInfo(m_First->Header);
    if (told != Fault::None) {
        return told;
    }
    return LoadFolders(*m_First);
}

Fault CCabinetSet::OpenEarlierCabinet(const char *name, uint32_t setIndex, CabinetFile **cabinet)
{
    // Earlier members of the set sit where this one does, under the names
    // the headers give; they are read without asking the client.
    *cabinet = nullptr;
    Fault fault = JoinPath(m_CabinetPath, false, name);
    if (fault != Fault::None) {
        return fault;
    }
    CabinetFile *opened = nullptr;
    uint16_t version = 0;
    fault = OpenCabinet(&opened, &version);
    if (fault != Fault::None) {
        return fault == Fault::NoMemory || fault == Fault::CabinetNotFound
                   ? fault
                   : Fail(Fault::Corrupt, "an earlier cabinet of the set is no cabinet");
    }
    CCabinetHold hold(*this, opened);
    if (hold->Header.SetId != m_First->Header.SetId || hold->Header.ICabinet != setIndex) {
        return Fail(Fault::Corrupt, "an earlier cabinet of another set or position");
    }
    fault = LoadFolders(*hold);
    if (fault != Fault::None) {
        return fault;
    }
    if (hold->Header.CFolders == 0) {
        return Fail(Fault::Corrupt, "an earlier cabinet of the set without folders");
    }
    *cabinet = hold.Keep();
    return Fault::None;
}

bool CCabinetSet::IsLinkedBack(CabinetFile &previous, const CabinetFile &current)
{
    // The entries say so when a file crosses the boundary. Without such a
    // file the data still does when the previous cabinet's last folder ends
    // in the head of a split block.
    if (current.ContinuedFromPrev || previous.ContinuesToNext) {
        return true;
    }
    const FolderEntry &folder = previous.Folders[previous.Header.CFolders - 1u];
    CCabStream &stream = previous.Stream;
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
        if (stream.Skip(previous.Header.DataReserve + uint32_t(Le16(header + CFDATA_CB_DATA))) != Fault::None) {
            return false;
        }
    }
}

Fault CCabinetSet::OpenLinkedPrevious(CabinetFile &current, CabinetFile **previous)
{
    // Corrupt when nothing links the two: no previous cabinet named, or one
    // whose last folder does not go on here in the same compression.
    *previous = nullptr;
    const CabHeader &header = current.Header;
    if (!header.HasPrev() || header.ICabinet == 0) {
        return Fail(Fault::Corrupt, "a file continued from a cabinet the header does not name");
    }
    CabinetFile *opened = nullptr;
    Fault fault = OpenEarlierCabinet(header.PrevCabinet, header.ICabinet - 1u, &opened);
    if (fault != Fault::None) {
        return fault;
    }
    CCabinetHold hold(*this, opened);
    bool found = false;
    fault = ScanContinuations(*hold, nullptr, &found);
    if (fault != Fault::None) {
        return fault;
    }
    if (!IsLinkedBack(*hold, current)) {
        return Fail(Fault::Corrupt, "the previous cabinet's last folder does not go on here");
    }
    const uint16_t typeThere = hold->Folders[hold->Header.CFolders - 1u].TypeCompress;
    if (!IsSameCompression(typeThere, current.Folders[0].TypeCompress)) {
        return Fail(Fault::Corrupt, "a folder continued in another compression");
    }
    *previous = hold.Keep();
    return Fault::None;
}

Fault CCabinetSet::FindFolderStart(CabinetFile **start)
{
    // Back through the set while folder 0 of a cabinet continues the last
    // folder of the one before; the folder starts in the last folder of the
    // earliest cabinet reached (or in folder 0 of the first cabinet when
    // nothing goes back). A cabinet with more than one folder ends the walk:
    // its last folder starts there.
    CloseOther();
    CabinetFile *current = m_First;
    CCabinetHold reached(*this, nullptr); // current, unless it is the first
    for (;;) {
        CabinetFile *previous = nullptr;
        const Fault fault = OpenLinkedPrevious(*current, &previous);
        if (fault != Fault::None) {
            if (current->ContinuedFromPrev) {
                return fault; // the entries say the folder goes back
            }
            break;
        }
        reached.Reset(previous);
        current = previous;
        if (current->Header.CFolders > 1) {
            break;
        }
    }
    m_Other = reached.Keep();
    *start = current;
    return Fault::None;
}

Fault CCabinetSet::NextCabinet(CabinetFile *current, CabinetFile **next)
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
    const Fault fault = OpenEarlierCabinet(header.NextCabinet, header.ICabinet + 1u, &cabinet);
    if (fault != Fault::None) {
        return fault;
    }
    CloseOther();
    m_Other = cabinet;
    *next = cabinet;
    return Fault::None;
}

Fault CCabinetSet::TryNextCabinet(const CabHeader &from, uint16_t setIndex, CabinetFile **cabinet)
{
    m_NextDirectory[m_NextDirectorySize - 1] = '\0';
    const size_t length = std::strlen(m_NextDirectory);
    const bool separator = length > 0 && m_NextDirectory[length - 1] != '\\' && m_NextDirectory[length - 1] != '/';
    Fault fault = JoinPath(m_NextDirectory, separator, from.NextCabinet);
    if (fault != Fault::None) {
        return fault;
    }
    uint16_t version = 0;
    CabinetFile *opened = nullptr;
    fault = OpenCabinet(&opened, &version);
    if (fault != Fault::None) {
        return fault;
    }
    CCabinetHold hold(*this, opened);
    if (hold->Header.SetId != from.SetId || hold->Header.ICabinet != setIndex) {
        return Fail(Fault::WrongCabinet, "the next cabinet belongs to another set or position");
    }
    *cabinet = hold.Keep();
    return Fault::None;
}

Fault CCabinetSet::OpenWithClient(const CabHeader &from, uint16_t setIndex, CabinetFile **cabinet)
{
    // Every boundary starts again from the FDICopy directory; the client
    // is asked again, told why, until the cabinet opens or it gives up.
    std::memset(m_NextDirectory, 0, m_NextDirectorySize);
    std::memcpy(m_NextDirectory, m_CabinetPath, std::strlen(m_CabinetPath));
    FDIERROR fdie = FDIERROR_NONE;
    for (;;) {
        Fault fault = m_Dialogue.NextCabinet(from, setIndex, m_NextDirectory, fdie);
        if (fault != Fault::None) {
            return fault;
        }
        fault = TryNextCabinet(from, setIndex, cabinet);
        if (fault == Fault::None || fault == Fault::NoMemory) {
            return fault;
        }
        fdie = ErrorCodeOf(fault);
    }
}

Fault CCabinetSet::AskForNextCabinet(CabinetFile *current, CabinetFile **next)
{
    const CabHeader &from = current->Header;
    if (from.ICabinet == 0xFFFF) {
        return Fail(Fault::Corrupt, "a set of more than 65536 cabinets");
    }
    CabinetFile *opened = nullptr;
    Fault fault = OpenWithClient(from, uint16_t(from.ICabinet + 1u), &opened);
    if (fault != Fault::None) {
        return fault;
    }
    CCabinetHold hold(*this, opened);
    fault = m_Dialogue.CabinetInfo(hold->Header);
    if (fault != Fault::None) {
        return fault;
    }
    fault = LoadFolders(*hold);
    if (fault != Fault::None) {
        return fault;
    }
    bool found = false;
    fault = ScanContinuations(*hold, m_ContinuedName, &found);
    if (fault != Fault::None) {
        return fault;
    }
    if (!found) {
        return Fail(Fault::Corrupt, "the next cabinet does not go on with the file being written");
    }
    CloseOther();
    m_Other = hold.Keep();
    ++m_Spans;
    *next = m_Other;
    return Fault::None;
}

} // namespace Fdi
