// The event block counter: while it is above zero no event reaches a handler of the service.
// Creating a window raises it for a while; the fatal path and the program's end raise it for good.
#pragma once

#include <cstdint>

int32_t eventBlockCount();
void raiseEventBlock();
void lowerEventBlock();
