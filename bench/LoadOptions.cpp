// The load generator's command line (see LoadOptions.h).
#include "LoadOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
        "chatroom-load: %s\n"
        "usage: chatroom-load [--host 127.0.0.1] [--port P] [--clients N] [--senders S] [--messages M]\n"
        "                     [--bytes B] [--timeout SEC] [--echo-to-sender yes|no] [--window W]\n"
        "                     [--fanout-messages F] [--rate R] [--frozen K] [--flooders K] [--flood-bytes X]\n"
        "                     [--events K] [--pause-ms MS] [--control-socket PATH]\n"
        "                     [--listen-backlog B] [--server-pid PID] [--idle-clients K] [--label NAME]\n"
        "  --fanout-messages F  first, client 0 sends F messages one at a time (fan-out latency)\n"
        "  --rate R             each sender sends R messages per second (latency under a steady load)\n"
        "  --frozen K           K more clients connect first and never read (small receive buffers)\n"
        "  --flood-bytes X      each frozen client sends X bytes of text without line ends; with no\n"
        "                       frozen clients, the senders send that instead of messages (CPU per MiB)\n"
        "  --flooders F         only the first F frozen clients send --flood-bytes (default: all)\n"
        "  --events K           room events instead of a load: K chat lines, K lines after a pause of\n"
        "                       --pause-ms, K leaves and, with --control-socket, K kicks\n"
        "  --listen-backlog B   at most B connections wait for the relay's accept (default 8, for ncat)\n",
        why);
    std::exit(2);
}

Options parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view name = argv[i];
        if (i + 1 >= argc)
            usage("every option takes a value");
        const char* value = argv[++i];
        if (name == "--host")
            options.host = value;
        else if (name == "--port")
            options.port = std::atoi(value);
        else if (name == "--clients")
            options.clients = std::atoi(value);
        else if (name == "--senders")
            options.senders = std::atoi(value);
        else if (name == "--messages")
            options.messages = std::atoi(value);
        else if (name == "--bytes")
            options.bytes = std::atoi(value);
        else if (name == "--timeout")
            options.timeoutSeconds = std::atof(value);
        else if (name == "--echo-to-sender")
            options.echo = std::string_view(value) == "yes";
        else if (name == "--window")
            options.window = std::atoi(value);
        else if (name == "--fanout-messages")
            options.fanoutMessages = std::atoi(value);
        else if (name == "--rate")
            options.rate = std::atof(value);
        else if (name == "--frozen")
            options.frozen = std::atoi(value);
        else if (name == "--flooders")
            options.flooders = std::atoi(value);
        else if (name == "--flood-bytes")
            options.floodBytes = std::strtoull(value, nullptr, 10);
        else if (name == "--events")
            options.events = std::atoi(value);
        else if (name == "--pause-ms")
            options.pauseMs = std::atoi(value);
        else if (name == "--control-socket")
            options.controlSocket = value;
        else if (name == "--listen-backlog")
            options.listenBacklog = std::atoi(value);
        else if (name == "--server-pid")
            options.serverPid = static_cast<pid_t>(std::atoi(value));
        else if (name == "--idle-clients")
            options.idleClients = std::atoi(value);
        else if (name == "--label")
            options.label = value;
        else
            usage("unknown option");
    }
    if (options.senders < 0)
        options.senders = std::min(options.clients, 10);
    if (options.port <= 0 || options.port > 65535)
        usage("--port must be 1..65535");
    if (options.idleClients > 0) {
        if (options.serverPid <= 0)
            usage("--idle-clients needs --server-pid");
        return options;
    }
    if (options.clients < 1 || options.senders < 1 || options.senders > options.clients)
        usage("need 1 <= senders <= clients");
    if (!options.echo && options.clients < 2)
        usage("without echo there must be at least two clients");
    if (options.messages < 1 || options.bytes < 24 || options.window < 1)
        usage("need messages >= 1, bytes >= 24, window >= 1");
    if (options.listenBacklog < 1)
        usage("--listen-backlog must be positive");
    if (options.timeoutSeconds <= 0 || options.rate < 0 || options.frozen < 0 || options.fanoutMessages < 0
        || options.events < 0 || options.pauseMs < 0)
        usage("--timeout must be positive; --rate, --frozen, --fanout-messages, --events and --pause-ms not negative");
    // A leave and a kick per event, a speaker and a watcher who stay.
    if (options.events > 0 && options.clients < 2 * options.events + 2)
        usage("--events K needs at least 2K + 2 clients");
    return options;
}
