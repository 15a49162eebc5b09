// The per-user value store: a registry of keys and typed values, so that the robot's polls
// outlive a run and two servers of one user share them. This is its interface and the rules
// every backend shares; the store itself is an object of the backend's, which the program's
// entry point makes and hands down: on Windows the user's registry (HKEY_CURRENT_USER,
// platform/win32/Win32ValueStore), elsewhere an SQLite file in the user's configuration
// directory (platform/posix/PosixValueStore). Paths are the store's own format
// (RegistryPath.h): backslash-separated key path, then the value name after the last
// backslash (a path ending in a backslash names the key's default value). Every operation is
// one transaction; failures are folded into the result.
#pragma once

#include "runtime/ByteBlock.h"
#include "store/RegistryPath.h"

#include <atomic>
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

// A value as stored: its type and its data bytes (a string's data includes its NUL).
struct RegistryValue {
    ValueType type;
    std::string data;
};

class ValueStore {
public:
    virtual ~ValueStore() = default;
    ValueStore(const ValueStore&) = delete;
    ValueStore& operator=(const ValueStore&) = delete;

    bool valueExists(int32_t root, std::string_view path) { return readValue(root, path).has_value(); }
    // String and expandable string values (the latter with %NAME% expanded from the
    // environment); otherwise the default, or the empty text when there is none.
    std::string readText(int32_t root, std::string_view path, std::optional<std::string_view> defaultText = std::nullopt);
    bool writeValue(int32_t root, std::string_view path, std::string_view text);
    bool writeValue(int32_t root, std::string_view path, const char* text);
    bool writeValue(int32_t root, std::string_view path, int32_t number);
    bool writeValue(int32_t root, std::string_view path, const ByteBlock& block);
    // Writes an expandable string value; the service itself writes only plain strings.
    bool writeExpandableText(int32_t root, std::string_view path, std::string_view text);

    // The value at `path`; absent when it does not exist or the store cannot be read.
    virtual std::optional<RegistryValue> readValue(int32_t root, std::string_view path) = 0;
    // True when the key exists; `keyPath` is a whole key path (no value name), "" the root key.
    virtual bool keyExists(int32_t root, std::string_view keyPath) = 0;
    // Deletes the value; when there is none, the key the whole path names (not when it has
    // subkeys).
    virtual bool deleteItem(int32_t root, std::string_view path) = 0;
    // Runs `operations` (calls of the operations above) as one transaction: another process
    // sees all of their writes or none, and writes nothing in between. Nothing of it is kept
    // when `operations` returns false or the commit fails; when the transaction cannot begin
    // (the store cannot be opened, or another process holds it past the wait limit), they do
    // not run.
    virtual bool inTransaction(const std::function<bool()>& operations) = 0;
    // Lets go of what the store holds open, if anything; the next operation opens it again.
    // For tests that remove the store's place (the object's end does the same).
    virtual void close() = 0;
    // How long an operation waits for another process's write to end before it fails: five
    // seconds unless set. A program that calls the store from a thread that must not stall
    // sets a short limit; it holds from the next operation on.
    virtual void setWaitLimit(std::chrono::milliseconds limit) = 0;

    // How many times the store itself has failed: it could not be opened, stayed locked past
    // the wait limit, or reported an error. A value or key that is simply not there is no
    // failure. The results above fold both into "false" or "absent"; comparing this count
    // before and after some operations tells the two apart.
    uint64_t failureCount() const { return m_failures.load(); }

protected:
    ValueStore() = default;
    // The five seconds of setWaitLimit: far longer than any operation of a server takes,
    // short enough that a hung server does not stall another for good.
    static constexpr std::chrono::milliseconds kDefaultWaitLimit { 5000 };

    // Writes `data` as a value of `type`: a string's bytes with their NUL, an integer's four
    // bytes least significant first, a binary value's bytes as they are.
    virtual bool storeValue(int32_t root, std::string_view path, ValueType type, std::string_view data) = 0;
    // An expandable string's text with its %NAME% references expanded (expandEnvironment
    // unless the backend's system has an expansion of its own).
    virtual std::string expandReferences(std::string_view text) const { return expandEnvironment(text); }
    // Counts one failure of the store itself (failureCount).
    void noteFailure() { ++m_failures; }

private:
    std::atomic<uint64_t> m_failures { 0 };
};
