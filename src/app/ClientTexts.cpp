// Framing and sending of the client-bound texts (see ClientTexts.h).
#include "app/ClientTexts.h"

#include "app/ServiceState.h"
#include "console/ControlOperations.h"
#include "net/TcpServer.h"

namespace {

constexpr std::string_view kMarkerLineEnd = "=1\r\n";
// The marker is looked up without its line end: "=1" after the entry, anywhere in the store.
constexpr size_t kMarkerLineEndBytes = 2;
constexpr int32_t kWaitLimitSeconds = 1;

void markEntry(std::string_view entry)
{
    appendText(编辑框1, concatText(entry, kMarkerLineEnd));
}

} // namespace

bool isMarked(std::string_view entry)
{
    Text markerLine = concatText(entry, kMarkerLineEnd);
    return findInContent(编辑框1, std::string_view(markerLine).substr(0, markerLine.size() - kMarkerLineEndBytes)) != -1;
}

void sendToEntry(std::string_view entry, std::string_view text)
{
    serverComponent(服务器1).sendData(entry, text, kWaitLimitSeconds);
}

void sendAndMark(std::string_view entry, std::string_view bytes)
{
    sendToEntry(entry, bytes);
    if (!isMarked(entry))
        markEntry(entry);
}

Text continuedForm(std::string_view sender, std::string_view body)
{
    return concatText("\r\n\r\n", sender, "\r\n", body);
}

void sendNotice(std::string_view entry, const FramedText& notice, bool marksEntry)
{
    if (isMarked(entry)) {
        sendToEntry(entry, notice.continuedForm);
        return;
    }
    sendToEntry(entry, notice.firstForm);
    if (marksEntry)
        markEntry(entry);
}

void announceToRoom(std::string_view sender, std::string_view body)
{
    ServiceState& state = service();
    Text text = continuedForm(sender, body);
    // The count is the one read when the data-arrival handler started its relay.
    for (state.rosterIndex = 1; state.rosterIndex <= state.rosterSize; ++state.rosterIndex)
        sendAndMark(itemText(列表框1, state.rosterIndex - 1), text);
}
