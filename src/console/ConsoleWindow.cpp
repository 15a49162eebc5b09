// The console window on Qt Widgets (see ConsoleWindow.h).
#include "console/ConsoleWindow.h"

#include "console/DisplayText.h"
#include "console/EventRouting.h"
#include "console/RosterListBox.h"
#include "net/TcpServer.h"
#include "runtime/EventBlock.h"
#include "runtime/ProgramFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QTextEdit>
#include <QTimer>

// The window icon is compiled into this static library; its resources need registering once.
static void initConsoleIcons() { Q_INIT_RESOURCE(icons); }

namespace {

std::map<uint32_t, ConsoleWindow*>& loadedWindows()
{
    static std::map<uint32_t, ConsoleWindow*> windows;
    return windows;
}

// Menu items carry command numbers from 20000 upwards over the window's menu items.
constexpr int kFirstMenuCommand = 20000;
// How often a close that had to wait for a running handler is tried again.
constexpr int kCloseRetryMs = 50;

QColor colourOf(uint32_t rgb, const QPalette& palette)
{
    if (rgb == kButtonFace)
        return palette.color(QPalette::Button);
    return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF), static_cast<int>((rgb >> 16) & 0xFF));
}

} // namespace

ConsoleWindow* findLoadedWindow(uint32_t windowId)
{
    auto found = loadedWindows().find(windowId);
    return found == loadedWindows().end() ? nullptr : found->second;
}

bool ConsoleWindow::load(uint32_t windowId)
{
    const WindowDescription* description = findWindowDescription(windowId);
    if (!description || findLoadedWindow(windowId))
        return false;
    // No event reaches the service while the window and its units are being made.
    raiseEventBlock();
    auto* window = new ConsoleWindow(*description);
    loadedWindows()[windowId] = window;
    noteWindowLoaded();
    window->show();
    window->placeOnScreen();
    lowerEventBlock();
    raiseEvent(windowId, kConsoleWindowUnitId, kWindowCreated);
    raiseEvent(windowId, kConsoleWindowUnitId, kWindowCreatedFollowUp1);
    raiseEvent(windowId, kConsoleWindowUnitId, kWindowCreatedFollowUp2);
    return true;
}

ConsoleWindow::ConsoleWindow(const WindowDescription& description)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_description(description)
{
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowSystemMenuHint, description.systemMenu);
    flags.setFlag(Qt::WindowCloseButtonHint, description.systemMenu);
    flags.setFlag(Qt::WindowMinimizeButtonHint, description.minimiseButton);
    flags.setFlag(Qt::WindowMaximizeButtonHint, description.maximiseButton);
    setWindowFlags(flags);
    setWindowTitle(displayText(description.caption));
    initConsoleIcons();
    setWindowIcon(QIcon(QStringLiteral(":/icons/chatroom-server.png")));
    setFixedSize(description.outerWidth, description.outerHeight);
    QPalette background = palette();
    background.setColor(QPalette::Window, background.color(QPalette::Button));
    setPalette(background);
    setAutoFillBackground(true);
    if (description.escCloses) {
        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
        connect(escape, &QShortcut::activated, this, &QWidget::close);
    }
    createUnits();
}

ConsoleWindow::~ConsoleWindow()
{
    // Normally destroyWindow() has already closed the connections; this covers a window that
    // is deleted without being closed.
    m_servers.clear();
    if (findLoadedWindow(windowId()) == this) {
        loadedWindows().erase(windowId());
        noteWindowDestroyed();
    }
}

void ConsoleWindow::createUnits()
{
    for (const UnitDescription& unit : m_description.units) {
        switch (unit.typeCode) {
        case kTypeEditBox: createEditBox(unit); break;
        case kTypeListBox: createListBox(unit); break;
        case kTypeServer: createServer(unit); break;
        default: break; // the window itself, and menu items, which exist only in the tables
        }
    }
}

void ConsoleWindow::createEditBox(const UnitDescription& unit)
{
    EditBoxUnit& box = m_editBoxes[unit.unitId];
    if (!(unit.flags & kUnitShown))
        return; // a hidden box is only its text: it is never shown, so it needs no widget
    auto* edit = new QTextEdit(this);
    edit->setGeometry(unit.geometry.left, unit.geometry.top, unit.geometry.width, unit.geometry.height);
    const EditBoxProperties& properties = unit.editBox;
    edit->setFrameShape(properties.border == 0 ? QFrame::NoFrame : QFrame::StyledPanel);
    edit->setReadOnly(properties.inputMode == 1);
    edit->setAcceptRichText(false);
    edit->setLineWrapMode(properties.multiLine ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    edit->setVerticalScrollBarPolicy((properties.scrollBars & 2) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    edit->setHorizontalScrollBarPolicy((properties.scrollBars & 1) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    QPalette colours = edit->palette();
    colours.setColor(QPalette::Base, colourOf(properties.background, palette()));
    colours.setColor(QPalette::Text, colourOf(properties.textColour, palette()));
    edit->setPalette(colours);
    if (!(unit.flags & kUnitTabStop))
        edit->setFocusPolicy(Qt::NoFocus);
    // The banner box is 25 pixels high and holds two lines (host name, address): without the
    // document margin and with a compact font both lines stay readable.
    edit->document()->setDocumentMargin(0);
    if (properties.multiLine && unit.geometry.height < 2 * edit->fontMetrics().lineSpacing()) {
        QFont compact = edit->font();
        compact.setPixelSize(std::max(8, unit.geometry.height / 2 - 1));
        edit->setFont(compact);
    }
    // The document's own option keeps the alignment across every change of content.
    QTextOption option = edit->document()->defaultTextOption();
    option.setAlignment(properties.alignment == 1 ? Qt::AlignHCenter : (properties.alignment == 2 ? Qt::AlignRight : Qt::AlignLeft));
    edit->document()->setDefaultTextOption(option);
    box.widget = edit;
    refreshEditBoxWidget(box);
}

void ConsoleWindow::createListBox(const UnitDescription& unit)
{
    auto* list = new RosterListBox(this);
    list->setGeometry(unit.geometry.left, unit.geometry.top, unit.geometry.width, unit.geometry.height);
    list->setVisible(unit.flags & kUnitShown);
    uint32_t unitId = unit.unitId;
    connect(list, &RosterListBox::userSelectionChanged, this, [this, unitId] { raiseEvent(windowId(), unitId, kListSelectionChanged); });
    connect(list, &QListWidget::doubleClicked, this, [this, unitId] { raiseEvent(windowId(), unitId, kListDoubleClick); });
    m_listBoxes[unit.unitId] = list;
}

void ConsoleWindow::createServer(const UnitDescription& unit)
{
    uint32_t window = windowId();
    uint32_t unitId = unit.unitId;
    auto raise = [window, unitId](TcpServer::Event event) { raiseEvent(window, unitId, event); };
    m_servers[unit.unitId] = std::make_unique<TcpServer>(m_watchers, raise);
}

void ConsoleWindow::placeOnScreen()
{
    // The stored size is the outer size: take the frame the window system added off the
    // client area, then centre the whole window on the screen.
    QRect frame = frameGeometry();
    int extraWidth = frame.width() - width();
    int extraHeight = frame.height() - height();
    if (extraWidth > 0 || extraHeight > 0)
        setFixedSize(m_description.outerWidth - extraWidth, m_description.outerHeight - extraHeight);
    if (!m_description.centred || !screen())
        return;
    QRect area = screen()->geometry();
    move(area.left() + (area.width() - m_description.outerWidth) / 2, area.top() + (area.height() - m_description.outerHeight) / 2);
}

const UnitDescription* ConsoleWindow::findUnit(uint32_t unitId) const
{
    for (const UnitDescription& unit : m_description.units) {
        if (unit.unitId == unitId)
            return &unit;
    }
    return nullptr;
}

EditBoxModel* ConsoleWindow::editBox(uint32_t unitId)
{
    auto found = m_editBoxes.find(unitId);
    return found == m_editBoxes.end() ? nullptr : &found->second.model;
}

void ConsoleWindow::setEditBoxContent(uint32_t unitId, std::string_view text)
{
    EditBoxUnit& box = m_editBoxes.at(unitId);
    box.model.setContent(text);
    refreshEditBoxWidget(box);
}

void ConsoleWindow::appendEditBoxText(uint32_t unitId, std::string_view text)
{
    EditBoxUnit& box = m_editBoxes.at(unitId);
    box.model.append(text);
    refreshEditBoxWidget(box);
}

void ConsoleWindow::refreshEditBoxWidget(EditBoxUnit& box)
{
    if (box.widget)
        box.widget->setPlainText(displayText(box.model.content()));
}

RosterListBox* ConsoleWindow::listBox(uint32_t unitId)
{
    auto found = m_listBoxes.find(unitId);
    return found == m_listBoxes.end() ? nullptr : found->second;
}

TcpServer* ConsoleWindow::server(uint32_t unitId)
{
    auto found = m_servers.find(unitId);
    return found == m_servers.end() ? nullptr : found->second.get();
}

void ConsoleWindow::popupMenu(uint32_t menuUnitId, std::optional<int> x, std::optional<int> y)
{
    // The items under a top-level item follow it in stored order, up to the next top-level item.
    QMenu menu(this);
    std::map<int, uint32_t> commands;
    int command = kFirstMenuCommand;
    bool under = false;
    for (const UnitDescription& unit : m_description.units) {
        if (unit.typeCode != kTypeMenuItem)
            continue;
        int thisCommand = command++;
        if (unit.menuItem.level == 0) {
            under = unit.unitId == menuUnitId;
            continue;
        }
        if (!under || unit.menuItem.hidden)
            continue;
        QAction* action = menu.addAction(displayText(unit.menuItem.caption));
        action->setData(thisCommand);
        commands[thisCommand] = unit.unitId;
    }
    if (commands.empty())
        return;
    QPoint position = QCursor::pos() + QPoint(3, 3);
    if (x)
        position.setX(*x);
    if (y)
        position.setY(*y);
    m_openPopup = &menu;
    QAction* chosen = menu.exec(position);
    m_openPopup = nullptr;
    if (!chosen)
        return;
    // The click event runs after the pop-up has closed.
    uint32_t itemUnit = commands[chosen->data().toInt()];
    raiseEvent(windowId(), itemUnit, kMenuItemClick);
}

void ConsoleWindow::closeEvent(QCloseEvent* event)
{
    if (m_destroying) {
        event->accept();
        return;
    }
    // A close request can arrive inside a nested loop (a message box, the pop-up) while a
    // handler is still running on this window's units; destroying them under it would pull the
    // ground from under that handler. The close goes ahead once the handler has returned.
    if (eventNestingDepth() > 0) {
        event->ignore();
        // What holds the handler up is a pop-up or a message box: dismiss it, as Esc would.
        if (m_openPopup)
            m_openPopup->close();
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        QTimer::singleShot(kCloseRetryMs, this, &QWidget::close);
        return;
    }
    // The close queries: a bound handler could refuse; this console binds none, so every
    // close request goes ahead.
    raiseEvent(windowId(), kConsoleWindowUnitId, kWindowCloseQueryFirst);
    raiseEvent(windowId(), kConsoleWindowUnitId, kWindowCloseQuery);
    event->accept();
    destroyWindow();
}

void ConsoleWindow::destroyWindow()
{
    m_destroying = true;
    // Being destroyed: every unit, the server component and its connections still exist.
    raiseEvent(windowId(), kConsoleWindowUnitId, kWindowBeingDestroyed);
    // The server component closes its connections without events.
    m_servers.clear();
    loadedWindows().erase(windowId());
    hide();
    deleteLater();
    noteWindowDestroyed();
}
