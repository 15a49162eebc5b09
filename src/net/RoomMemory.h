// What the room remembers of the messages it carried to everybody, as the server component
// replays it to a member that follows the room (ConnectionTransport::followsRoom) when it
// joins or takes up its session again. The application keeps the memory (RoomHistory); the
// component only reads it.
#pragma once

#include "net/ConnectionTransport.h"

#include <cstdint>
#include <functional>
#include <optional>

class RoomMemory {
public:
    virtual ~RoomMemory() = default;
    // Calls `send` for every remembered message in order: all of them without `after`, else
    // those numbered above it.
    virtual void replay(std::optional<uint64_t> after, const std::function<void(const OutgoingMessage&)>& send) const = 0;
    // How many of the messages numbered above `after` (up to the latest) are no longer
    // remembered.
    virtual uint64_t forgottenAfter(uint64_t after) const = 0;
};
