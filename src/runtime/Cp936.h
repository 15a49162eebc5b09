// Conversion of the system's code page 936 texts to UTF-8, for the places where text leaves
// the system for people: the window (through Qt) and standard error.
#pragma once

#include <string>
#include <string_view>

// Bytes that are not valid code page 936 come out as U+FFFD, never as a failure.
std::string cp936ToUtf8(std::string_view text);
// The same, with CR LF line ends turned into LF, as windows and terminals show lines.
std::string cp936ToUtf8Lines(std::string_view text);
