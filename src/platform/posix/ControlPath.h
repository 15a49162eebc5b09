// Where a user's room keeps its control socket: $XDG_RUNTIME_DIR/chatroom-server/, or, when
// the session has no runtime directory, /tmp/chatroom-server-UID/. The directory is private
// to the user (0700); both the room and the admin command find it the same way.
#pragma once

#include <string>

struct ControlPaths {
    std::string directory;
    std::string socket; // the listening socket
    std::string lock;   // held by the room that owns the socket, for as long as it runs
};

ControlPaths controlPaths();

// How controlPaths() chooses, in words for the help text.
std::string describeControlSocket();

// Whether the directory can be trusted to hold this user's room and nobody else's: a real
// directory (a symbolic link is not followed), owned by this user, closed to everybody else
// (mode 0700). Otherwise false, with `reason` for the administrator. A missing directory is
// told apart by `missing`.
bool controlDirectoryIsPrivate(const std::string& directory, std::string& reason, bool& missing);

// Creates the directory (0700) when it is missing and checks that it is safe to listen in
// (controlDirectoryIsPrivate).
bool prepareControlDirectory(const std::string& directory, std::string& reason);
