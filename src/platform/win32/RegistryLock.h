// The value store's lock: one named mutex per user, held around every store operation and
// around a whole group of them, so that two servers of one user never interleave inside an
// operation or a group. Windows mutexes are recursive for their owning thread, so a group's
// operations take it again without waiting, and threads of one process exclude each other too.
#pragma once

#include "platform/win32/UniqueHandle.h"

#include <mutex>

// This process's handle of the named mutex, opened by the first lock, and how long a lock
// waits for it. The registry store owns one.
class RegistryMutex {
public:
    // How long the next locks wait for another process to release the store.
    void setWait(unsigned long milliseconds) { m_waitMs = milliseconds; }
    // Closes the handle unless a lock is held; the next lock opens it again.
    void close();

private:
    friend class RegistryLock;

    std::mutex m_guard;
    UniqueHandle m_handle;
    // Locks held through this object; the handle is closed only when there are none.
    int m_holders = 0;
    unsigned long m_waitMs = 0;
};

class RegistryLock {
public:
    // Waits a bounded time; a lock that cannot be had leaves the object empty.
    explicit RegistryLock(RegistryMutex& mutex);
    ~RegistryLock();
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

    explicit operator bool() const { return m_held; }

private:
    RegistryMutex& m_mutex;
    bool m_held { false };
};
