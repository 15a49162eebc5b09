// The bytes the room sends its clients, written out as the clients must receive them. The
// literals compile to code page 936, the encoding on the wire.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline const std::string kAdministrator = "管理员";
inline const std::string kRobot = "Velqo机器人";

// A sender line and a body, with nothing in front: the first text a client is sent.
inline std::string firstForm(std::string_view sender, std::string_view body)
{
    return std::string(sender) + "\r\n" + std::string(body);
}

// The same after a blank line: every later text.
inline std::string continuedForm(std::string_view sender, std::string_view body)
{
    return "\r\n\r\n" + firstForm(sender, body);
}

// Told to the others when a client leaves; the blank line appears once any data has arrived
// (more precisely: once the latest data arrived has text before its first NUL).
inline std::string leaveNotice(bool afterData, std::string_view leaver)
{
    std::string body = std::string(leaver) + "离开聊天室！";
    return afterData ? continuedForm(kAdministrator, body) : firstForm(kAdministrator, body);
}

inline std::string robotSays(std::string_view body)
{
    return continuedForm(kRobot, body);
}

inline std::string dissolutionNotice(bool alreadySentSomething)
{
    std::string_view body = "管理员已退出聊天室！聊天室解散！";
    return alreadySentSomething ? continuedForm(kAdministrator, body) : firstForm(kAdministrator, body);
}

// The bodies of the administrator's notices, one per item of the pop-up menu.
inline const std::string kKickBody = "你已被管理员踢出聊天室！";
inline const std::string kShakeBody = "管理员抖了你一下！";
inline const std::string kQuakeBody = "管理员对你使用了屏幕地震！";
inline const std::string kRewardBody = "管理员给了你一次改名的机会！并且可以去除您的本机号！";
inline const std::string kMuteBody = "你已被管理员禁言1分钟！";
inline const std::string kPrankBody = "管理员让你心甘情愿的退出聊天室！";

// What the program writes to standard error (as UTF-8, unlike the wire) when it starts
// without a word library: the message box's caption and text.
inline const std::string kMissingLibraryMessage = [] {
    std::u8string_view message = u8"错误： 缺少reply.ini词库文件！";
    return std::string(message.begin(), message.end());
}();

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
