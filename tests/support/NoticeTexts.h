// The texts the room sends its clients, as the clients must receive them, for every suite that
// checks a client's stream. A notice is a sender line, CR LF and a body, either as it is (first
// form) or after a blank line (continued form); each body is written once here and both forms
// are built from it. The literals compile to code page 936, the encoding on the wire, so every
// target that includes this header compiles with chatroom_cp936_texts.
#pragma once

#include <string>
#include <string_view>

namespace test_support {

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

// An administrator's notice in the form that the client's history decides.
inline std::string administratorNotice(bool continued, std::string_view body)
{
    return continued ? continuedForm(kAdministrator, body) : firstForm(kAdministrator, body);
}

// What the administrator's actions tell the selected client.
inline const std::string kShakeBody = "管理员抖了你一下！";
inline const std::string kQuakeBody = "管理员对你使用了屏幕地震！";
inline const std::string kRewardBody = "管理员给了你一次改名的机会！并且可以去除您的本机号！";
inline const std::string kMuteBody = "你已被管理员禁言1分钟！";
inline const std::string kPrankBody = "管理员让你心甘情愿的退出聊天室！";
inline const std::string kKickBody = "你已被管理员踢出聊天室！";
// Told to every client when the administrator closes the room.
inline const std::string kDissolutionBody = "管理员已退出聊天室！聊天室解散！";
// Follows the leaver's address in the leave notice.
inline const std::string kLeaveBodyEnd = "离开聊天室！";

// Told to the others when a client leaves; the blank line appears once any data has arrived
// (more precisely: once the latest data arrived has text before its first NUL).
inline std::string leaveNotice(bool continued, std::string_view leaver)
{
    return administratorNotice(continued, std::string(leaver) + kLeaveBodyEnd);
}

inline std::string dissolutionNotice(bool continued)
{
    return administratorNotice(continued, kDissolutionBody);
}

// The robot speaks to the whole room, always in continued form.
inline std::string robotSays(std::string_view body)
{
    return continuedForm(kRobot, body);
}

// The robot's answers to the votes "@关闭" and "@开启".
inline const std::string kCloseTwoMore = "还需要2个人才能关闭我哦！";
inline const std::string kCloseOneMore = "还需要1个人才能关闭我哦！";
inline const std::string kClosed = "机器人已关闭，开启机器人请发送@开启";
inline const std::string kCloseAgain = "每个用户只能输入@关闭一次！";
inline const std::string kOpenTwoMore = "还需要2个人才能开启我哦！";
inline const std::string kOpenOneMore = "还需要1个人才能开启我哦！";
inline const std::string kOpened = "哼哼！刚刚居然把我关进小黑屋。看我不打死你！";
inline const std::string kOpenAgain = "每个用户只能输入@开启一次！";

} // namespace test_support
