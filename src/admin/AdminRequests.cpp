// Control requests run through the console (see AdminRequests.h).
#include "admin/AdminRequests.h"

#include "admin/AdminProtocol.h"
#include "app/ServiceState.h"
#include "console/ConsoleWindow.h"
#include "console/EventRouting.h"
#include "console/UnitReference.h"
#include "runtime/Cp936.h"

#include <array>
#include <utility>

namespace {

// The pop-up menu item behind each action.
constexpr std::array<std::pair<AdminVerb, UnitReference>, 6> kMenuItems { {
    { AdminVerb::Kick, 踢出 },
    { AdminVerb::Shake, 抖动 },
    { AdminVerb::Quake, 地震 },
    { AdminVerb::Reward, 奖励 },
    { AdminVerb::Mute, 禁言 },
    { AdminVerb::Prank, 恶搞 },
} };

const UnitReference* menuItemFor(AdminVerb verb)
{
    for (const auto& [action, item] : kMenuItems) {
        if (action == verb)
            return &item;
    }
    return nullptr;
}

// The roster of the loaded console, or nothing while there is none (before the window is
// made, after it has been closed).
ListBoxModel* roster()
{
    ConsoleWindow* console = findLoadedWindow(kConsoleWindowId);
    return console ? console->listBox(列表框1.unitId) : nullptr;
}

int32_t findEntry(const ListBoxModel& list, std::string_view address)
{
    for (int32_t index = 0; index < list.count(); ++index) {
        if (list.textView(index) == address)
            return index;
    }
    return kNoEntry;
}

std::string answerList(const ListBoxModel& list)
{
    std::string answer;
    for (int32_t index = 0; index < list.count(); ++index)
        answer += clientLine(list.textView(index));
    return answer + statusLine(AdminStatus::Ok, std::to_string(list.count()) + " on the roster");
}

std::string answerNames(const ListBoxModel& list)
{
    const MemberNames& names = service().memberNames;
    std::string answer;
    int32_t named = 0;
    for (int32_t index = 0; index < list.count(); ++index) {
        std::string_view name = names.nameOf(list.textView(index));
        named += name.empty() ? 0 : 1;
        answer += namedClientLine(list.textView(index), cp936ToUtf8(name));
    }
    return answer + statusLine(AdminStatus::Ok, std::to_string(list.count()) + " on the roster, " + std::to_string(named) + " named");
}

// What the administrator does with the mouse: choose the entry, then the menu item. The
// entry chosen before (on a console with a display) is chosen again afterwards, unless the
// action itself changed the selection (a kick removes the entry, and the list tells its view).
std::string answerAction(const AdminRequest& request, const UnitReference& item)
{
    ListBoxModel* list = roster();
    int32_t index = findEntry(*list, request.address);
    if (index == kNoEntry)
        return statusLine(AdminStatus::NoSuchClient, request.address + " is not on the roster");
    std::string previous = list->selection() == kNoEntry ? std::string() : list->text(list->selection());
    bool hadSelection = list->selection() != kNoEntry;
    list->select(index);
    bool handled = raiseEvent(item.windowId, item.unitId, kMenuItemClick);
    // The handler may have changed the console; look everything up again.
    if (ListBoxModel* after = roster(); after && after->text(after->selection()) == request.address)
        after->select(hadSelection ? findEntry(*after, previous) : kNoEntry);
    if (!handled)
        return statusLine(AdminStatus::Unavailable, "the room takes no events now");
    return statusLine(AdminStatus::Ok, std::string(verbWord(request.verb)) + " " + request.address);
}

} // namespace

std::string answerAdminRequest(std::string_view line)
{
    std::string problem;
    std::optional<AdminRequest> request = parseAdminRequest(line, problem);
    if (!request)
        return statusLine(AdminStatus::Malformed, problem);
    ListBoxModel* list = roster();
    if (!list)
        return statusLine(AdminStatus::Unavailable, "the room is not open");
    switch (request->verb) {
    case AdminVerb::List:
        return answerList(*list);
    case AdminVerb::Names:
        return answerNames(*list);
    case AdminVerb::Close:
        // The window may be gone when this returns; nothing of it is touched afterwards. Inside a
        // running handler (a message box open on the console) the close waits for it.
        findLoadedWindow(kConsoleWindowId)->close();
        return statusLine(AdminStatus::Ok, roster() ? "the room closes once the console is free" : "the room is closed");
    default:
        return answerAction(*request, *menuItemFor(request->verb));
    }
}
