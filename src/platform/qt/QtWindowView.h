// A console window on Qt Widgets: the top-level widget with its edit and list boxes (the
// banner offers the window's own command by double click and context menu), the
// pop-up menu, and Esc and the close button reported as close requests.
#pragma once

#include "console/WindowView.h"

#include <QPointer>
#include <QWidget>

#include <map>

class QMenu;
class QtListBox;
class QTextEdit;

// The top-level widget. It only reports the user's close request; the console decides.
class ConsoleWidget final : public QWidget {
    Q_OBJECT
public:
    ConsoleWidget(const WindowDescription& description, WindowViewEvents& events);
    // The view is going: no more reports.
    void detach() { m_events = nullptr; }
    void requestClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    WindowViewEvents* m_events;
};

class QtWindowView final : public WindowView {
public:
    QtWindowView(const WindowDescription& description, WindowViewEvents& events);
    // The widget may be the sender of the call that destroys the view: it goes once control
    // is back in the event loop.
    ~QtWindowView() override;

    void addEditBox(const UnitDescription& unit, EditBoxModel& model) override;
    void addListBox(const UnitDescription& unit, ListBoxModel& model) override;
    void show() override;
    void hide() override;
    std::optional<int> popupMenu(std::span<const PopupItem> items, std::optional<int> x, std::optional<int> y) override;
    void dismissModal() override;
    void callLater(int delayMs, std::function<void()> call) override;
    bool openUrl(std::string_view url) override;

    // For tests that drive the real widgets.
    QWidget* widget() const { return m_widget; }
    QMenu* openPopup() const { return m_openPopup; }
    QtListBox* listBox(uint32_t unitId) const;

private:
    void placeOnScreen();
    void offerWindowCommand(QTextEdit* edit);

    const WindowDescription& m_description;
    WindowViewEvents& m_events;
    QPointer<ConsoleWidget> m_widget;
    std::map<uint32_t, QPointer<QtListBox>> m_listBoxes;
    std::vector<EditBoxModel*> m_editModels;
    QMenu* m_openPopup = nullptr;
};

// The Qt window system's view factory (console/WindowView.h's WindowViewFactory).
std::unique_ptr<WindowView> createQtWindowView(const WindowDescription& description, WindowViewEvents& events);
