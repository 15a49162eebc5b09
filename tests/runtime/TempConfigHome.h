// A fresh configuration directory for one test: XDG_CONFIG_HOME points at a new temporary
// directory while the object lives, so no test ever reads or writes the user's real value
// store. On destruction the store's connection is closed, the variable restored and the
// directory removed.
#pragma once

#include "runtime/ValueStore.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

class TempConfigHome {
public:
    TempConfigHome()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/chatroom-config-XXXXXX";
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed for " + pattern);
        m_path = pattern;
        if (const char* previous = std::getenv("XDG_CONFIG_HOME"))
            m_previous = previous;
        setenv("XDG_CONFIG_HOME", m_path.c_str(), 1);
    }
    ~TempConfigHome()
    {
        closeValueStore();
        if (m_previous)
            setenv("XDG_CONFIG_HOME", m_previous->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    const std::string& path() const { return m_path; }
    std::string storeFile() const { return m_path + "/chatroom-server/registry.sqlite3"; }

private:
    std::string m_path;
    std::optional<std::string> m_previous;
};
