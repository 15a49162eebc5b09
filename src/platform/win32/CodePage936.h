// Conversions between the system's code page 936 texts and the wide (UTF-16) texts that the
// Win32 API takes, for the Win32 backend: window texts, file paths and registry names go
// through here, so that they read the same on a Windows of any language.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Code page 936 as Windows itself reads it (MultiByteToWideChar(936)), including the
// user-defined area, which Windows maps into the private use area. A byte that starts no
// valid character becomes U+FFFD and reading goes on with the next byte.
std::wstring cp936ToWide(std::string_view text);

// UTF-16 to code page 936; a character that code page 936 lacks becomes '?'.
std::string wideToCp936(std::wstring_view text);

// The same, or nothing when some character has no exact code page 936 form (no '?' and no
// look-alike stands in for it), for texts that must come back unchanged, such as paths.
std::optional<std::string> wideToCp936Exactly(std::wstring_view text);
