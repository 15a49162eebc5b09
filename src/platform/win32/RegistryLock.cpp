// The value store's named mutex (see RegistryLock.h).
//
// The name carries the user's SID: the registry store is the user's (HKEY_CURRENT_USER), and
// so is the lock, also across the sessions of one user (hence the Global namespace, where
// any user may create a mutex). When the global name cannot be had, the session's own
// namespace still protects two servers of one desktop.
#include "platform/win32/RegistryLock.h"

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kMutexBaseName = L"chatroom-server-value-store-";

// The current user's SID as text, or "" when it cannot be read.
std::wstring userSidText()
{
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken))
        return {};
    UniqueHandle token(rawToken);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0)
        return {};
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return {};
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return {};
    std::wstring sid(text);
    LocalFree(text);
    return sid;
}

HANDLE createStoreMutex()
{
    std::wstring name = kMutexBaseName + userSidText();
    for (const wchar_t* space : { L"Global\\", L"Local\\" }) {
        if (HANDLE mutex = CreateMutexW(nullptr, FALSE, (space + name).c_str()))
            return mutex;
    }
    return nullptr;
}

} // namespace

RegistryLock::RegistryLock(RegistryMutex& owner)
    : m_mutex(owner)
{
    HANDLE mutex = nullptr;
    {
        std::lock_guard guard(m_mutex.m_guard);
        if (!m_mutex.m_handle)
            m_mutex.m_handle = UniqueHandle(createStoreMutex());
        mutex = m_mutex.m_handle.get();
        if (!mutex)
            return;
        ++m_mutex.m_holders;
    }
    // WAIT_ABANDONED: a server died holding the lock. The lock is ours now; what that server
    // had written of an unfinished group stays (its undo record died with it).
    DWORD result = WaitForSingleObject(mutex, static_cast<DWORD>(m_mutex.m_waitMs));
    m_held = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    if (!m_held) {
        std::lock_guard guard(m_mutex.m_guard);
        --m_mutex.m_holders;
    }
}

RegistryLock::~RegistryLock()
{
    if (!m_held)
        return;
    std::lock_guard guard(m_mutex.m_guard);
    ReleaseMutex(m_mutex.m_handle.get());
    --m_mutex.m_holders;
}

void RegistryMutex::close()
{
    std::lock_guard guard(m_guard);
    if (m_holders == 0)
        m_handle.reset();
}
