// Messages shared by the queues that hold them (see SharedMessages.h).
#include "net/SharedMessages.h"

#include <cstring>

SharedMessages::SharedMessages()
    : m_held(std::make_shared<size_t>(0))
{
}

namespace {

bool holds(const SharedMessages::Message& message, std::string_view bytes)
{
    return message && message->size() == bytes.size() && std::memcmp(message->data(), bytes.data(), bytes.size()) == 0;
}

} // namespace

bool SharedMessages::isLast(std::string_view bytes) const
{
    return holds(m_last.lock(), bytes);
}

SharedMessages::Message SharedMessages::share(std::string_view bytes)
{
    if (Message last = m_last.lock(); holds(last, bytes))
        return last;
    *m_held += bytes.size();
    std::shared_ptr<size_t> held = m_held;
    Message message(new std::string(bytes), [held](const std::string* made) {
        *held -= made->size();
        delete made;
    });
    m_last = message;
    return message;
}
