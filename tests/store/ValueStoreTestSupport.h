// Shared by the value store's tests on every backend: the robot's paths, a scoped environment
// variable, and the fixture that gives each test the target system's store, fresh and empty,
// in a place of its own (a temporary configuration home for the SQLite file, or test keys
// standing in for the registry's root keys on Windows), so that no test touches the user's
// real store.
#pragma once

#include "runtime/Text.h"
#include "store/ValueStore.h"

#if defined(_WIN32)
#include "platform/win32/TempRegistryRoots.h"
#include "platform/win32/Win32ValueStore.h"
using TempValueStore = TempRegistryRoots;
using PlatformValueStore = Win32ValueStore;
#else
#include "platform/posix/PosixValueStore.h"
#include "store/TempConfigHome.h"
using TempValueStore = TempConfigHome;
using PlatformValueStore = PosixValueStore;
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

inline const std::string kRobotKey = "SOFTWARE\\聊天室\\机器人";
inline const std::string kCountPath = kRobotKey + "\\次数";

inline std::string voterPath(const std::string& address) { return kRobotKey + "\\" + address; }

// Sets or clears an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* previous = std::getenv(name))
            m_previous = previous;
        set(name, value);
    }
    ~ScopedEnv() { set(m_name.c_str(), m_previous ? m_previous->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    static void set(const char* name, const char* value)
    {
#if defined(_WIN32)
        // An empty value removes the variable, from the C library's copy and the process's.
        _putenv_s(name, value ? value : "");
#else
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
#endif
    }

    std::string m_name;
    std::optional<std::string> m_previous;
};

// Each value is stored under the current user's root with this type and these data bytes.
struct StoredValue {
    std::string path;
    ValueType type;
    std::string data;
};
inline void expectStored(ValueStore& store, const std::vector<StoredValue>& values)
{
    for (const StoredValue& value : values) {
        std::optional<RegistryValue> stored = store.readValue(kRootCurrentUser, value.path);
        ASSERT_TRUE(stored) << value.path;
        EXPECT_EQ(stored->type, value.type) << value.path;
        EXPECT_EQ(stored->data, value.data) << value.path;
    }
}

// Counts at `path` `times` times, each a group of read, add one, write; how many groups held.
inline int countInGroups(ValueStore& store, std::string_view path, int times)
{
    int counted = 0;
    for (int i = 0; i < times; ++i) {
        counted += store.inTransaction([&] {
            double count = toNumber(store.readText(kRootCurrentUser, path));
            return store.writeValue(kRootCurrentUser, path, std::string_view(toText(count + 1)));
        });
    }
    return counted;
}

class ValueStoreTest : public testing::Test {
protected:
    PlatformValueStore m_store;
    TempValueStore m_place { m_store };
};
