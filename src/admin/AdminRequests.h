// The room's side of the control protocol (AdminProtocol.h): one request line in, the whole
// answer out. `list` reads the roster; `names` the roster with the name each member goes by
// (MemberNames.h), converted from code page 936 to UTF-8; the six actions select the client's entry in the roster
// and raise the pop-up menu item's click event, so the menu's own handler runs, exactly as when
// the administrator picks that item; `close` closes the console as its close button does.
// Runs on the window thread, like every handler.
#pragma once

#include <string>
#include <string_view>

std::string answerAdminRequest(std::string_view line);
