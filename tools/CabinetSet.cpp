// A cabinet and the cabinets that follow it in its set.
#include "tools/CabinetSet.h"

#include <filesystem>

#include "fdi/CabFormat.h"
#include "tools/NameReview.h"
#include "tools/SetMemberName.h"

namespace fs = std::filesystem;

namespace Selfex {

namespace {

// A set holds at most this many cabinets: iCabinet is 16-bit.
constexpr size_t MAX_SET_CABINETS = 65536;

std::string FileNameOf(const std::string &path)
{
    return fs::u8path(path).filename().u8string();
}

// The folder of path, absolute, so that a message says where it looked.
std::string FolderOf(const std::string &path)
{
    std::error_code ignored;
    return fs::absolute(fs::u8path(path), ignored).parent_path().u8string();
}

// The set member name from a header (stored bytes) as a path beside
// current, or the reason it cannot be one.
bool MemberPath(const std::string &current, const std::string &member, const std::string &namedIn, std::string &path,
                std::string &error)
{
    const std::string problem = SetMemberNameProblem(Utf8ToWide(member));
    if (!problem.empty()) {
        error = "the cabinet set continues with \"" + member + "\" (named in " + namedIn + "), which " + problem +
                "; set members must be plain file names";
        return false;
    }
    path = (fs::u8path(current).parent_path() / fs::u8path(member)).u8string();
    return true;
}

bool ContinuesFromPrev(const CCabinetTables &tables)
{
    for (const FileEntry &file : tables.Files()) {
        if (Fdi::IsContinuedFromPrev(file.Folder)) {
            return true;
        }
    }
    return false;
}

} // namespace

size_t CCabinetSetListing::UnsafeCount() const
{
    size_t count = 0;
    for (const ListedFile &file : m_Files) {
        count += file.Unsafe.empty() ? 0u : 1u;
    }
    return count;
}

bool CCabinetSetListing::Read(const std::string &path, bool blocks, std::string &error)
{
    *this = CCabinetSetListing();
    CNameReview review;
    std::string current = path;
    for (size_t count = 0; count < MAX_SET_CABINETS; ++count) {
        const bool first = count == 0;
        CCabinetTables tables;
        std::string problem;
        bool read = tables.Read(current, problem);
        if (read && blocks) {
            read = tables.ReadBlocks(problem);
        }
        if (!read && !tables.HeaderRead()) {
            error = (first ? "" : FileNameOf(current) + ": ") + problem;
            return false;
        }
        if (!first) {
            const CabinetHeader &previous = m_Cabinets.back().Header;
            const CabinetHeader &header = tables.Header();
            if (read && (header.SetId != previous.SetId || header.Index != previous.Index + 1)) {
                error = "the next cabinet \"" + FileNameOf(current) +
                        "\" is not the one the set continues with: " + "it is cabinet " +
                        std::to_string(header.Index + 1) + " of set " + std::to_string(header.SetId) +
                        ", not cabinet " + std::to_string(previous.Index + 2) + " of set " +
                        std::to_string(previous.SetId);
                return false;
            }
        }
        const size_t before = m_Files.size();
        AddCabinet(tables, first);
        for (size_t i = before; i < m_Files.size(); ++i) {
            m_Files[i].Unsafe = review.Review(m_Files[i].Entry.Name, m_Files[i].Entry.ValidText);
        }
        if (first && tables.Header().HasPrev()) {
            m_Start = FindSetStart(tables);
        }
        if (!read) {
            error = (first ? "" : FileNameOf(current) + ": ") + problem;
            return false;
        }
        if (!tables.Header().HasNext()) {
            return true;
        }
        const std::string namedIn = FileNameOf(current);
        std::string next;
        if (!MemberPath(current, tables.Header().NextCabinet, namedIn, next, error)) {
            return false;
        }
        std::error_code failure;
        if (!fs::exists(fs::u8path(next), failure)) {
            error = "next cabinet \"" + tables.Header().NextCabinet + "\" (named in " + namedIn + ") not found in " +
                    FolderOf(next);
            return false;
        }
        current = next;
    }
    error = "the set has more cabinets than a set can number";
    return false;
}

bool CCabinetSetListing::AddCabinet(const CCabinetTables &tables, bool first)
{
    const size_t cabinet = m_Cabinets.size();
    m_Cabinets.push_back({FileNameOf(tables.Path()), tables.Header()});

    // This cabinet's first folder is the previous cabinet's last when a
    // file runs on from there.
    const bool joined = !first && ContinuesFromPrev(tables) && !m_Folders.empty();
    const uint32_t base = static_cast<uint32_t>(m_Folders.size()) - (joined ? 1 : 0);
    for (size_t i = 0; i < tables.Folders().size(); ++i) {
        const FolderEntry &entry = tables.Folders()[i];
        if (i == 0 && joined) {
            ListedFolder &folder = m_Folders.back();
            folder.Blocks += entry.Blocks;
            folder.CompressedBytes += entry.CompressedBytes;
            folder.UncompressedBytes += entry.UncompressedBytes;
            continue;
        }
        m_Folders.push_back(
            {cabinet, entry.TypeCompress, entry.Blocks, entry.CompressedBytes, entry.UncompressedBytes});
    }

    const uint32_t count = static_cast<uint32_t>(tables.Folders().size());
    for (const FileEntry &entry : tables.Files()) {
        // A file that begins in an earlier cabinet was listed there.
        const bool fromPrev = Fdi::IsContinuedFromPrev(entry.Folder);
        if (fromPrev && !first) {
            continue;
        }
        ListedFile file;
        file.Entry = entry;
        file.Cabinet = cabinet;
        file.FromEarlier = fromPrev;
        if (fromPrev) {
            file.Folder = count > 0 ? base : NO_FOLDER;
        } else if (entry.Folder == Fdi::IFOLD_CONTINUED_TO_NEXT) {
            file.Folder = count > 0 ? base + count - 1 : NO_FOLDER;
        } else if (entry.Folder < count) {
            file.Folder = base + entry.Folder;
        }
        m_Files.push_back(file);
    }
    return true;
}

SetStart FindSetStart(const CCabinetTables &tables)
{
    SetStart start;
    const CabinetHeader &header = tables.Header();
    std::string current = tables.Path();
    CabinetHeader at = header;
    std::string broken; // why the walk back stopped short of the first cabinet
    for (size_t steps = 0; steps < MAX_SET_CABINETS && at.HasPrev() && broken.empty(); ++steps) {
        const std::string named = at.PrevCabinet;
        start.Name = named;
        std::string previous;
        std::string error;
        CCabinetTables before;
        std::string problem;
        if (!MemberPath(current, named, FileNameOf(current), previous, error)) {
            broken = "\"" + named + "\" is no plain file name";
        } else if (!before.ReadHeader(previous, problem)) {
            broken = "\"" + named + "\" is not in " + FolderOf(previous) + " (" + problem + ")";
        } else if (before.Header().SetId != header.SetId || before.Header().Index + 1 != at.Index) {
            broken = "\"" + named + "\" beside it belongs to another set";
        } else {
            current = previous;
            at = before.Header();
        }
    }
    start.Found = broken.empty() && !at.HasPrev();
    start.Text = FileNameOf(tables.Path()) + " is cabinet " + std::to_string(header.Index + 1) + " of set " +
                 std::to_string(header.SetId) + " and continues \"" + header.PrevCabinet + "\"";
    if (start.Found) {
        start.Text += "; the set starts with \"" + start.Name + "\": list, test or extract that one";
    } else {
        start.Text += ", but " + (broken.empty() ? std::string("the set goes back too far") : broken) +
                      ": start with the set's first cabinet";
    }
    return start;
}

} // namespace Selfex
