// The fixture of the console tests on every window system: the real console window, loaded
// with the tests' counting handler table and its server moved to a free port, closed again
// after each test. A driver (console/QtConsoleDriver.h, platform/win32/Win32ConsoleDriver.h)
// does what differs between the window systems: making the window, the user's clicks and
// keys, reading a control.
#pragma once

#include "console/ConsoleWindow.h"
#include "console/ControlOperations.h"
#include "console/CountingHandlers.h"
#include "console/UnitReference.h"
#include "net/TcpServer.h"
#include "runtime/ProgramFrame.h"
#include "support/LocalPorts.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace console_test {

// A place on the screen, in pixels.
struct ScreenPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
    friend std::ostream& operator<<(std::ostream& out, const ScreenPoint& point) { return out << '(' << point.x << ", " << point.y << ')'; }
};

// A rectangle on the screen or in a window, in pixels.
struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
    friend std::ostream& operator<<(std::ostream& out, const ScreenRect& rect)
    {
        return out << rect.width << 'x' << rect.height << " at (" << rect.x << ", " << rect.y << ')';
    }
};

// Where the administrator's pop-up opens, from the pointer.
constexpr ScreenPoint kPopupOffset { 3, 3 };

// How the user chooses an item of the pop-up.
enum class ChoiceWay { Keys, LeftButton, RightButton };

// One way the user asks the window to close, named.
struct CloseRequest {
    const char* what;
    std::function<void()> request;
};

// The console while it is loaded, or nullptr.
inline ConsoleWindow* console() { return findLoadedWindow(kConsoleWindowId); }

// The texts of the roster's entries as the list box model holds them, in order.
inline std::vector<std::string> rosterTexts()
{
    std::vector<std::string> texts;
    for (int32_t index = 0; index < itemCount(列表框1); ++index)
        texts.push_back(itemText(列表框1, index));
    return texts;
}

// Loads the console (its created event runs whatever handler table is registered) and moves its
// server component off the fixed port, so that tests never depend on 19730 being free. Returns
// the port the server now listens on, or 0 when the window could not be loaded.
inline int loadConsoleOnFreePort()
{
    if (!loadWindow(kConsoleWindowId))
        return 0;
    int port = test_support::freeTcpPort();
    serverComponent(服务器1).setPort(port);
    return serverComponent(服务器1).isListening() ? port : 0;
}

template<class Driver>
class LoadedConsole : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerCountingHandlers();
        m_port = Driver::load();
        ASSERT_NE(m_port, 0) << "the console could not be loaded";
        m_console = console();
        m_window = Driver::window();
    }

    void TearDown() override
    {
        EXPECT_FALSE(m_watchdog.tripped()) << "a pop-up stayed open until the watchdog closed it";
        Driver::close();
        registerCountingHandlers();
    }

    int m_port = 0;
    ConsoleWindow* m_console = nullptr;
    // The console's top-level window.
    typename Driver::Window m_window {};
    typename Driver::PopupWatchdog m_watchdog;
};

} // namespace console_test
