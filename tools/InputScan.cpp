// Turns the inputs of "selfex pack" into cabinet members.
#include "tools/InputScan.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/Win32.h"
#include "tools/FileIo.h"
#include "tools/TextConv.h"

namespace fs = std::filesystem;

namespace Selfex {

namespace {

// 1980-01-01 00:00:00 and 2108-01-01 00:00:00 in 100-nanosecond units
// since 1601-01-01: the range of MS-DOS dates.
constexpr uint64_t DOS_EPOCH = 119600064000000000ull;
constexpr uint64_t DOS_END = 159992928000000000ull;
constexpr uint16_t DOS_FIRST_DATE = (0 << 9) | (1 << 5) | 1;
constexpr uint16_t DOS_LAST_DATE = (127 << 9) | (12 << 5) | 31;
constexpr uint16_t DOS_LAST_TIME = (23 << 11) | (59 << 5) | 29;

class CScanner {
public:
    CScanner(const std::string &outputPath, const ScanOptions &options, ScanResult &result)
        : m_Options(options), m_Result(result)
    {
        if (!outputPath.empty()) {
            m_Output = Normal(fs::u8path(outputPath));
        }
    }

    void AddInput(const std::string &input)
    {
        if (m_TooMany) {
            return;
        }
        fs::path path = fs::u8path(input);
        std::error_code failure;
        fs::file_status status = fs::status(path, failure);
        if (failure || !fs::exists(status)) {
            Problem(input, "no such file or folder");
        } else if (fs::is_directory(status)) {
            m_Ancestors.push_back(Canonical(path));
            AddFolder(path, std::string());
            m_Ancestors.pop_back();
        } else if (fs::is_regular_file(status)) {
            std::string name = path.filename().u8string();
            std::string why = StoredComponentProblem(name);
            if (Excluded(name, name)) {
                m_Result.Excluded.push_back(name);
            } else if (why.empty()) {
                AddFile(path, name);
            } else {
                Problem(input, "cannot be stored: " + why);
            }
        } else {
            Problem(input, "not a regular file or folder");
        }
    }

private:
    static fs::path Normal(const fs::path &path)
    {
        std::error_code ignored;
        return fs::absolute(path, ignored).lexically_normal();
    }

    static fs::path Canonical(const fs::path &path)
    {
        std::error_code failure;
        fs::path canonical = fs::canonical(path, failure);
        return failure ? Normal(path) : canonical;
    }

    void Problem(const std::string &what, const std::string &why) { m_Result.Problems.push_back(what + ": " + why); }

    bool Excluded(const std::string &stored, const std::string &component) const
    {
        for (const CNamePattern &pattern : m_Options.Excludes) {
            if (pattern.Matches(stored) || (!pattern.HasSeparator() && pattern.Matches(component))) {
                return true;
            }
        }
        return false;
    }

    // prefix: the stored name of the folder with its trailing "\", or empty.
    void AddFolder(const fs::path &folder, const std::string &prefix)
    {
        std::error_code failure;
        std::vector<fs::directory_entry> entries;
        for (fs::directory_iterator it(folder, failure), end; !failure && it != end; it.increment(failure)) {
            entries.push_back(*it);
        }
        if (failure) {
            Problem(folder.u8string(), "cannot read the folder: " + failure.message());
            return;
        }
        if (entries.empty()) {
            m_Result.Notes.push_back(folder.u8string() + ": empty folder left out (cabinets hold only files)");
            return;
        }
        std::sort(entries.begin(), entries.end(), [](const fs::directory_entry &a, const fs::directory_entry &b) {
            return a.path().filename().u8string() < b.path().filename().u8string();
        });
        for (size_t i = 0; i < entries.size() && !m_TooMany; ++i) {
            AddEntry(entries[i], prefix);
        }
    }

    void AddEntry(const fs::directory_entry &entry, const std::string &prefix)
    {
        std::string shown = entry.path().u8string();
        std::string component = entry.path().filename().u8string();
        // Excluded before anything else: what it leaves out cannot fail the run.
        if (Excluded(prefix + component, component)) {
            m_Result.Excluded.push_back(prefix + component);
            return;
        }
        std::string why = StoredComponentProblem(component);
        if (!why.empty()) {
            Problem(shown, "cannot be stored: " + why);
            return;
        }
        std::error_code failure;
        const bool isLink = entry.is_symlink(failure);
        if (isLink && m_Options.Links == LinkPolicy::Skip) {
            m_Result.Notes.push_back(shown + ": symbolic link left out (--links follow stores what it leads to)");
            return;
        }
        if (isLink && m_Options.Links == LinkPolicy::Error) {
            Problem(shown, "a symbolic link (--links skip leaves it out, --links follow stores what it leads to)");
            return;
        }
        fs::file_status status = entry.status(failure);
        if (fs::is_directory(status)) {
            const fs::path canonical = Canonical(entry.path());
            if (std::find(m_Ancestors.begin(), m_Ancestors.end(), canonical) != m_Ancestors.end()) {
                Problem(shown, "a link back to " + canonical.u8string() + ", which holds it (a loop)");
                return;
            }
            m_Ancestors.push_back(canonical);
            AddFolder(entry.path(), prefix + component + "\\");
            m_Ancestors.pop_back();
        } else if (fs::is_regular_file(status)) {
            AddFile(entry.path(), prefix + component);
        } else if (isLink) {
            Problem(shown, "a link that leads nowhere");
        } else {
            Problem(shown, "not a regular file or folder");
        }
    }

    void AddFile(const fs::path &source, const std::string &name)
    {
        std::string shown = source.u8string();
        // Only a file of the output's name can be the output.
        if (!m_Output.empty() && source.filename() == m_Output.filename() && Normal(source) == m_Output) {
            m_Result.Notes.push_back(shown + ": the output file itself left out");
            return;
        }
        if (name.size() > CAB_MAX_NAME_BYTES) {
            Problem(shown, "the stored name \"" + name + "\" has " + std::to_string(name.size()) +
                               " bytes; a cabinet allows " + std::to_string(CAB_MAX_NAME_BYTES));
            return;
        }
        // No need to look at the rest once the cabinet is known to overflow.
        if (m_Result.Members.size() == CAB_MAX_FILES) {
            m_Result.Problems.push_back("more than " + std::to_string(CAB_MAX_FILES) +
                                        " files: a cabinet holds at most " + std::to_string(CAB_MAX_FILES));
            m_TooMany = true;
            return;
        }
        std::string clash;
        if (!m_Names.Add(name, clash)) {
            Problem(shown, "stored as \"" + name + "\", which collides with \"" + clash +
                               "\" (Windows does not tell letter case apart, and a name is a file or a folder)");
            return;
        }

        WideString wide = ToPlatformPath(shown);
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
            Problem(shown, "cannot read its attributes (error " + std::to_string(GetLastError()) + ")");
            return;
        }
        uint64_t size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
        if (size > CAB_MAX_FOLDER_BYTES) {
            Problem(shown, std::to_string(size) + " bytes; a cabinet holds files of up to " +
                               std::to_string(CAB_MAX_FOLDER_BYTES) + " bytes");
            return;
        }
        // Open it once now, so that an unreadable file fails the run before
        // any output exists.
        CFileMemberSource probe;
        CabMember member;
        member.Name = name;
        member.Source = shown;
        std::string error;
        if (!probe.Open(member, error)) {
            m_Result.Problems.push_back(error);
            return;
        }
        member.Size = static_cast<uint32_t>(size);
        member.Attribs = static_cast<uint16_t>(data.dwFileAttributes & CAB_ATTRIB_STORABLE);
        const int clamped = ToDosDateTime(data.ftLastWriteTime, member.Date, member.Time);
        if (clamped != 0) {
            m_Result.Notes.push_back(shown + ": modified " + (clamped < 0 ? "before 1980" : "after 2107") +
                                     ", which a cabinet cannot hold; stored as " +
                                     (clamped < 0 ? "1980-01-01 00:00:00" : "2107-12-31 23:59:58"));
        }
        m_Result.Members.push_back(std::move(member));
    }

    const ScanOptions &m_Options;
    ScanResult &m_Result;
    bool m_TooMany = false;
    fs::path m_Output;
    std::vector<fs::path> m_Ancestors; // the folders being scanned, outermost first, to find loops
    CStoredNameSet m_Names;
};

} // namespace

void ScanInputs(const std::vector<std::string> &inputs, const std::string &outputPath, const ScanOptions &options,
                ScanResult &result)
{
    CScanner scanner(outputPath, options, result);
    for (const std::string &input : inputs) {
        // Names the platform cannot express in UTF-16 (or UTF-8) make the
        // file system library throw; they cannot be stored either.
        try {
            scanner.AddInput(input);
        } catch (const std::exception &failure) {
            result.Problems.push_back(input + ": " + failure.what());
        }
    }
}

int ToDosDateTime(const FILETIME &utc, uint16_t &date, uint16_t &time)
{
    // Windows refuses times outside the MS-DOS range, Wine's
    // FileTimeToDosDateTime wraps them: check the range here.
    FILETIME local;
    WORD dosDate = 0;
    WORD dosTime = 0;
    bool converted = FileTimeToLocalFileTime(&utc, &local) != 0;
    uint64_t ticks = static_cast<uint64_t>(local.dwHighDateTime) << 32 | local.dwLowDateTime;
    if (!converted) {
        ticks = static_cast<uint64_t>(utc.dwHighDateTime) << 32 | utc.dwLowDateTime;
    }
    if (converted && ticks >= DOS_EPOCH && ticks < DOS_END && FileTimeToDosDateTime(&local, &dosDate, &dosTime)) {
        date = dosDate;
        time = dosTime;
        return 0;
    }
    bool early = ticks < DOS_EPOCH;
    date = early ? DOS_FIRST_DATE : DOS_LAST_DATE;
    time = early ? 0 : DOS_LAST_TIME;
    return early ? -1 : 1;
}

} // namespace Selfex
