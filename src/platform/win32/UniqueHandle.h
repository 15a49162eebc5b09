// The owner of one kernel object handle: closed when the owner goes, never twice.
#pragma once

#include <windows.h>

#include <utility>

class UniqueHandle {
public:
    UniqueHandle() = default;
    // Both "no handle" values of the API (null and INVALID_HANDLE_VALUE) count as empty.
    explicit UniqueHandle(HANDLE handle)
        : m_handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle)
    {
    }
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept
        : m_handle(std::exchange(other.m_handle, nullptr))
    {
    }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void reset()
    {
        if (m_handle)
            CloseHandle(m_handle);
        m_handle = nullptr;
    }

private:
    HANDLE m_handle { nullptr };
};
