// The POSIX layer beyond Windows' own rules, for what Windows has no form
// of on disk: a symbolic link is reported as a reparse point and nothing is
// changed or written through it; a FIFO never blocks an open and is never
// written; times go through a descriptor's own handle. (Wine cannot make
// these from the Windows side; the extractor's hostile-destination test
// runs there with a tree made from the POSIX side.)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/testlib/TempDir.h"

namespace {

class LinkAndFifoTest : public TempDirTest {
protected:
    // The host path of a file in the test's folder.
    std::string Host(const char *name)
    {
        std::string path;
        for (const WCHAR ch : In(WString(name, name + std::char_traits<char>::length(name)))) {
            path += ch == u'\\' ? '/' : static_cast<char>(ch);
        }
        return path;
    }
    WString Wide(const char *name) { return In(WString(name, name + std::char_traits<char>::length(name))); }

    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_TRUE(WriteTextFile(Wide("target.txt"), "target"));
        ASSERT_EQ(mkdir(Host("folder").c_str(), 0755), 0);
        ASSERT_EQ(symlink("target.txt", Host("file-link").c_str()), 0);
        ASSERT_EQ(symlink("folder", Host("folder-link").c_str()), 0);
        ASSERT_EQ(symlink("nowhere", Host("dangling").c_str()), 0);
        ASSERT_EQ(mkfifo(Host("fifo").c_str(), 0644), 0);
    }
};

} // namespace

TEST_F(LinkAndFifoTest, LinksAreReparsePointsAndNothingChangesThroughThem)
{
    EXPECT_EQ(GetFileAttributesW(Wide("file-link").c_str()),
              DWORD{FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE});
    EXPECT_EQ(GetFileAttributesW(Wide("folder-link").c_str()),
              DWORD{FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY});
    EXPECT_EQ(GetFileAttributesW(Wide("dangling").c_str()), DWORD{FILE_ATTRIBUTE_REPARSE_POINT});

    EXPECT_TRUE(SetFileAttributesW(Wide("file-link").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetFileAttributesW(Wide("target.txt").c_str()), DWORD{FILE_ATTRIBUTE_ARCHIVE});
    for (const int flags : {_O_WRONLY | _O_TRUNC, _O_WRONLY | _O_CREAT | _O_TRUNC, _O_RDWR}) {
        EXPECT_EQ(_wopen(Wide("file-link").c_str(), flags | _O_BINARY, _S_IREAD | _S_IWRITE), -1) << flags;
        EXPECT_EQ(_wopen(Wide("dangling").c_str(), flags | _O_BINARY, _S_IREAD | _S_IWRITE), -1) << flags;
    }
    struct stat status;
    EXPECT_EQ(stat(Host("target.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 6);
    EXPECT_NE(access(Host("nowhere").c_str(), F_OK), 0);
    // Reading through a link is as on Windows.
    const int fd = _wopen(Wide("file-link").c_str(), _O_RDONLY | _O_BINARY, 0);
    EXPECT_GT(fd, 2);
    _close(fd);
}

TEST_F(LinkAndFifoTest, FifosNeverBlockAndAreNeverWritten)
{
    EXPECT_EQ(_wopen(Wide("fifo").c_str(), _O_WRONLY | _O_BINARY, 0), -1) << "no reader: would block";
    const int reader = _wopen(Wide("fifo").c_str(), _O_RDONLY | _O_BINARY, 0);
    ASSERT_GT(reader, 2) << "a read open does not wait for a writer";
    EXPECT_EQ(_wopen(Wide("fifo").c_str(), _O_WRONLY | _O_BINARY, 0), -1) << "with a reader: still no file";
    EXPECT_EQ(_close(reader), 0);

    // Looked at without reaching the data: its type tells what it is.
    const struct {
        const char *name;
        DWORD type;
    } cases[] = {{"fifo", FILE_TYPE_PIPE}, {"file-link", FILE_TYPE_DISK}, {"target.txt", FILE_TYPE_DISK}};
    for (const auto &c : cases) {
        HANDLE probe = CreateFileW(Wide(c.name).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        ASSERT_NE(probe, INVALID_HANDLE_VALUE) << c.name;
        EXPECT_EQ(GetFileType(probe), c.type) << c.name;
        // A link opened as itself is known by its own path.
        WCHAR path[1024];
        const DWORD length = GetFinalPathNameByHandleW(probe, path, 1024, 0);
        EXPECT_EQ(WString(path, length), Wide(c.name)) << c.name;
        CloseHandle(probe);
    }
}

TEST_F(LinkAndFifoTest, TimesGoThroughTheDescriptorsOwnHandle)
{
    const int fd = _wopen(Wide("new.bin").c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    ASSERT_GT(fd, 2);
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    FILETIME stored;
    ASSERT_TRUE(DosDateTimeToFileTime(0x5A8E, 0x6B2F, &stored));
    EXPECT_TRUE(SetFileTime(file, &stored, nullptr, &stored));
    EXPECT_EQ(_close(fd), 0);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(Wide("new.bin").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, stored.dwLowDateTime);
    EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, stored.dwHighDateTime);
    EXPECT_FALSE(SetFileTime(file, &stored, nullptr, &stored)) << "the handle went with the descriptor";
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}
