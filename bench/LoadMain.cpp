// chatroom-load: the load generator of the relay benchmark (bench/run.sh). Chooses the
// measurement its options ask for: the relay load (LoadRun.h), the room's events
// (RoomEvents.cpp), the CPU per MiB of text without line ends (FloodCost.cpp) or the resident
// memory per idle client (IdleMemory.cpp).
#include "LoadRun.h"

#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    Options options = parseOptions(argc, argv);
    signal(SIGPIPE, SIG_IGN);
    // Each phase's result line goes out as soon as it is printed: a run that hits the script's
    // time limit keeps the phases it finished.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    raiseFileLimit();
    if (options.idleClients > 0)
        return measureIdleMemory(options);
    if (options.events > 0)
        return measureRoomEvents(options);
    if (options.floodBytes > 0 && options.frozen == 0)
        return measureFlood(options);
    LoadRun run(options);
    return run.run();
}
