// The owner of one handle of the operating system (a descriptor, a socket, a kernel object),
// written once for every kind. `Traits` names the handle's type, its "none" value, which
// values are handles at all, and the call that closes one. The owner closes its handle when it
// goes, never twice; moves hand the handle over.
#pragma once

#include <utility>

template<class Traits>
class UniqueOwner {
public:
    using Handle = typename Traits::Handle;

    UniqueOwner() = default;
    explicit UniqueOwner(Handle handle)
        : m_handle(adopt(handle))
    {
    }
    ~UniqueOwner() { reset(); }
    UniqueOwner(UniqueOwner&& other) noexcept
        : m_handle(other.release())
    {
    }
    UniqueOwner& operator=(UniqueOwner&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;

    Handle get() const { return m_handle; }
    bool valid() const { return Traits::isHandle(m_handle); }
    explicit operator bool() const { return valid(); }
    // Gives the handle up without closing it.
    Handle release() { return std::exchange(m_handle, Traits::none()); }
    // Closes the handle held, if any, and holds `handle` instead.
    void reset(Handle handle = Traits::none())
    {
        Handle previous = std::exchange(m_handle, adopt(handle));
        if (Traits::isHandle(previous))
            Traits::close(previous);
    }

private:
    // Every value that is no handle (an API may have more than one) is held as "none".
    static Handle adopt(Handle handle) { return Traits::isHandle(handle) ? handle : Traits::none(); }

    Handle m_handle = Traits::none();
};
