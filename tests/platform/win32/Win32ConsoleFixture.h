// The fixture of the Win32 console tests: the real console window, loaded with the console
// tests' counting handler table and its server moved off the fixed port, closed after each test.
#pragma once

#include "console/CountingHandlers.h"
#include "platform/win32/Win32ConsoleSupport.h"

#include <gtest/gtest.h>

namespace win32_console_test {

using console_test::handlerCalls;
using console_test::registerCountingHandlers;

class LoadedConsole : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerCountingHandlers();
        ASSERT_TRUE(loadConsole()) << "the console could not be loaded and activated";
        m_window = consoleWindow();
    }

    void TearDown() override
    {
        EXPECT_FALSE(m_watchdog.tripped()) << "a pop-up stayed open until the watchdog closed it";
        closeConsole();
        registerCountingHandlers();
    }

    HWND m_window = nullptr;
    PopupWatchdog m_watchdog;
};

} // namespace win32_console_test
