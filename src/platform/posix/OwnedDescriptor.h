// Owns one POSIX descriptor that is not a socket of the server component (a lock file, a held
// place in the descriptor table) and closes it when destroyed; moves hand it over.
#pragma once

#include <unistd.h>
#include <utility>

class OwnedDescriptor {
public:
    static constexpr int kNone = -1;

    OwnedDescriptor() = default;
    explicit OwnedDescriptor(int descriptor)
        : m_descriptor(descriptor)
    {
    }
    ~OwnedDescriptor() { reset(); }
    OwnedDescriptor(OwnedDescriptor&& other) noexcept
        : m_descriptor(std::exchange(other.m_descriptor, kNone))
    {
    }
    OwnedDescriptor& operator=(OwnedDescriptor&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_descriptor = std::exchange(other.m_descriptor, kNone);
        }
        return *this;
    }
    OwnedDescriptor(const OwnedDescriptor&) = delete;
    OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;

    int get() const { return m_descriptor; }
    bool valid() const { return m_descriptor >= 0; }
    explicit operator bool() const { return valid(); }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(m_descriptor, kNone); }

    void reset(int descriptor = kNone)
    {
        if (valid())
            close(m_descriptor);
        m_descriptor = descriptor;
    }

private:
    int m_descriptor = kNone;
};
