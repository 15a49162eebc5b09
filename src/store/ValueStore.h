// The per-user value store: a registry of keys and typed values, so that the robot's polls
// outlive a run and two servers of one user share them. On Windows it is the user's registry
// (HKEY_CURRENT_USER, platform/win32/Win32ValueStore.cpp); elsewhere an SQLite file in the
// user's configuration directory (platform/posix/PosixValueStore.cpp). Paths are the store's
// own format (RegistryPath.h): backslash-separated key path, then the value name after the
// last backslash (a path ending in a backslash names the key's default value). Every
// operation is one transaction; failures are folded into the result.
#pragma once

#include "runtime/ByteBlock.h"
#include "store/RegistryPath.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Root codes: 1 classes root, 2 current config, 3 current user, 4 local machine, 5 users;
// any other code is the current user.
constexpr int32_t kRootCurrentUser = 3;

// Value types as the store keeps them.
enum class ValueType : int32_t { String = 1, ExpandableString = 2, Binary = 3, Integer = 4 };

// Where the store lives: ${XDG_CONFIG_HOME:-$HOME/.config}/chatroom-server/registry.sqlite3.
// A relative XDG_CONFIG_HOME is ignored, as the XDG rules say, so that servers started from
// different directories still share one store. Taken anew by every operation.
std::string valueStorePath();


bool registryValueExists(int32_t root, std::string_view path);
// String and expandable string values (the latter with %NAME% expanded from the environment);
// otherwise the default, or the empty text when there is none.
std::string readRegistryText(int32_t root, std::string_view path, std::optional<std::string_view> defaultText = std::nullopt);
bool writeRegistryValue(int32_t root, std::string_view path, std::string_view text);
bool writeRegistryValue(int32_t root, std::string_view path, const char* text);
bool writeRegistryValue(int32_t root, std::string_view path, int32_t number);
bool writeRegistryValue(int32_t root, std::string_view path, const ByteBlock& block);
// Writes an expandable string value; the service itself writes only plain strings.
bool writeRegistryExpandableText(int32_t root, std::string_view path, std::string_view text);
// Deletes the value; when there is none, the key the whole path names (not when it has subkeys).
bool deleteRegistryItem(int32_t root, std::string_view path);

// A value as stored: its type and its data bytes (a string's data includes its NUL). Absent
// when the value does not exist or the store cannot be read.
struct RegistryValue {
    ValueType type;
    std::string data;
};
std::optional<RegistryValue> readRegistryValue(int32_t root, std::string_view path);
// True when the key exists; `keyPath` is a whole key path (no value name), "" the root key.
bool registryKeyExists(int32_t root, std::string_view keyPath);
// Closes the store's open connection, if any; the next operation opens it again. For the end
// of a run and for tests that remove the store's directory.
void closeValueStore();

// Runs `operations` (calls of the operations above) as one transaction: another process sees
// all of their writes or none, and writes nothing in between. Nothing of it is kept when
// `operations` returns false or the commit fails; when the transaction cannot begin (the store
// cannot be opened, or another process holds it past the busy timeout), they do not run.
bool inRegistryTransaction(const std::function<bool()>& operations);

// How long an operation waits for another process's write to end before it fails: five seconds
// unless set. A program that calls the store from a thread that must not stall sets a short
// limit; it holds from the next operation on.
void setValueStoreWaitLimit(std::chrono::milliseconds limit);

// How many times the store itself has failed in this process: it could not be opened, stayed
// locked past the busy timeout, or SQLite reported an error. A value or key that is simply not
// there is no failure. The results above fold both into "false" or "absent"; comparing this
// count before and after some operations tells the two apart.
uint64_t valueStoreFailureCount();
