// The value store's path rules, shared by every store backend: root codes, where a registry
// path splits into key path and value name, which key paths are well formed, and the data
// of a string value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace registry_detail {

// Paths and texts end at their first NUL, like the C strings the registry calls take.
std::string_view untilNul(std::string_view bytes);

// 1 to 5 select a root key; any other code is the current user's.
int32_t effectiveRoot(int32_t root);

// Byte offsets of the backslashes that separate path parts. The scan steps over two-byte
// characters, whose second byte may be 0x5C without being a separator.
std::vector<size_t> separatorOffsets(std::string_view path);

// A key path is "" (the root key) or non-empty parts joined by single backslashes, ending on
// a whole character. Anything else names no key: it is neither found nor created.
bool isValidKeyPath(std::string_view key);

// A string value's data: its bytes up to the first NUL, and the NUL.
std::string stringData(std::string_view text);

}
