// Unit tests of the fatal error path: the dialog text byte for byte, and the ends of the
// program that array index errors and failed allocations cause, each run in a child process.
// Without a display the dialog goes to standard error as UTF-8, which is what the children's
// output is matched against.
#include "runtime/Cp936.h"
#include "runtime/FatalError.h"
#include "runtime/ProgramFrame.h"
#include "runtime/TextArray.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <new>
#include <string>
#include <vector>

// A huge request must come back as a null pointer for the program's own failure path to see
// it; AddressSanitizer would otherwise end the process itself. Unused without the sanitizer.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::ExitedWithCode;
using ::testing::HasSubstr;
using ::testing::Not;

// Literals in this file are code page 936; what a child prints is UTF-8.
std::string utf8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}

// The dialog's parts as code page 936 bytes, written out so that they do not depend on how
// this file's literals are compiled.
constexpr std::string_view kHeading = "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED" "!\r\n\r\n"; // 运行时出错!
constexpr std::string_view kCodeLabel = "\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA";        // 错误代码：
constexpr std::string_view kMessageLabel = "\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA";     // 错误信息：
// 数组成员引用下标超出定义范围
constexpr std::string_view kIndexTooHigh = "\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA"
                                           "\xB3\xAC\xB3\xF6\xB6\xA8\xD2\xE5\xB7\xB6\xCE\xA7";

std::string joined(std::initializer_list<std::string_view> parts)
{
    std::string text;
    for (std::string_view part : parts)
        text += part;
    return text;
}

TEST(FatalErrorText, CodeLineOnlyForANonZeroCode)
{
    EXPECT_EQ(fatalErrorText(1, kIndexTooHigh),
        joined({ kHeading, kCodeLabel, "1\r\n\r\n", kMessageLabel, kIndexTooHigh, "\r\n" }));
    EXPECT_EQ(fatalErrorText(1, "数组成员引用下标超出定义范围"),
        "运行时出错!\r\n\r\n错误代码：1\r\n\r\n错误信息：数组成员引用下标超出定义范围\r\n");
    EXPECT_EQ(fatalErrorText(4, "数组成员引用下标必须大于等于1"),
        "运行时出错!\r\n\r\n错误代码：4\r\n\r\n错误信息：数组成员引用下标必须大于等于1\r\n");
    EXPECT_EQ(fatalErrorText(0, "分配 8 字节内存失败!"),
        joined({ kHeading, kMessageLabel, "\xB7\xD6\xC5\xE4" " 8 " "\xD7\xD6\xBD\xDA\xC4\xDA\xB4\xE6\xCA\xA7\xB0\xDC" "!\r\n" }));
    EXPECT_EQ(fatalErrorText(0, "载入启动窗口失败"), "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n");
    // An empty message drops the message line, as code 0 drops the code line.
    EXPECT_EQ(fatalErrorText(1, ""), joined({ kHeading, kCodeLabel, "1\r\n\r\n" }));
    EXPECT_EQ(fatalErrorText(0, ""), std::string(kHeading));
}

// What goes to standard error is converted from code page 936; a broken byte must not cut
// the rest of the message off.
TEST(StandardErrorText, Cp936BecomesUtf8)
{
    struct Case {
        std::string_view cp936;
        std::string utf8;
    };
    const Case cases[] = {
        { "", "" },
        { "abc\r\n", "abc\r\n" },
        { "管理员", utf8(u8"管理员") },
        { "错误代码：1", utf8(u8"错误代码：1") },
        { "a\xFF" "b", "a\xEF\xBF\xBD" "b" },
        { "ab\xB0", "ab\xEF\xBF\xBD" }, // a lead byte cut off at the end
    };
    for (const Case& c : cases)
        EXPECT_EQ(cp936ToUtf8(c.cp936), c.utf8);

    std::string longText, longExpected;
    for (int i = 0; i < 1000; ++i) {
        longText += "聊";
        longExpected += utf8(u8"聊");
    }
    EXPECT_EQ(cp936ToUtf8(longText), longExpected);
}

class FatalErrorDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(FatalErrorDeathTest, IndexBeyondTheEndEndsWithCode1)
{
    TextArray array(std::vector<std::string> { "a", "b" });
    EXPECT_EXIT((void)elementAt(array, 3), ExitedWithCode(255),
        AllOf(ContainsRegex(utf8(u8"错误代码：1\r?\n")), HasSubstr(utf8(u8"错误信息：数组成员引用下标超出定义范围"))));
    TextArray empty;
    EXPECT_EXIT((void)elementAt(empty, 1), ExitedWithCode(255), ContainsRegex(utf8(u8"错误代码：1\r?\n")));
    EXPECT_EXIT((void)elementAt(array, std::numeric_limits<int32_t>::max()), ExitedWithCode(255),
        ContainsRegex(utf8(u8"错误代码：1\r?\n")));
}

TEST_F(FatalErrorDeathTest, IndexBelowOneEndsWithCode4)
{
    TextArray array(std::vector<std::string> { "a", "b" });
    EXPECT_EXIT((void)elementAt(array, 0), ExitedWithCode(255),
        AllOf(ContainsRegex(utf8(u8"错误代码：4\r?\n")), HasSubstr(utf8(u8"错误信息：数组成员引用下标必须大于等于1"))));
    EXPECT_EXIT((void)elementAt(array, -1), ExitedWithCode(255), ContainsRegex(utf8(u8"错误代码：4\r?\n")));
    // The check must not overflow on the lowest index.
    EXPECT_EXIT((void)elementAt(array, std::numeric_limits<int32_t>::min()), ExitedWithCode(255),
        ContainsRegex(utf8(u8"错误代码：4\r?\n")));
}

TEST_F(FatalErrorDeathTest, EndRoutineDoesNotRun)
{
    EXPECT_EXIT(
        {
            registerEndRoutine([] { std::fputs("end routine ran\n", stderr); });
            TextArray empty;
            (void)elementAt(empty, 1);
        },
        ExitedWithCode(255), AllOf(HasSubstr(utf8(u8"运行时出错!")), Not(HasSubstr("end routine ran"))));
}

TEST_F(FatalErrorDeathTest, FailedAllocationEndsWithoutCodeLine)
{
    linkAllocationFailureOperators();
    EXPECT_EXIT(
        {
            volatile size_t size = size_t(1) << 45;
            char* block = new char[size];
            block[0] = 1;
            delete[] block;
        },
        ExitedWithCode(255),
        AllOf(HasSubstr(utf8(u8"错误信息：分配 35184372088832 字节内存失败!")), Not(HasSubstr(utf8(u8"错误代码")))));
    EXPECT_EXIT(
        {
            volatile size_t size = size_t(1) << 45;
            void* block = ::operator new(size);
            ::operator delete(block);
        },
        ExitedWithCode(255), HasSubstr(utf8(u8"分配 35184372088832 字节内存失败!")));
    // No caller checks for a null block, so the no-throw form ends the program too.
    EXPECT_EXIT(
        {
            volatile size_t size = size_t(1) << 45;
            char* block = new (std::nothrow) char[size];
            std::fprintf(stderr, "returned %p\n", static_cast<void*>(block));
            delete[] block;
        },
        ExitedWithCode(255), HasSubstr(utf8(u8"分配 35184372088832 字节内存失败!")));
}

TEST_F(FatalErrorDeathTest, FailedAlignedAllocationEnds)
{
    linkAllocationFailureOperators();
    EXPECT_EXIT(
        {
            volatile size_t size = size_t(1) << 45;
            void* block = ::operator new(size, std::align_val_t(64));
            ::operator delete(block, std::align_val_t(64));
        },
        ExitedWithCode(255), HasSubstr(utf8(u8"分配 35184372088832 字节内存失败!")));
    // Rounding the largest request up to the alignment must not wrap around to a tiny block.
    EXPECT_EXIT(
        {
            volatile size_t size = std::numeric_limits<size_t>::max();
            void* block = ::operator new(size, std::align_val_t(64));
            ::operator delete(block, std::align_val_t(64));
        },
        ExitedWithCode(255), HasSubstr(utf8(u8"分配 18446744073709551615 字节内存失败!")));
}

} // namespace
