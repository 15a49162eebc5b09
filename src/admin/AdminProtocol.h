// The control protocol between the `chatroom-server admin` command and the running room. A
// connection carries one request line; the room answers with zero or more `client ADDRESS`
// lines and one final status line, then closes. Every line ends in LF and is printable ASCII,
// but for the members' names of `names`, which are UTF-8 without control characters, so an
// administrator can also speak it by hand (socat - UNIX-CONNECT:...).
//
//   request:  list | names | close | kick|shake|quake|reward|mute|prank ADDRESS
//   answer:   client 127.0.0.1:40112        (list only, one per roster entry, in roster order)
//             client 127.0.0.1:40112 小明   (names: the same, each with the name the member
//                                            goes by after one space; none while it has none)
//             ok | malformed | no-such-client | refused | unavailable [message]
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class AdminVerb { List, Names, Close, Kick, Shake, Quake, Reward, Mute, Prank };

struct AdminRequest {
    AdminVerb verb = AdminVerb::List;
    std::string address; // the client, for the six actions; empty otherwise
};

// The longest request line the room reads, its LF not counted: far above any real request
// ("reward 255.255.255.255:65535" is 28 bytes), small enough that a peer cannot make the room
// hold much for it.
inline constexpr size_t kMaxAdminRequestBytes = 256;

// The verb's word on the wire and on the command line.
std::string_view verbWord(AdminVerb verb);
bool verbTakesAddress(AdminVerb verb);

// One request line, without its LF (a CR before it is tolerated). Words are separated by
// spaces or tabs. On failure `problem` says what is wrong, in one line.
std::optional<AdminRequest> parseAdminRequest(std::string_view line, std::string& problem);
// The request as sent: its line with the LF.
std::string formatAdminRequest(const AdminRequest& request);

enum class AdminStatus { Ok, Malformed, NoSuchClient, Refused, Unavailable };

// Lines of an answer, each with its LF. A message is shown to the administrator as one line:
// bytes that would break the line are replaced.
std::string clientLine(std::string_view address);
// The same with the member's name (UTF-8) after it, when it has one; a byte that would break
// the line is replaced.
std::string namedClientLine(std::string_view address, std::string_view utf8Name);
std::string statusLine(AdminStatus status, std::string_view message = {});

// What the endpoint answers instead of running a request.
enum class ControlProblem {
    NotPermitted, // the peer is neither the room's user nor root
    TooLong,      // no line end within kMaxAdminRequestBytes
    Unterminated, // the peer ended its side before the line end
    Dropped,      // too many control connections at once: the oldest idle one goes
    Closing,      // the room ends before the request was read
    Crowded,      // the room's descriptors are spent and the one kept for an administrator is in use
};
std::string answerForProblem(ControlProblem problem);

// An answer as the command reads it.
struct AdminReply {
    AdminStatus status = AdminStatus::Ok;
    std::string message;
    std::vector<std::string> clients;
};
// Nothing when the text is not one whole answer (cut off, or followed by more).
std::optional<AdminReply> parseAdminReply(std::string_view text);

// Exit statuses of the command, one for each way it can end.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;       // the room could not answer (closing, dropped, cut off)
inline constexpr int kExitMalformed = 2;    // a malformed request, also a wrong command line
inline constexpr int kExitNoServer = 3;     // no server of this user is running
inline constexpr int kExitNoSuchClient = 4; // the address is not on the roster
inline constexpr int kExitRefused = 5;      // permission refused
int exitStatusFor(AdminStatus status);
