// The options the room itself takes on its command line: where browsers join it, and how much
// it remembers.
//   --web-port PORT          the web entrance listens on PORT instead of 19731
//   --no-web                 no web entrance
//   --history COUNT[,BYTES]  the history keeps at most COUNT messages (and BYTES bytes);
//                            0 switches it off
#pragma once

#include "app/RoomHistory.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr uint16_t kDefaultWebPort = 19731;

struct RoomOptions {
    // The web entrance's port; nothing when it is switched off.
    std::optional<uint16_t> webPort = kDefaultWebPort;
    HistoryBounds history;
};

// True when the arguments start with a room option (so they ask for the room to run).
bool startsWithRoomOption(const std::vector<std::string_view>& arguments);
// The options when every argument is one; otherwise nothing, and `problem` says what is wrong,
// in a few words for the administrator. A later option overrides an earlier one.
std::optional<RoomOptions> parseRoomOptions(const std::vector<std::string_view>& arguments, std::string& problem);
