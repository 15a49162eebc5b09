// The service's handler table as the console resolves bindings against it.
#include "console/HandlerTable.h"

#include <vector>

namespace {
// The service's one handler table. Events are raised by unit reference from free operations
// and the service's handlers take no arguments, so the table is reached from the routing by
// reference number alone, one per process like the window table.
std::vector<Handler>& table()
{
    static std::vector<Handler> handlers;
    return handlers;
}
}

void registerHandlerTable(std::span<const Handler> handlers)
{
    table().assign(handlers.begin(), handlers.end());
}

Handler resolveHandler(int32_t reference)
{
    if (reference < 0 || static_cast<size_t>(reference) >= table().size())
        return nullptr;
    return table()[static_cast<size_t>(reference)];
}
