// Unit tests of the program directory, file existence and whole-file reading: what the
// start-up handler relies on to find and load the word library beside the program.
#include "support/TempDirectory.h"

#if defined(_WIN32)
#include "platform/win32/Win32Files.h"
using PlatformFiles = Win32Files;
#else
#include "platform/posix/PosixFiles.h"
using PlatformFiles = PosixFiles;
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

using namespace std::string_literals;

const PlatformFiles kFiles;

// A temporary directory holding a few entries of every kind, removed afterwards.
class FilesTest : public testing::Test {
protected:
    void SetUp() override
    {
        write("reply.ini", "keyword\r\nreply\r\n");
        write("nul bytes.bin", "a\0b\0\0c"s);
        write("empty.txt", "");
        write("file[1].txt", "bracket");
        write(".hidden.cfg", "dot");
        std::filesystem::create_directory(path("sub"));
#if !defined(_WIN32)
        std::filesystem::create_symlink(path("missing-target"), path("dangling"));
#endif
    }
    std::string path(const std::string& name) const { return kFiles.joinPath(m_directory.path(), name); }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }

    test_support::TempDirectory m_directory { "chatroom-files" };
};

#if !defined(_WIN32)
TEST(ProgramDirectory, IsTheExecutablesDirectoryWithoutTrailingSeparator)
{
    std::filesystem::path executable = std::filesystem::canonical("/proc/self/exe");
    std::string directory = kFiles.programDirectory();
    EXPECT_EQ(directory, executable.parent_path().string());
    ASSERT_FALSE(directory.empty());
    EXPECT_NE(directory.back(), '/');
    EXPECT_EQ(kFiles.joinPath(directory, "reply.ini"), directory + "/reply.ini");
}
#endif

TEST_F(FilesTest, FileExistsForAnyMatchingEntry)
{
    struct Case {
        std::string name;
        bool exists;
    };
    const Case cases[] = {
        { "reply.ini", true },
        { "sub", true },
#if !defined(_WIN32)
        { "dangling", true },
#endif
        { "missing.ini", false },
        { "sub/missing.ini", false },
        { "*.ini", true },
        { "rep?y.ini", true },
        { "*.none", false },
        { "r?", false },
        // Brackets are ordinary characters, not a glob class.
        { "file[1]*", true },
        { "file[1].txt", true },
        { "file1*", false },
        // As in a Windows file search, "*" also matches names that start with a dot.
        { "*.cfg", true },
    };
    for (const Case& c : cases)
        EXPECT_EQ(kFiles.fileExists(path(c.name)), c.exists) << c.name;
    EXPECT_FALSE(kFiles.fileExists(""));
}

TEST_F(FilesTest, ReadFileGivesEveryByteOrNothing)
{
    struct Case {
        std::string path;
        std::string bytes;
    };
    const Case cases[] = {
        { path("reply.ini"), "keyword\r\nreply\r\n" },
        { path("nul bytes.bin"), "a\0b\0\0c"s },
        { path("empty.txt"), "" },
        { path("sub"), "" },
        { path("missing.ini"), "" },
#if !defined(_WIN32)
        { path("dangling"), "" },
#endif
        { "", "" },
    };
    for (const Case& c : cases) {
        ByteBlock block = kFiles.readFile(c.path);
        EXPECT_EQ(block.bytes, c.bytes) << c.path;
        EXPECT_EQ(block.empty(), c.bytes.empty()) << c.path;
    }
}

TEST_F(FilesTest, ReadFileReadsALargeFileWhole)
{
    std::string bytes;
    for (int i = 0; i < (1 << 20) + 123; ++i)
        bytes += static_cast<char>(i * 131 % 251);
    write("large.bin", bytes);
    EXPECT_EQ(kFiles.readFile(path("large.bin")).bytes, bytes);
}

// The limit holds also for a file that reports a wrong size: files of /proc report none.
TEST_F(FilesTest, CheckedReadStopsAtTheLimitWhateverSizeTheFileReports)
{
    const std::string reply = "keyword\r\nreply\r\n";
    std::ifstream in("/proc/self/status", std::ios::binary);
    std::string status((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(kFiles.readFileChecked(path("reply.ini"), reply.size()).bytes.bytes, reply);
    EXPECT_EQ(kFiles.readFileChecked(path("reply.ini"), reply.size() - 1).status, FileReadStatus::TooLarge);
    EXPECT_EQ(kFiles.readFileChecked("/proc/self/status", status.size() + 4096).status, FileReadStatus::Read);
    FileRead cut = kFiles.readFileChecked("/proc/self/status", status.size() / 2);
    EXPECT_EQ(cut.status, FileReadStatus::TooLarge);
    EXPECT_TRUE(cut.bytes.empty());
}

} // namespace
