// The bytes the end-to-end tests feed the program and find in what it writes, besides the
// notices it sends its clients (support/NoticeTexts.h). The literals compile to code page 936,
// the encoding on the wire and in reply.ini.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What the program writes to standard error is UTF-8, unlike the wire: written as u8 literals.
inline std::string utf8(std::u8string_view text)
{
    return std::string(text.begin(), text.end());
}

// Shown when the program starts without a word library: the message box's caption and text.
inline const std::string kErrorCaption = utf8(u8"错误：");
inline const std::string kMissingLibraryText = utf8(u8"缺少reply.ini词库文件！");

// A literal with NUL bytes in it, all of it.
template<size_t N>
std::string bytesOf(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

// The word library most tests run with: the keyword 你好 before its own part 好, and an entry
// with a third line that is no part of the reply.
inline std::string testWordLibrary()
{
    return "你好\r\n你好呀\r\n\r\n好\r\n嗯\r\n\r\n天气\r\n晴天\r\n多云\r\n";
}
