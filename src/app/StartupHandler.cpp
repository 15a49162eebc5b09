// The start-up handler: loads the robot's word library from beside the program (or says that
// it is missing) and writes the host's name and first address into the banner.
#include "app/Handlers.h"

#include "app/Robot.h"
#include "app/ServiceState.h"
#include "console/ControlOperations.h"
#include "net/HostInfo.h"
#include "runtime/Files.h"
#include "runtime/MessageBox.h"

namespace {
constexpr std::string_view kWordLibraryName = "reply.ini";
// Shown in the banner when the machine has no IPv4 address at all.
constexpr std::string_view kNoAddress = "无";
}

void onWindowCreated()
{
    ServiceState& state = service();
    TextArray addresses = getLocalAddresses();
    Text libraryPath = joinPath(programDirectory(), kWordLibraryName);
    if (fileExists(libraryPath)) {
        loadWordLibrary(libraryPath);
        state.robotEnabled = 1;
    } else {
        state.robotEnabled = 0;
        messageBox("缺少reply.ini词库文件！", kMessageBoxIconError, std::string_view("错误："));
    }
    Text hostName = getHostName();
    Text firstAddress = addresses.elementCount() > 0 ? addresses.elementAt(1) : Text(kNoAddress);
    setContent(编辑框2, concatText("本机名称：", hostName, "\r\n本机IP：", firstAddress));
}
