// The event routing's death tests, on Qt (the routing's other cases run on every window
// system: ConsoleEventsTest.cpp).
#include "console/EventRouting.h"
#include "console/QtConsoleDriver.h"

#include <gmock/gmock.h>

#include <string>

namespace {

using namespace console_test;

// Event sources that do not exist end the program: exit status 255 and the fatal dialog's
// text on standard error (UTF-8, since there is no display).
using EventRoutingDeathTest = LoadedConsole<QtConsoleDriver>;

TEST_F(EventRoutingDeathTest, UnknownWindowIsFatal)
{
    EXPECT_EXIT(raiseEvent(0x52010002, kConsoleWindowUnitId, 0), ::testing::ExitedWithCode(255),
        ::testing::HasSubstr(reinterpret_cast<const char*>(u8"错误信息：未找到引发事件的窗口\n")));
}

TEST_F(EventRoutingDeathTest, UnknownUnitIsFatal)
{
    EXPECT_EXIT(raiseEvent(kConsoleWindowId, 0x1601FFFF, 0), ::testing::ExitedWithCode(255),
        ::testing::HasSubstr(reinterpret_cast<const char*>(u8"错误信息：未找到引发事件的窗口组件\n")));
}

TEST_F(EventRoutingDeathTest, OperationOnNoSuchUnitIsFatal)
{
    const std::string message = reinterpret_cast<const char*>(u8"错误信息：指定窗口或窗口组件不存在或尚未载入\n");
    EXPECT_EXIT(itemCount({ kConsoleWindowId, 0x1601FFFF, kTypeListBox }), ::testing::ExitedWithCode(255), ::testing::HasSubstr(message));
    // A unit of another kind than the operation's.
    EXPECT_EXIT(content({ kConsoleWindowId, 列表框1.unitId, kTypeEditBox }), ::testing::ExitedWithCode(255), ::testing::HasSubstr(message));
    EXPECT_EXIT(addItem({ kConsoleWindowId, 编辑框1.unitId, kTypeListBox }, "x"), ::testing::ExitedWithCode(255), ::testing::HasSubstr(message));
    // The window is no longer loaded.
    EXPECT_EXIT({
        QtConsoleDriver::close();
        itemCount(列表框1);
    },
        ::testing::ExitedWithCode(255), ::testing::HasSubstr(message));
}

} // namespace
