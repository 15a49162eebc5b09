// A console window on Qt Widgets (see QtWindowView.h).
#include "platform/qt/QtWindowView.h"

#include "console/EditBoxModel.h"
#include "platform/qt/DisplayText.h"
#include "platform/qt/QtListBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

// The window icon is compiled into this static library; its resources need registering once.
static void initConsoleIcons() { Q_INIT_RESOURCE(icons); }

namespace {

// Where the pop-up opens relative to the mouse pointer.
constexpr int kPopupOffset = 3;
// The smallest font the banner box's compact font may shrink to.
constexpr int kSmallestPixelSize = 8;

// Reports double clicks on the widget it watches.
class DoubleClickFilter final : public QObject {
public:
    DoubleClickFilter(QObject* watched, std::function<void()> onDoubleClick)
        : QObject(watched)
        , m_onDoubleClick(std::move(onDoubleClick))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::MouseButtonDblClick)
            return false;
        m_onDoubleClick();
        return true;
    }

private:
    std::function<void()> m_onDoubleClick;
};

QColor colourOf(uint32_t rgb, const QPalette& palette)
{
    if (rgb == kButtonFace)
        return palette.color(QPalette::Button);
    return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF), static_cast<int>((rgb >> 16) & 0xFF));
}

Qt::Alignment alignmentOf(EditAlignment alignment)
{
    switch (alignment) {
    case EditAlignment::Centred: return Qt::AlignHCenter;
    case EditAlignment::Right: return Qt::AlignRight;
    case EditAlignment::Left: break;
    }
    return Qt::AlignLeft;
}

} // namespace

ConsoleWidget::ConsoleWidget(const WindowDescription& description, WindowViewEvents& events)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_events(&events)
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
        connect(escape, &QShortcut::activated, this, &ConsoleWidget::requestClose);
    }
}

void ConsoleWidget::requestClose()
{
    if (m_events)
        m_events->onCloseRequest();
}

void ConsoleWidget::closeEvent(QCloseEvent* event)
{
    // The console hides the window itself when it goes; Qt must not close it behind its back.
    event->ignore();
    requestClose();
}

QtWindowView::QtWindowView(const WindowDescription& description, WindowViewEvents& events)
    : m_description(description)
    , m_events(events)
    , m_widget(new ConsoleWidget(description, events))
{
}

QtWindowView::~QtWindowView()
{
    for (EditBoxModel* model : m_editModels)
        model->setChangeListener(nullptr);
    for (auto& [unitId, list] : m_listBoxes) {
        if (list)
            list->detach();
    }
    if (m_openPopup)
        m_openPopup->close();
    if (m_widget) {
        m_widget->detach();
        m_widget->hide();
        m_widget->deleteLater();
    }
}

void QtWindowView::addEditBox(const UnitDescription& unit, EditBoxModel& model)
{
    auto* edit = new QTextEdit(m_widget);
    edit->setGeometry(unit.geometry.left, unit.geometry.top, unit.geometry.width, unit.geometry.height);
    const EditBoxProperties& properties = unit.editBox;
    edit->setFrameShape(properties.border == EditBorder::None ? QFrame::NoFrame : QFrame::StyledPanel);
    edit->setReadOnly(properties.inputMode == EditInputMode::ReadOnly);
    edit->setAcceptRichText(false);
    edit->setLineWrapMode(properties.multiLine ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    edit->setVerticalScrollBarPolicy(hasVerticalScrollBar(properties.scrollBars) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    edit->setHorizontalScrollBarPolicy(hasHorizontalScrollBar(properties.scrollBars) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    QPalette colours = edit->palette();
    colours.setColor(QPalette::Base, colourOf(properties.background, m_widget->palette()));
    colours.setColor(QPalette::Text, colourOf(properties.textColour, m_widget->palette()));
    edit->setPalette(colours);
    if (!(unit.flags & kUnitTabStop))
        edit->setFocusPolicy(Qt::NoFocus);
    // The banner box is 25 pixels high and holds two lines (host name, address): without the
    // document margin and with a compact font both lines stay readable.
    edit->document()->setDocumentMargin(0);
    if (properties.multiLine && unit.geometry.height < 2 * edit->fontMetrics().lineSpacing()) {
        QFont compact = edit->font();
        compact.setPixelSize(std::max(kSmallestPixelSize, unit.geometry.height / 2 - 1));
        edit->setFont(compact);
    }
    // The document's own option keeps the alignment across every change of content.
    QTextOption option = edit->document()->defaultTextOption();
    option.setAlignment(alignmentOf(properties.alignment));
    edit->document()->setDefaultTextOption(option);
    // The box shows its model and follows every change of it.
    QPointer<QTextEdit> shown(edit);
    auto refresh = [shown, &model] {
        if (shown)
            shown->setPlainText(displayText(model.content()));
    };
    model.setChangeListener(refresh);
    m_editModels.push_back(&model);
    refresh();
    if (unit.unitId == m_description.windowCommandEditBox && !m_description.windowCommandCaption.empty())
        offerWindowCommand(edit);
}

// A window manager's system menu is out of a Qt program's reach: the window's command is a
// double click on its edit box and an item of that box's context menu.
void QtWindowView::offerWindowCommand(QTextEdit* edit)
{
    new DoubleClickFilter(edit->viewport(), [this] { m_events.onWindowCommand(); });
    edit->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(edit, &QWidget::customContextMenuRequested, edit, [this, edit](const QPoint& at) {
        std::unique_ptr<QMenu> menu(edit->createStandardContextMenu());
        menu->addSeparator();
        QAction* command = menu->addAction(displayText(m_description.windowCommandCaption));
        if (menu->exec(edit->mapToGlobal(at)) == command) {
            menu.reset();
            m_events.onWindowCommand();
        }
    });
}

bool QtWindowView::openUrl(std::string_view url)
{
    return QDesktopServices::openUrl(QUrl(QString::fromLatin1(url.data(), static_cast<qsizetype>(url.size()))));
}

void QtWindowView::addListBox(const UnitDescription& unit, ListBoxModel& model)
{
    auto* list = new QtListBox(model, m_widget);
    list->setGeometry(unit.geometry.left, unit.geometry.top, unit.geometry.width, unit.geometry.height);
    list->setVisible(unit.flags & kUnitShown);
    uint32_t unitId = unit.unitId;
    QObject::connect(list, &QtListBox::userSelectionChanged, list, [this, unitId] { m_events.onUserSelection(unitId); });
    QObject::connect(list, &QListView::doubleClicked, list, [this, unitId] { m_events.onUserDoubleClick(unitId); });
    m_listBoxes[unitId] = list;
}

QtListBox* QtWindowView::listBox(uint32_t unitId) const
{
    auto found = m_listBoxes.find(unitId);
    return found == m_listBoxes.end() ? nullptr : found->second;
}

void QtWindowView::show()
{
    m_widget->show();
    placeOnScreen();
}

void QtWindowView::hide()
{
    if (m_widget)
        m_widget->hide();
}

void QtWindowView::placeOnScreen()
{
    // The stored size is the outer size: take the frame the window system added off the
    // client area, then centre the whole window on the screen.
    QRect frame = m_widget->frameGeometry();
    int extraWidth = frame.width() - m_widget->width();
    int extraHeight = frame.height() - m_widget->height();
    if (extraWidth > 0 || extraHeight > 0)
        m_widget->setFixedSize(m_description.outerWidth - extraWidth, m_description.outerHeight - extraHeight);
    if (!m_description.centred || !m_widget->screen())
        return;
    QRect area = m_widget->screen()->geometry();
    m_widget->move(area.left() + (area.width() - m_description.outerWidth) / 2, area.top() + (area.height() - m_description.outerHeight) / 2);
}

std::optional<int> QtWindowView::popupMenu(std::span<const PopupItem> items, std::optional<int> x, std::optional<int> y)
{
    QMenu menu(m_widget);
    for (const PopupItem& item : items) {
        QAction* action = menu.addAction(displayText(item.caption));
        action->setData(item.command);
    }
    QPoint position = QCursor::pos() + QPoint(kPopupOffset, kPopupOffset);
    if (x)
        position.setX(*x);
    if (y)
        position.setY(*y);
    m_openPopup = &menu;
    QAction* chosen = menu.exec(position);
    m_openPopup = nullptr;
    if (!chosen)
        return std::nullopt;
    return chosen->data().toInt();
}

void QtWindowView::dismissModal()
{
    if (m_openPopup)
        m_openPopup->close();
    if (QWidget* modal = QApplication::activeModalWidget())
        modal->close();
}

void QtWindowView::callLater(int delayMs, std::function<void()> call)
{
    if (m_widget)
        QTimer::singleShot(delayMs, m_widget, std::move(call));
}

std::unique_ptr<WindowView> createQtWindowView(const WindowDescription& description, WindowViewEvents& events)
{
    return std::make_unique<QtWindowView>(description, events);
}
