// Framing and sending of the client-bound texts (see ClientTexts.h).
#include "app/ClientTexts.h"

#include "app/ServiceState.h"
#include "console/ControlOperations.h"
#include "console/EditBoxModel.h"
#include "console/ListBoxModel.h"
#include "net/TcpServer.h"

namespace {

// A marker is the entry followed by "=1" anywhere in the store; it is written as a line.
constexpr std::string_view kMarkerTail = "=1";
constexpr std::string_view kMarkerLineEnd = "=1\r\n";
constexpr std::string_view kLineEnd = "\r\n";

void markEntry(std::string_view entry)
{
    appendText(编辑框1, concatText(entry, kMarkerLineEnd));
}

} // namespace

bool isMarked(std::string_view entry)
{
    return findInContent(编辑框1, concatText(entry, kMarkerTail)) != -1;
}

void removeMarkers(std::string_view entry)
{
    setContent(编辑框1, replaceText(content(编辑框1), concatText(entry, kMarkerLineEnd), ""));
}

void sendToEntry(std::string_view entry, std::string_view text, MessageKind kind)
{
    serverComponent(服务器1).sendData(entry, text, kind);
}

void sendToEntry(std::string_view entry, const OutgoingMessage& message)
{
    serverComponent(服务器1).sendData(entry, message);
}

// The same steps as sendToEntry, isMarked and markEntry, on the controls found once.
void RosterDelivery::sendAndMark(std::string_view entry, const OutgoingMessage& message)
{
    if (!m_server)
        m_server = &serverComponent(服务器1);
    m_server->sendData(entry, message);
    if (!m_markers)
        m_markers = &editBoxModel(编辑框1);
    if (m_markers->findJoined(entry, kMarkerTail) == -1)
        m_markers->append(concatText(entry, kMarkerLineEnd));
}

Text FramedText::firstForm() const
{
    return concatText(sender, kLineEnd, body);
}

Text FramedText::continuedForm() const
{
    return concatText(kLineEnd, kLineEnd, firstForm());
}

void sendNotice(std::string_view entry, const FramedText& notice, bool marksEntry, MessageKind kind)
{
    if (isMarked(entry)) {
        sendToEntry(entry, notice.continuedForm(), kind);
        return;
    }
    sendToEntry(entry, notice.firstForm(), kind);
    if (marksEntry)
        markEntry(entry);
}

void announceToRoom(std::string_view sender, std::string_view body)
{
    Text text = FramedText { sender, body }.continuedForm();
    OutgoingMessage announced { .bytes = text, .kind = MessageKind::ServerText, .seq = service().history.record(MessageKind::ServerText, text) };
    // The count is the one read when the data-arrival handler started its relay. Sending and
    // marking never change the roster, so its entries are used in place.
    const ListBoxModel& roster = listBoxModel(列表框1);
    RosterDelivery delivery;
    scanRoster([&](int32_t index) { delivery.sendAndMark(roster.textView(index), announced); });
}
