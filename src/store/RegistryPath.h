// The value store's path format, the same for every backend: a backslash-separated key path,
// then the value name after the last backslash. Paths are code page 936 texts, so every scan
// steps over two-byte characters, whose second byte may be 0x5C without being a separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The key part and the value name of a path, split at its last backslash.
struct RegistryPath {
    std::string key;
    std::string valueName;
};
RegistryPath splitRegistryPath(std::string_view path);

// Root codes 1 to 5 name themselves; any other code is the current user.
int32_t effectiveRoot(int32_t root);

// Byte offsets of the backslashes that separate path parts.
std::vector<size_t> separatorOffsets(std::string_view path);

// A key path is "" (the root key) or non-empty parts joined by single backslashes, ending on
// a whole character. Anything else names no key: it is neither found nor created.
bool isValidKeyPath(std::string_view key);

// Names compare without regard to the case of ASCII letters, as the platform's registry does.
std::string foldCase(std::string_view name);

// A string value's data: its bytes up to the first NUL, and the NUL.
std::string stringData(std::string_view text);

// %NAME% becomes the variable's value, as an expandable string reads.
std::string expandEnvironment(std::string_view text);
