// The administrator's actions on the selected roster entry, and the room's dissolution when
// the console window goes away. Each notice is one text in one send; both of its forms are
// constants as the clients receive them.
#include "app/Handlers.h"

#include "app/ClientTexts.h"
#include "app/ServiceState.h"
#include "console/ControlOperations.h"
#include "net/TcpServer.h"

namespace {

struct AdminNotice {
    std::string_view firstForm;
    std::string_view continuedForm;
    bool marksEntry;
};

constexpr AdminNotice kKick { "管理员\r\n你已被管理员踢出聊天室！", "\r\n\r\n管理员\r\n你已被管理员踢出聊天室！", false };
constexpr AdminNotice kShake { "管理员\r\n管理员抖了你一下！", "\r\n\r\n管理员\r\n管理员抖了你一下！", true };
constexpr AdminNotice kQuake { "管理员\r\n管理员对你使用了屏幕地震！", "\r\n\r\n管理员\r\n管理员对你使用了屏幕地震！", true };
constexpr AdminNotice kReward { "管理员\r\n管理员给了你一次改名的机会！并且可以去除您的本机号！", "\r\n\r\n管理员\r\n管理员给了你一次改名的机会！并且可以去除您的本机号！", true };
constexpr AdminNotice kMute { "管理员\r\n你已被管理员禁言1分钟！", "\r\n\r\n管理员\r\n你已被管理员禁言1分钟！", true };
constexpr AdminNotice kPrank { "管理员\r\n管理员让你心甘情愿的退出聊天室！", "\r\n\r\n管理员\r\n管理员让你心甘情愿的退出聊天室！", true };
constexpr AdminNotice kDissolution { "管理员\r\n管理员已退出聊天室！聊天室解散！", "\r\n\r\n管理员\r\n管理员已退出聊天室！聊天室解散！", false };

// Sends the notice to one entry in the form its marker decides, marking it where the notice
// does. With nothing selected the entry is the empty text, which names no client.
void sendAdminNotice(std::string_view entry, const AdminNotice& notice)
{
    if (isMarked(entry)) {
        sendToEntry(entry, notice.continuedForm);
        return;
    }
    sendToEntry(entry, notice.firstForm);
    if (notice.marksEntry)
        markEntry(entry);
}

Text selectedEntry()
{
    return itemText(列表框1, currentSelection(列表框1));
}

void noticeToSelected(const AdminNotice& notice)
{
    sendAdminNotice(selectedEntry(), notice);
}

} // namespace

void onKick()
{
    Text entry = selectedEntry();
    sendAdminNotice(entry, kKick);
    // The client-left handler runs inside this call: it removes the entry and its marker and
    // tells the others.
    serverComponent(服务器1).disconnectClient(entry);
}

void onShake() { noticeToSelected(kShake); }
void onQuake() { noticeToSelected(kQuake); }
void onReward() { noticeToSelected(kReward); }
void onMute() { noticeToSelected(kMute); }
void onPrank() { noticeToSelected(kPrank); }

void onWindowDestroyed()
{
    // The connections still exist here; the server component closes them gracefully afterwards.
    ServiceState& state = service();
    state.rosterSize = itemCount(列表框1);
    for (state.rosterIndex = 1; state.rosterIndex <= state.rosterSize; ++state.rosterIndex)
        sendAdminNotice(itemText(列表框1, state.rosterIndex - 1), kDissolution);
}
