// reference-relay: the smallest relay we can write, as the ceiling for the benchmark.
// One epoll loop; per readable client one read, then one send of those bytes to every other
// client (and to the sender too with --echo). No buffering, no retry, no bookkeeping: a send
// that would block just loses its bytes, which the load generator's flow control never provokes.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    int port = 19732;
    bool echo = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc)
            port = std::atoi(argv[++i]);
        else if (arg == "--echo")
            echo = true;
        else {
            std::fprintf(stderr, "usage: reference-relay [--port P] [--echo]\n");
            return 2;
        }
    }
    signal(SIGPIPE, SIG_IGN);
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }

    int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, SOMAXCONN) != 0) {
        std::perror("reference-relay: listen");
        return 1;
    }

    int epoll = epoll_create1(0);
    epoll_event event { .events = EPOLLIN, .data = { .fd = listener } };
    epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event);

    std::vector<int> clients;
    std::vector<epoll_event> ready(256);
    static char buffer[64 * 1024];
    for (;;) {
        int count = epoll_wait(epoll, ready.data(), static_cast<int>(ready.size()), -1);
        for (int i = 0; i < count; ++i) {
            int fd = ready[i].data.fd;
            if (fd == listener) {
                int client;
                while ((client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
                    epoll_event in { .events = EPOLLIN, .data = { .fd = client } };
                    epoll_ctl(epoll, EPOLL_CTL_ADD, client, &in);
                    clients.push_back(client);
                }
                continue;
            }
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                clients.erase(std::find(clients.begin(), clients.end(), fd));
                close(fd);
                continue;
            }
            if (n < 0)
                continue;
            for (int other : clients) {
                if (other != fd || echo)
                    send(other, buffer, static_cast<size_t>(n), MSG_NOSIGNAL);
            }
        }
    }
}
