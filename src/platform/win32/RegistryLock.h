// The value store's lock: one named mutex per user, held around every store operation and
// around a whole group of them, so that two servers of one user never interleave inside an
// operation or a group. Windows mutexes are recursive for their owning thread, so a group's
// operations take it again without waiting, and threads of one process exclude each other too.
#pragma once

class RegistryLock {
public:
    // Waits a bounded time; a lock that cannot be had leaves the object empty.
    RegistryLock();
    ~RegistryLock();
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

    explicit operator bool() const { return m_held; }

private:
    bool m_held { false };
};

// How long the next locks wait for another process to release the store; five seconds unless set.
void setRegistryLockWait(unsigned long milliseconds);

// Closes this process's handle of the mutex unless a lock is held; the next lock opens it
// again.
void closeRegistryLock();
