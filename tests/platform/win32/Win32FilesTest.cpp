// Unit tests of what only the Win32 files have: the program directory from the module's
// path, names with Chinese characters (code page 936 texts turned into wide paths), and the
// share mode that keeps a file being written from being read.
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32Files.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

namespace {

const Win32Files kFiles;

TEST(Win32ProgramDirectory, IsTheModulesDirectoryWithoutTrailingSeparator)
{
    wchar_t module[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    ASSERT_GT(length, 0u);
    std::string directory = kFiles.programDirectory();
    EXPECT_EQ(directory, std::filesystem::path(std::wstring(module, length)).parent_path().string());
    ASSERT_FALSE(directory.empty());
    EXPECT_NE(directory.back(), '\\');
    EXPECT_EQ(kFiles.joinPath(directory, "reply.ini"), directory + "\\reply.ini");
}

// A directory named 聊天室 below the temporary one, holding 词库.ini, made with the wide API.
class Win32FilesTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_directory = std::filesystem::temp_directory_path() / (L"聊天室-" + std::to_wstring(GetCurrentProcessId()));
        std::filesystem::create_directories(m_directory);
        m_file = m_directory / L"词库.ini";
        UniqueHandle file(CreateFileW(m_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), kContent, sizeof kContent - 1, &written, nullptr));
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
    }

    // The same paths as the service names them: code page 936 texts.
    std::string directoryText() const { return std::filesystem::temp_directory_path().string() + "\\聊天室-" + std::to_string(GetCurrentProcessId()); }
    std::string fileText() const { return kFiles.joinPath(directoryText(), "词库.ini"); }

    static constexpr char kContent[] = "keyword\r\nreply\r\n";
    std::filesystem::path m_directory;
    std::filesystem::path m_file;
};

TEST_F(Win32FilesTest, ChineseNamesAreFoundAndRead)
{
    struct Case {
        std::string name;
        bool exists;
    };
    const Case cases[] = {
        { "词库.ini", true },
        { "词*.ini", true },
        { "?库.ini", true },
        { "库.ini", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(kFiles.fileExists(kFiles.joinPath(directoryText(), c.name)), c.exists) << c.name;
    EXPECT_TRUE(kFiles.fileExists(directoryText()));
    EXPECT_EQ(kFiles.readFile(fileText()).bytes, kContent);
}

TEST_F(Win32FilesTest, FileOpenForWritingElsewhereIsNotRead)
{
    {
        UniqueHandle writer(CreateFileW(m_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_TRUE(kFiles.readFile(fileText()).empty());
    }
    // Another reader is no obstacle.
    UniqueHandle reader(CreateFileW(m_file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    EXPECT_EQ(kFiles.readFile(fileText()).bytes, kContent);
}

} // namespace
