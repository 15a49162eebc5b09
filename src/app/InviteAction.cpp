// The console's invite action (its system menu item 显示加入地址…, a double click on the
// banner): opens the page's invite view, with the room's web addresses large and a QR code of
// them, in the system's browser, for the administrator to show on a projector. It opens the
// page on this machine's loopback address, which always reaches the entrance; the page itself
// shows the addresses others use. Without a web entrance it says so instead.
#include "app/Handlers.h"

#include "app/ServiceState.h"
#include "console/ConsoleWindow.h"
#include "console/UnitReference.h"
#include "runtime/MessageBox.h"
#include "runtime/Text.h"

#include <string>

namespace {
constexpr std::string_view kInviteHost = "http://127.0.0.1:";
// The page opens its invite view at once for this fragment.
constexpr std::string_view kInvitePath = "/#invite";
} // namespace

void onInvite()
{
    ServiceState& state = service();
    if (!state.webPort) {
        messageBox("网页入口已关闭（以--no-web启动），浏览器无法加入。", kMessageBoxIconInformation);
        return;
    }
    std::string port = std::to_string(*state.webPort);
    if (!state.webEntranceOpen) {
        messageBox(concatText("网页入口未能在TCP端口", port, "上打开，浏览器无法加入。"), kMessageBoxIconWarning);
        return;
    }
    std::string url = std::string(kInviteHost) + port + std::string(kInvitePath);
    ConsoleWindow* console = findLoadedWindow(kConsoleWindowId);
    if (console && console->view().openUrl(url))
        return;
    messageBox(concatText("无法打开浏览器。请在浏览器中打开", url, "查看加入地址和二维码。"), kMessageBoxIconWarning);
}
