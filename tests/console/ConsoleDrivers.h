// The driver of this build's window system for the typed console suites (ConsoleEventsTest,
// ConsoleLayoutTest): Qt's in the Linux console suite, Win32's in the Windows one.
#pragma once

#ifdef _WIN32
#include "platform/win32/Win32ConsoleDriver.h"
#else
#include "console/QtConsoleDriver.h"
#endif

#include <gtest/gtest.h>

#include <string>

namespace console_test {

#ifdef _WIN32
using ConsoleDrivers = ::testing::Types<win32_console_test::Win32ConsoleDriver>;
#else
using ConsoleDrivers = ::testing::Types<QtConsoleDriver>;
#endif

// Names the typed tests by their driver: ConsoleEvents/Qt, ConsoleEvents/Win32.
struct ConsoleDriverName {
    template<class Driver>
    static std::string GetName(int) { return Driver::kName; }
};

} // namespace console_test
