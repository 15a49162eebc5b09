// The event block counter (see EventBlock.h). Only the window thread touches it.
#include "runtime/EventBlock.h"

namespace {
int32_t s_eventBlock = 0;
}

int32_t eventBlockCount() { return s_eventBlock; }
void raiseEventBlock() { ++s_eventBlock; }
void lowerEventBlock()
{
    if (s_eventBlock > 0)
        --s_eventBlock;
}
