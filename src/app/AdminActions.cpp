// The administrator's actions on the selected roster entry, and the room's dissolution when
// the console window goes away. Each notice is one text in one send; both of its forms are
// constants as the clients receive them.
#include "app/Handlers.h"

#include "app/ClientTexts.h"
#include "app/ServiceState.h"
#include "console/ControlOperations.h"
#include "net/TcpServer.h"

namespace {

constexpr FramedText kKick { kAdministrator, "你已被管理员踢出聊天室！" };
constexpr FramedText kShake { kAdministrator, "管理员抖了你一下！" };
constexpr FramedText kQuake { kAdministrator, "管理员对你使用了屏幕地震！" };
constexpr FramedText kReward { kAdministrator, "管理员给了你一次改名的机会！并且可以去除您的本机号！" };
constexpr FramedText kMute { kAdministrator, "你已被管理员禁言1分钟！" };
constexpr FramedText kPrank { kAdministrator, "管理员让你心甘情愿的退出聊天室！" };
constexpr FramedText kDissolution { kAdministrator, "管理员已退出聊天室！聊天室解散！" };

// With nothing selected the entry is the empty text, which names no client.
Text selectedEntry()
{
    return itemText(列表框1, currentSelection(列表框1));
}

void noticeToSelected(const FramedText& notice)
{
    sendNotice(selectedEntry(), notice);
}

} // namespace

void onKick()
{
    Text entry = selectedEntry();
    // The kick is not marked: the client is about to go. It is the client's last message, so
    // it gets through a full queue.
    sendNotice(entry, kKick, false, MessageKind::PartingText);
    // The client-left handler runs inside this call: it removes the entry and its marker and
    // tells the others.
    serverComponent(服务器1).disconnectClient(entry);
}

void onShake() { noticeToSelected(kShake); }
void onQuake() { noticeToSelected(kQuake); }
void onReward() { noticeToSelected(kReward); }
void onMute() { noticeToSelected(kMute); }
// The prank makes the client leave of its own accord: its last message too.
void onPrank() { sendNotice(selectedEntry(), kPrank, true, MessageKind::PartingText); }

void onWindowDestroyed()
{
    // The connections still exist here; the server component closes them gracefully afterwards.
    serverComponent(服务器1).setMemory(nullptr);
    service().rosterSize = itemCount(列表框1);
    scanRoster([](int32_t index) { sendNotice(itemText(列表框1, index), kDissolution, false, MessageKind::PartingText); });
}
