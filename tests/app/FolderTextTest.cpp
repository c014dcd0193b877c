// Guards the front end's text rules: the package caption, the proposed
// folder, the composed target and the parent climb of folder creation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/FolderText.h"

namespace {

using Text = std::wstring;

struct CaptionCase {
    const wchar_t *Path;
    const wchar_t *Caption;
};

TEST(PackageCaption, IsTheBaseNameWithoutExtension)
{
    const CaptionCase cases[] = {
        {L"C:\\Downloads\\Setup.exe", L"Setup"},
        {L"C:\\Downloads\\Data1.part.exe", L"Data1.part"}, // only the last dot starts the extension
        {L"C:\\My.Folder\\Setup", L"Setup"},               // a dot in a folder is no extension
        {L"Z:\\tmp\\dir/Unix.exe", L"Unix"},               // "/" separates too
        {L"C:Setup.exe", L"Setup"},                        // drive-relative
        {L"\\\\server\\share\\Pkg.EXE", L"Pkg"},
        {L"Setup.exe", L"Setup"},
        {L"C:\\Downloads\\.exe", L""},
        {L"C:\\Downloads\\", L""},
    };
    for (const CaptionCase &c : cases) {
        wchar_t caption[MAX_PATH] = L"junk";
        PackageCaption(c.Path, caption, MAX_PATH);
        EXPECT_EQ(Text(c.Caption), Text(caption)) << c.Path;
    }
}

TEST(PackageCaption, IsCutAt255CharactersAndAtTheCapacity)
{
    Text path = L"C:\\" + Text(300, L'n') + L".exe";
    wchar_t caption[MAX_PATH] = {};
    PackageCaption(path.c_str(), caption, MAX_PATH);
    EXPECT_EQ(Text(255, L'n'), Text(caption));

    wchar_t small[4] = {L'x', L'x', L'x', L'x'};
    PackageCaption(L"C:\\Setup.exe", small, 4);
    EXPECT_EQ(Text(L"Set"), Text(small));
}

TEST(UpperCaseDriveLetter, ChangesOnlyAnAsciiDriveLetter)
{
    const std::pair<const wchar_t *, const wchar_t *> cases[] = {
        {L"c:\\games\\setup", L"C:\\games\\setup"},
        {L"z:", L"Z:"},
        {L"C:\\x", L"C:\\x"},
        {L"\\\\srv\\share", L"\\\\srv\\share"}, // UNC: no drive
        {L"games", L"games"},
        {L"a", L"a"},
        {L"", L""},
        {L"1:\\x", L"1:\\x"},
        {L"\u00e9:\\x", L"\u00e9:\\x"}, // not ASCII
        {L"ab:\\x", L"ab:\\x"},         // the colon must be second
    };
    for (const auto &c : cases) {
        Text folder = c.first;
        UpperCaseDriveLetter(folder.data());
        EXPECT_EQ(Text(c.second), folder) << c.first;
    }
}

TEST(ProposedFolder, LosesOneTrailingBackslashUnlessItIsADriveRoot)
{
    const std::pair<const wchar_t *, const wchar_t *> cases[] = {
        {L"D:\\Setup\\", L"D:\\Setup"},
        {L"D:\\Setup", L"D:\\Setup"},
        {L"D:\\Setup\\\\", L"D:\\Setup\\"}, // one backslash only
        {L"D:\\", L"D:\\"},                 // the drive root keeps it
        {L"ab\\", L"ab\\"},                 // three characters: kept
        {L"abc\\", L"abc"},
        {L"D:\\Setup/", L"D:\\Setup/"}, // only a backslash goes
        {L"\\", L"\\"},
        {L"", L""},
    };
    for (const auto &c : cases) {
        Text folder = c.first;
        StripProposalBackslash(folder.data());
        EXPECT_EQ(Text(c.second), Text(folder.c_str())) << c.first;
    }
}

TEST(ProposedFolder, RegistryDataWithoutTerminatorIsCutInsideTheBuffer)
{
    // A value that fills all 260 characters of the buffer, no terminator.
    std::vector<wchar_t> buffer(MAX_PATH, L'x');
    TerminateWithin(buffer.data(), buffer.size());
    EXPECT_EQ(Text(MAX_PATH - 1, L'x'), Text(buffer.data()));
}

TEST(ProposedFolder, DocumentsFallbackAppendsTessaly)
{
    wchar_t out[MAX_PATH] = L"junk";
    DocumentsProposal(L"C:\\users\\me\\Documents", out, MAX_PATH);
    EXPECT_EQ(Text(L"C:\\users\\me\\Documents\\Tessaly"), Text(out));

    // A Documents location without a path leaves "\Tessaly" alone.
    DocumentsProposal(L"", out, MAX_PATH);
    EXPECT_EQ(Text(L"\\Tessaly"), Text(out));

    // Documents at a drive root, or reported with a trailing backslash as
    // Wine does: no doubled separator.
    DocumentsProposal(L"D:\\", out, MAX_PATH);
    EXPECT_EQ(Text(L"D:\\Tessaly"), Text(out));
    DocumentsProposal(L"C:\\users\\me\\Documents\\", out, MAX_PATH);
    EXPECT_EQ(Text(L"C:\\users\\me\\Documents\\Tessaly"), Text(out));

    // Cut, it would name another folder: nothing is proposed.
    Text documents = L"C:\\" + Text(250, L'd');
    DocumentsProposal(documents.c_str(), out, MAX_PATH);
    EXPECT_EQ(Text(), Text(out));
}

// The target that OK composes from a folder text.
Text ComposedTarget(const Text &folderText, const wchar_t *caption)
{
    std::vector<wchar_t> target(520, 0);
    folderText.copy(target.data(), folderText.size());
    if (!EndsInSeparator(target.data())) {
        EXPECT_TRUE(AppendSubfolder(target.data(), target.size(), caption)) << folderText;
    }
    return Text(target.data());
}

TEST(Target, IsTheFolderPlusTheCaptionUnlessTheTextEndsInASeparator)
{
    const std::pair<const wchar_t *, const wchar_t *> cases[] = {
        {L"C:\\Games", L"C:\\Games\\Pkg\\"},
        {L"C:\\Games\\", L"C:\\Games\\"}, // taken as typed
        {L"C:\\Games/", L"C:\\Games/"},
        {L"C:\\", L"C:\\"}, // a picked drive root
        {L"", L"\\Pkg\\"},  // root of the current drive
        {L"MEMORY\\", L"MEMORY\\"},
        {L"memory", L"memory\\Pkg\\"},
        {L"C:\\Games\\.", L"C:\\Games\\.\\Pkg\\"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Text(c.second), ComposedTarget(c.first, L"Pkg")) << c.first;
    }
}

TEST(Target, TheLongestTextAndCaptionFit)
{
    Text folder(259, L'f');
    Text caption(255, L'c');
    EXPECT_EQ(folder + L"\\" + caption + L"\\", ComposedTarget(folder, caption.c_str()));

    // One character less of room than needed: nothing is appended.
    wchar_t target[8] = L"C:\\ab";
    EXPECT_FALSE(AppendSubfolder(target, 8, L"xy"));
    EXPECT_EQ(Text(L"C:\\ab"), Text(target));
}

TEST(ParentFolder, ClimbsOneLevelAsFolderCreationNeedsIt)
{
    const std::pair<const wchar_t *, const wchar_t *> cases[] = {
        {L"C:\\a\\b\\", L"C:\\a\\b"}, // the usual target: first itself
        {L"C:\\a\\b", L"C:\\a"},
        {L"C:\\a", L"C:"},
        {L"C:\\", L"C:"},
        {L"C:", L"C:"},         // itself: the climb must stop
        {L"C:\\a/", L"C:\\a/"}, // itself: no backslash to drop
        {L"x\\y/z", L"x\\y/"},
        {L"MEMORY\\", L"MEMORY"},
        {L"MEMORY", L""},
        {L"\\\\srv\\share\\x", L"\\\\srv\\share"},
        {L"\\", L""},
        {L"", L""},
    };
    for (const auto &c : cases) {
        wchar_t parent[MAX_PATH] = L"junk";
        EXPECT_TRUE(ParentFolder(c.first, parent, MAX_PATH)) << c.first;
        EXPECT_EQ(Text(c.second), Text(parent)) << c.first;
    }
}

TEST(ParentFolder, EveryClimbEnds)
{
    // Each step gives a shorter text or the same one, where folder creation
    // stops; a climb that neither shrinks nor stops would recurse forever.
    const wchar_t *paths[] = {L"C:\\a\\b\\c\\", L"C:\\a/b/c/", L"\\\\srv\\share\\d\\", L"rel\\dir\\", L"C:x\\y"};
    for (const wchar_t *path : paths) {
        Text current = path;
        int steps = 0;
        for (;;) {
            wchar_t parent[MAX_PATH] = {};
            ASSERT_TRUE(ParentFolder(current.c_str(), parent, MAX_PATH));
            if (Text(parent) == current || parent[0] == 0) {
                break;
            }
            EXPECT_LT(Text(parent).size(), current.size()) << path;
            current = parent;
            ASSERT_LT(++steps, 20) << path;
        }
    }
}

TEST(ParentFolder, APathBeyondTheBufferHasNoParent)
{
    Text path = L"C:\\" + Text(300, L'p') + L"\\q\\";
    wchar_t parent[MAX_PATH] = L"junk";
    EXPECT_FALSE(ParentFolder(path.c_str(), parent, MAX_PATH));
    EXPECT_EQ(Text(), Text(parent));
}

} // namespace
