// The fatal error path: the one place where the program gives up. It blocks every further
// event, shows the error dialog (or prints it when there is no display), skips the end
// routine and ends the process with status 255.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The dialog text: the heading, the code line for a non-zero code and the message line.
std::string fatalErrorText(int32_t code, std::string_view message);

[[noreturn]] void fatalError(int32_t code, std::string_view message);
