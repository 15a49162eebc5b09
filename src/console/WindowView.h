// What the console asks of the platform's window system for one window: a view of its shown
// units, the pop-up menu, and the window's place on the screen. The console's rules (event
// routing, the control operations, when a close may go ahead, which items a pop-up holds)
// are written once in this folder against this interface; a backend (src/platform/<name>/)
// draws and reports what the user does. Controls show their models (ListBoxModel,
// EditBoxModel) and follow their changes; they keep no copy of their own.
#pragma once

#include "console/ConsoleForm.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

class EditBoxModel;
class ListBoxModel;

// What the user did, reported by the view to its window. Calls arrive on the window thread.
class WindowViewEvents {
public:
    // A click on an entry (also the selected one) or a move of the selection with the
    // keyboard; the model's selection is already updated.
    virtual void onUserSelection(uint32_t listUnitId) = 0;
    virtual void onUserDoubleClick(uint32_t listUnitId) = 0;
    // The window's own command (WindowDescription::windowCommandCaption): its system menu item
    // or a double click on its edit box.
    virtual void onWindowCommand() = 0;
    // The close button, the system menu, Esc, or the session ending. The view stays as it is;
    // the window decides, and hides the view when it goes.
    virtual void onCloseRequest() = 0;

protected:
    ~WindowViewEvents() = default;
};

// One item of a pop-up menu: its caption (code page 936) and the command it reports.
struct PopupItem {
    std::string_view caption;
    int command;
};

class WindowView {
public:
    virtual ~WindowView() = default;

    // Shown units, in stored order, before show(). Hidden ones get no view at all.
    virtual void addEditBox(const UnitDescription& unit, EditBoxModel& model) = 0;
    virtual void addListBox(const UnitDescription& unit, ListBoxModel& model) = 0;
    // Shows the window with the form's outer size, centred on the work area when asked.
    virtual void show() = 0;
    virtual void hide() = 0;

    // Shows the items as a pop-up at (x, y), or 3 pixels right of and below the mouse pointer
    // where not given, and returns when it has closed: the chosen command, or nothing.
    virtual std::optional<int> popupMenu(std::span<const PopupItem> items, std::optional<int> x, std::optional<int> y) = 0;
    // Closes the open pop-up and any modal dialog, as Esc would.
    virtual void dismissModal() = 0;
    // Runs `call` on the window thread's loop after about `delayMs`, unless the view has gone.
    virtual void callLater(int delayMs, std::function<void()> call) = 0;
    // Opens `url` (ASCII) in the system's web browser; false when it could not be handed over.
    virtual bool openUrl(std::string_view url) = 0;
};

// Where a program's windows get their views, for a window description whose `events` outlive
// the view: the window system's factory, which the program's entry point passes
// (createQtWindowView, createWin32WindowView, or views with nothing to show for a headless
// program).
using WindowViewFactory = std::function<std::unique_ptr<WindowView>(const WindowDescription&, WindowViewEvents&)>;
