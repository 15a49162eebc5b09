// The room: every client's data relayed to the whole roster, the roster kept in 列表框1 with
// each member's name beside its entry, the delivery markers in 编辑框1, and the room told when
// somebody leaves.
#include "app/Handlers.h"

#include "app/ClientTexts.h"
#include "app/Robot.h"
#include "app/ServiceState.h"
#include "console/ControlOperations.h"
#include "console/ListBoxModel.h"
#include "net/TcpServer.h"
#include "runtime/Cp936.h"

void onDataArrival()
{
    ServiceState& state = service();
    TcpServer& server = serverComponent(服务器1);
    // Client and data first, before anything that could run a nested loop.
    state.eventClient = server.getClient();
    state.lastData = server.getData();
    std::string originalText = server.getOriginalText();
    state.rosterSize = itemCount(列表框1);

    // The relay: the bytes unchanged to every entry, the sender included, numbered and
    // remembered by the room. Sending and marking never change the roster, so its entries are
    // used in place.
    uint64_t seq = state.history.record(MessageKind::Relayed, state.lastData.view(), state.eventClient, originalText);
    OutgoingMessage relayed { .bytes = state.lastData.view(), .kind = MessageKind::Relayed, .seq = seq, .sender = state.eventClient, .originalText = originalText };
    const ListBoxModel& roster = listBoxModel(列表框1);
    RosterDelivery delivery;
    scanRoster([&](int32_t index) { delivery.sendAndMark(roster.textView(index), relayed); });
    // Once per chunk, whatever the roster's size: the sender line may name the sender anew.
    state.memberNames.heard(state.eventClient, state.lastData.view());

    // The message line is the last CR LF-separated line of the text before the first NUL.
    // Data that starts with NUL has no line at all, so the robot has nothing to look at.
    std::optional<std::string_view> lastLine = lastSplitPart(state.lastData.view(), "\r\n");
    if (!lastLine)
        return;
    Text line(*lastLine);
    robotAnswer(line);
    closeVote(line);
    openVote(line);
}

void onClientEnter()
{
    Text client = serverComponent(服务器1).getClient();
    addItem(列表框1, client);
}

void onClientLeave()
{
    ServiceState& state = service();
    state.eventClient = serverComponent(服务器1).getClient();
    Text leaver = state.eventClient;
    state.rosterSize = itemCount(列表框1);
    bool noDataYet = textLength(state.lastData.view()) == 0;
    Text body = concatText(leaver, kLeaveSuffix);
    FramedText leave { kAdministrator, body };
    Text notice = noDataYet ? leave.firstForm() : leave.continuedForm();
    OutgoingMessage announced { .bytes = notice, .kind = MessageKind::ServerText, .seq = state.history.record(MessageKind::ServerText, notice) };

    // One scan removes the leaver and tells everybody else, before and after its entry alike;
    // once the entry is gone the later entries sit one place higher. Sending changes nothing on
    // the roster, so entries are read in place: a leave costs its sends, one removal from the
    // list and one rewrite of the marker store.
    const ListBoxModel& roster = listBoxModel(列表框1);
    bool removed = false;
    scanRoster([&](int32_t position) {
        int32_t index = position - (removed ? 1 : 0);
        std::string_view entry = roster.textView(index);
        if (!removed && compareText(entry, leaver) == 0) {
            deleteItem(列表框1, index);
            removeMarkers(leaver);
            state.memberNames.forget(leaver);
            removed = true;
            return;
        }
        sendToEntry(entry, announced);
    });
}

// Only a change of name comes here, so finding the entry costs nothing per message.
void showMemberName(std::string_view entry, std::string_view name)
{
    serverComponent(服务器1).setNickname(entry, cp936ToUtf8(name));
    ListBoxModel& roster = listBoxModel(列表框1);
    for (int32_t index = 0; index < roster.count(); ++index) {
        if (roster.textView(index) == entry) {
            roster.setDecoration(index, name);
            return;
        }
    }
}

void onRosterSelect()
{
    popupMenu(kConsoleWindowId, 管理);
}
