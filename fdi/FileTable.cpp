// The CFFILE tables of a copy.
#include "fdi/FileTable.h"

#include <cstring>

#include "fdi/Reason.h"

namespace Fdi {

namespace {

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

// Notes what a cabinet's entries say about its neighbours and looks for one
// continued entry by name.
class CContinuationScanner final : public IFileVisitor {
public:
    CContinuationScanner(CabinetFile &cabinet, const char *continuedName) : m_Cabinet(cabinet), m_Name(continuedName) {}

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

} // namespace

CFileTable::~CFileTable()
{
    m_Memory.Free(m_Records);
    m_Memory.Free(m_Names);
}

Fault CFileTable::Load(CabinetFile &cabinet)
{
    const uint32_t count = cabinet.Header.CFiles;
    if (count == 0) {
        return Fault::None;
    }
    m_Records = static_cast<FileRecord *>(m_Memory.Alloc(count * uint32_t(sizeof(FileRecord))));
    if (m_Records == nullptr) {
        return Fail(Fault::NoMemory, "no memory for the file table");
    }
    m_Cabinet = &cabinet;
    return ReadFiles(cabinet.Stream, cabinet.Header, *this);
}

Fault CFileTable::ReserveNames(uint32_t need)
{
    if (m_NamesSize - m_NamesUsed >= need) {
        return Fault::None;
    }
    // Grows by doubling; a cabinet's names are at most 65535 * 256 bytes, so
    // this stays far from overflow.
    const uint32_t size = m_NamesSize * 2 > m_NamesUsed + need ? m_NamesSize * 2 : m_NamesUsed + need;
    char *grown = static_cast<char *>(m_Memory.Alloc(size));
    if (grown == nullptr) {
        return Fail(Fault::NoMemory, "no memory for the file names");
    }
    if (m_Names) {
        std::memcpy(grown, m_Names, m_NamesUsed);
        m_Memory.Free(m_Names);
    }
    m_Names = grown;
    m_NamesSize = size;
    return Fault::None;
}

Fault CFileTable::OnFile(const FileEntry &entry)
{
    m_Cabinet->ContinuedFromPrev |= IsContinuedFromPrev(entry.IFolder);
    m_Cabinet->ContinuesToNext |= IsContinuedToNext(entry.IFolder);
    const uint32_t need = entry.NameLength + 1;
    const Fault fault = ReserveNames(need);
    if (fault != Fault::None) {
        return fault;
    }
    std::memcpy(m_Names + m_NamesUsed, entry.Name, need);
    m_Records[m_Count++] =
        FileRecord{entry.Size, entry.Offset, entry.IFolder, entry.Date, entry.Time, entry.Attribs, m_NamesUsed};
    m_NamesUsed += need;
    return Fault::None;
}

Fault ScanContinuations(CabinetFile &cabinet, const char *continuedName, bool *found)
{
    CContinuationScanner scanner(cabinet, continuedName);
    const Fault fault = ReadFiles(cabinet.Stream, cabinet.Header, scanner);
    *found = scanner.Found;
    return fault;
}

} // namespace Fdi
