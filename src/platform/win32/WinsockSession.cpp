// The process's one Winsock session (see WinsockSession.h).
#include "platform/win32/WinsockSession.h"

#include <winsock2.h>

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

class WinsockSession {
public:
    WinsockSession()
    {
        WSADATA data {};
        m_started = WSAStartup(kWinsockVersion, &data) == 0;
    }
    ~WinsockSession()
    {
        if (m_started)
            WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

private:
    bool m_started = false;
};

} // namespace

void ensureWinsock()
{
    // One per process by nature: Winsock's start and cleanup are the process's.
    static WinsockSession session;
}
