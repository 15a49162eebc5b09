// The robot's poll as the value store keeps it, read with SQLite directly from the file the
// server left: ${XDG_CONFIG_HOME}/chatroom-server/registry.sqlite3. Used while no server runs.
#pragma once

#include <optional>
#include <string>

struct PollRecord {
    // What PRAGMA integrity_check says: "ok" for a sound file.
    std::string integrity;
    // The count of the poll under way, if one is.
    std::optional<int> count;
    // The addresses recorded as having voted in it.
    int voters = 0;
};

PollRecord readPoll(const std::string& configHome);
