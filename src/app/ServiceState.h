// The chat room service's process-wide state: the value store and files the entry point made,
// the robot's switch and word library (with the index its matching runs on, and the report of
// the vote store's failures), the report of newcomers turned away for a name already held, the
// client and data of the latest event, the names members go by, the roster scan position
// shared by every scan, and the status the program ends with.
// Besides this, the service keeps its roster in the list 列表框1 and its delivery markers in
// the hidden edit box 编辑框1.
#pragma once

#include "app/FailureReport.h"
#include "app/KeywordMatcher.h"
#include "app/MemberNames.h"
#include "app/RoomHistory.h"
#include "runtime/ByteBlock.h"
#include "runtime/Files.h"
#include "runtime/Text.h"
#include "runtime/TextArray.h"
#include "store/ValueStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The exit status of a room that could not open its port: the service manager then sees a
// failed start (and may try again), not a room that serves nobody.
constexpr int32_t kExitStatusCannotListen = 1;

struct ServiceState {
    ServiceState(ValueStore& store, const Files& programFiles)
        : valueStore(store)
        , files(programFiles)
    {
    }

    // Where the robot's polls are kept, and where its word library is read from; both made by
    // the program's entry point, which outlives the state.
    ValueStore& valueStore;
    const Files& files;
    // The web entrance's port, nothing when the room has none; the entry sets it from the
    // command line before the console opens.
    std::optional<uint16_t> webPort;
    // The names the web entrance answers to besides the machine's own, from the command line.
    std::vector<std::string> webHosts;
    // Whether the web entrance listens: the start-up handler opens it.
    bool webEntranceOpen = false;
    // What the room carried to everybody lately, replayed to pages that follow the room; the
    // entry sets its bounds from the command line.
    RoomHistory history;
    // Set by the start-up handler when the room cannot run; the entry then ends the program
    // with it instead of running the room.
    int32_t exitStatus = 0;
    int32_t robotEnabled = 0;
    TextArray replyKeys;
    TextArray replyTexts;
    // An index over replyKeys, rebuilt whenever the library grows (see Robot.cpp).
    KeywordMatcher replyIndex;
    FailureReport storeFailures { "the value store failed, votes were not recorded" };
    // Two live connections may come from one address (a browser's and a raw client's, to the
    // two ports); the later one is turned away, and this says how often.
    FailureReport newcomersTurnedAway { "a newcomer was turned away, its address is the name of a member still connected" };
    Text eventClient;
    ByteBlock lastData;
    // Each member's name, by its roster entry, shown beside the entry on the console.
    MemberNames memberNames { showMemberName };
    int32_t rosterSize = 0;
    int32_t rosterIndex = 0;
};

// The state, created by the entry before any handler runs. The service is one per process by
// nature: the console's handlers, called through the handler table without arguments, reach
// it here.
ServiceState& service();

// One roster scan: `visit` runs for each scan position from 1 to rosterSize (which the caller
// has read), in roster order, with the shared rosterIndex set to it. `visit` gets the 0-based
// list index the position addresses. Scans never nest (see rosterIndex).
template <typename Visit>
void scanRoster(Visit visit)
{
    ServiceState& state = service();
    for (state.rosterIndex = 1; state.rosterIndex <= state.rosterSize; ++state.rosterIndex)
        visit(state.rosterIndex - 1);
}
void createServiceState(ValueStore& store, const Files& files);
// The end routine: releases the state. Runs once on a normal end, never on the fatal path.
void releaseServiceState();
