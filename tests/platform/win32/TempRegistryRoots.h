// A fresh registry for one test: for this process, each root key that the store uses (classes
// root, current config, current user, local machine, users) is redirected with
// RegOverridePredefKey to an empty key of its own below one test key of the real current
// user, and put back when the object goes (the given store closed first), with the test key. The store's real registry calls
// run, and the user's keys are never touched.
#pragma once

#include "store/ValueStore.h"

#include <windows.h>

#include <array>
#include <stdexcept>
#include <string>

class TempRegistryRoots {
public:
    // In the order of the root codes 1 to 5.
    static inline const std::array<HKEY, 5> kRoots { HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS };

    explicit TempRegistryRoots(ValueStore& store)
        : m_store(store)
    {
        static int s_serial = 0;
        // A key of its own right below Software: a parent shared by tests running at once
        // would be deleted by one while another creates its keys below it.
        m_path = L"Software\\chatroom-server-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++s_serial);
        // Every stand-in key is made before the current user's root is redirected.
        for (size_t i = 0; i < kRoots.size(); ++i) {
            if (RegCreateKeyExW(HKEY_CURRENT_USER, standInPath(i + 1).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_standIns[i], nullptr) != ERROR_SUCCESS)
                throw std::runtime_error("cannot create the test's registry keys");
        }
        for (size_t i = 0; i < kRoots.size(); ++i) {
            if (RegOverridePredefKey(kRoots[i], m_standIns[i]) != ERROR_SUCCESS)
                throw std::runtime_error("cannot redirect a root key");
        }
    }
    ~TempRegistryRoots()
    {
        m_store.close();
        for (size_t i = 0; i < kRoots.size(); ++i) {
            RegOverridePredefKey(kRoots[i], nullptr);
            if (m_standIns[i])
                RegCloseKey(m_standIns[i]);
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    }
    TempRegistryRoots(const TempRegistryRoots&) = delete;
    TempRegistryRoots& operator=(const TempRegistryRoots&) = delete;

    // The key that stands in for root `code`, as a path below the real current user's key,
    // for instance for a child process to redirect to.
    std::wstring standInPath(int code) const { return m_path + L"\\" + std::to_wstring(code); }

private:
    ValueStore& m_store;
    std::wstring m_path;
    std::array<HKEY, 5> m_standIns {};
};
