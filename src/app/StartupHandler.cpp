// The start-up handler: makes sure the room can take clients (or tells the administrator why
// not and ends it), opens the web entrance (or says why it cannot), loads the robot's word
// library from beside the program (or says what is wrong with it), writes the host's name
// and first address into the banner and, without a window, says where to join instead.
#include "app/Handlers.h"

#include "app/Robot.h"
#include "app/RoomAnnouncement.h"
#include "app/ServiceState.h"
#include "console/ControlOperations.h"
#include "net/HostInfo.h"
#include "net/TcpServer.h"
#include "runtime/Cp936.h"
#include "runtime/Files.h"
#include "runtime/MessageBox.h"
#include "web/WebEntrance.h"

#include <string>

namespace {
constexpr std::string_view kWordLibraryName = "reply.ini";
// Shown in the banner when the machine has no IPv4 address at all.
constexpr std::string_view kNoAddress = "无";
constexpr std::string_view kErrorCaption = "错误：";
constexpr std::string_view kWarningCaption = "警告：";

void showError(std::string_view text)
{
    messageBox(text, kMessageBoxIconError, kErrorCaption);
}

// What the administrator is told about the word library, or nothing when it loaded whole.
Text wordLibraryProblem(const WordLibraryLoad& load)
{
    switch (load.status) {
    case FileReadStatus::Read:
        if (load.firstNul != 0)
            return concatText("reply.ini词库文件的第", std::to_string(load.firstNul), "个字节是空字符，其后的内容未载入！");
        if (load.entries > 0)
            return {};
        // Read, yet the robot has nothing to answer with.
        if (load.empty)
            return "reply.ini词库文件是空的，机器人无话可答！";
        if (load.lineFeedsOnly)
            return "reply.ini词库文件的行尾只有LF，没有可读的词条（行尾须为CR LF），机器人无话可答！";
        return "reply.ini词库文件中没有可读的词条，机器人无话可答！";
    case FileReadStatus::Missing:
        return "缺少reply.ini词库文件！";
    case FileReadStatus::Unreadable:
        return "reply.ini词库文件无法读取！";
    case FileReadStatus::NotRegularFile:
        return "reply.ini词库文件不是普通文件！";
    case FileReadStatus::TooLarge:
        return concatText("reply.ini词库文件超过", std::to_string(kWordLibraryLimitMiB), "MB的大小上限，未载入！");
    }
    return {};
}

// A room whose port cannot be opened would look alive and never see a client, and nothing in
// it could mend that later; so the administrator is told the port and why, and the program
// ends with a failure status, which a service manager can act on.
bool refuseToRunWithoutListener()
{
    TcpServer& server = serverComponent(服务器1);
    if (server.isListening())
        return false;
    service().exitStatus = kExitStatusCannotListen;
    showError(concatText("无法在TCP端口", std::to_string(server.port()), "上监听（", concatText(server.listenFailure(), "），聊天室服务器将退出！")));
    return true;
}

// Browsers join through the web entrance, under the machine's names and the administrator's;
// one that came by another name is sent to the first address. A port that cannot be opened
// costs the room its browsers only: the administrator is told which port and why, and the
// room runs for TCP clients. Returns the port browsers join on, nothing when there is none.
std::optional<uint16_t> openWebEntranceOrWarn(const TextArray& addresses)
{
    std::optional<uint16_t> port = service().webPort;
    if (!port)
        return std::nullopt;
    WebEntranceNames names { getHostName(), service().webHosts, addresses.elementCount() > 0 ? addresses.elementAt(1) : std::string() };
    const Listener& entrance = openWebEntrance(serverComponent(服务器1), *port, names);
    service().webEntranceOpen = entrance.isListening();
    if (entrance.isListening())
        return port;
    messageBox(concatText("无法在TCP端口", std::to_string(*port), "上打开网页入口（", concatText(entrance.failure(), "），浏览器无法加入；聊天室照常运行。")),
        kMessageBoxIconWarning, kWarningCaption);
    return std::nullopt;
}

} // namespace

void onWindowCreated()
{
    if (refuseToRunWithoutListener())
        return;
    serverComponent(服务器1).onNameHeld([] { service().newcomersTurnedAway.note(1); });
    // A page's nickname names its entry as a TCP client's sender line does.
    serverComponent(服务器1).onNicknameGiven([](std::string_view client, std::string_view nickname) {
        service().memberNames.setName(client, utf8ToCp936(nickname));
    });
    serverComponent(服务器1).setMemory(&service().history);
    TextArray addresses = getLocalAddresses();
    std::optional<uint16_t> webPort = openWebEntranceOrWarn(addresses);
    ServiceState& state = service();
    // The robot is on when the library was read, even if it held nothing to answer; a file that
    // could not be read at all counts as missing.
    // A program directory that cannot be named holds no library the program could read: it is
    // missing, and never looked for at the root of the current drive instead.
    const Files& files = state.files;
    std::string directory = files.programDirectory();
    WordLibraryLoad library = directory.empty() ? WordLibraryLoad {} : loadWordLibrary(files, files.joinPath(directory, kWordLibraryName));
    state.robotEnabled = library.status == FileReadStatus::Read ? 1 : 0;
    if (Text problem = wordLibraryProblem(library); !problem.empty())
        showError(problem);
    Text hostName = getHostName();
    Text firstAddress = addresses.elementCount() > 0 ? addresses.elementAt(1) : Text(kNoAddress);
    setContent(编辑框2, concatText("本机名称：", hostName, "\r\n本机IP：", firstAddress));
    announceOpenRoom(serverComponent(服务器1).port(), webPort);
}
