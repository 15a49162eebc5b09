// The chat room service's entry, called once by the program frame.
#pragma once

#include "app/RoomOptions.h"
#include "runtime/Files.h"
#include "store/ValueStore.h"

// Starts the runtime, creates the service state (with the options of the command line and the
// value store and files the program's entry point made), registers the end routine, loads the
// console window and runs the message loop; returns 0 when the console has been closed, or
// without running the loop the failure status the start-up handler set (a port that cannot be
// opened).
int applicationEntry(const RoomOptions& options, ValueStore& store, const Files& files);
// The handler table in the order of the console's handler references.
void registerServiceHandlers();
