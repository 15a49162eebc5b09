// chatroom-load: the load generator of the relay benchmark (bench/run.sh). Chooses the
// measurement its options ask for: the relay load (LoadRun.h), the room's events
// (RoomEvents.cpp), the CPU per MiB of text without line ends (FloodCost.cpp) or the resident
// memory per idle client (IdleMemory.cpp).
#include "LoadRun.h"

#include <csignal>

int main(int argc, char** argv)
{
    Options options = parseOptions(argc, argv);
    signal(SIGPIPE, SIG_IGN);
    raiseFileLimit();
    if (options.idleClients > 0)
        return measureIdleMemory(options);
    if (options.events > 0)
        return measureRoomEvents(options);
    if (options.floodBytes > 0 && options.frozen == 0 && options.flooders == 0)
        return measureFlood(options);
    LoadRun run(options);
    return run.run();
}
