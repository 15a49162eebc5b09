// A fresh configuration directory for one test: XDG_CONFIG_HOME points at a new temporary
// directory while the object lives, so no test ever reads or writes the user's real value
// store. On destruction the given store's connection is closed, the variable restored and the
// directory removed.
#pragma once

#include "store/ValueStore.h"
#include "support/TempDirectory.h"

#include <cstdlib>
#include <optional>
#include <string>

class TempConfigHome {
public:
    explicit TempConfigHome(ValueStore& store)
        : m_store(store)
    {
        if (const char* previous = std::getenv("XDG_CONFIG_HOME"))
            m_previous = previous;
        setenv("XDG_CONFIG_HOME", path().c_str(), 1);
    }
    // The directory itself goes after this, with the member.
    ~TempConfigHome()
    {
        m_store.close();
        if (m_previous)
            setenv("XDG_CONFIG_HOME", m_previous->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    const std::string& path() const { return m_directory.path(); }
    std::string storeFile() const { return path() + "/chatroom-server/registry.sqlite3"; }

private:
    ValueStore& m_store;
    test_support::TempDirectory m_directory { "chatroom-config" };
    std::optional<std::string> m_previous;
};
