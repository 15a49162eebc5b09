// The fixture of the console tests: the real console window, loaded with the tests' counting
// handler table and its server moved to a free port, closed again after each test.
#pragma once

#include "console/ConsoleTestSupport.h"
#include "console/CountingHandlers.h"

#include <gtest/gtest.h>

namespace console_test {

class LoadedConsole : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerCountingHandlers();
        m_port = loadConsoleOnFreePort();
        ASSERT_NE(m_port, 0) << "the console could not be loaded";
        m_console = console();
        m_window = consoleWidget();
    }

    void TearDown() override
    {
        EXPECT_FALSE(m_watchdog.tripped()) << "a pop-up stayed open until the watchdog closed it";
        closeConsole();
        registerCountingHandlers();
    }

    int m_port = 0;
    ConsoleWindow* m_console = nullptr;
    // The console's top-level widget.
    QWidget* m_window = nullptr;
    PopupWatchdog m_watchdog;
};

} // namespace console_test
