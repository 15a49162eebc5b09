// Whether bytes are well-formed UTF-8 (RFC 3629): what a WebSocket text frame must hold.
#pragma once

#include <string_view>

// False for overlong forms, surrogates, code points above U+10FFFF and cut-off sequences.
bool isValidUtf8(std::string_view bytes);
