// Conversion between the system's code page 936 texts and UTF-8, for the places where text
// leaves the system for people (the window through Qt, standard error, a browser) or comes in
// from a browser.
// Link-time calls, not an object passed down: stateless conversions, like a C library call.
#pragma once

#include <string>
#include <string_view>

// Bytes that are not valid code page 936 come out as U+FFFD, never as a failure.
std::string cp936ToUtf8(std::string_view text);
// The same, with CR LF line ends turned into LF, as windows and terminals show lines.
std::string cp936ToUtf8Lines(std::string_view text);
// Well-formed UTF-8 to code page 936; each character that code page 936 lacks becomes one
// "?". Bytes that are not well-formed UTF-8 are the caller's to refuse first.
std::string utf8ToCp936(std::string_view utf8);
