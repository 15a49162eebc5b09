// A console window on Win32: a fixed-size top-level window with EDIT and LISTBOX controls,
// the window's own command as an item of its system menu, URLs opened through ShellExecute,
// the pop-up menu through TrackPopupMenu, and every way of closing (the close button, the
// system menu, Esc, logoff and shutdown) reported as a close request. The form is laid out in
// 96-DPI pixels and scaled to the DPI of the window's monitor, fonts too (Win32ConsoleFont.h).
#pragma once

#include "console/ListBoxModel.h"
#include "console/WindowView.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class Win32ListBox;

// True when the window is one of the console windows this backend made.
bool isConsoleWindow(HWND window);

class Win32WindowView final : public WindowView {
public:
    Win32WindowView(const WindowDescription& description, WindowViewEvents& events);
    // Destroys the window; safe inside the window's own message handling, which touches
    // nothing of the view after reporting an event.
    ~Win32WindowView() override;

    void addEditBox(const UnitDescription& unit, EditBoxModel& model) override;
    void addListBox(const UnitDescription& unit, ListBoxModel& model) override;
    void show() override;
    void hide() override;
    std::optional<int> popupMenu(std::span<const PopupItem> items, std::optional<int> x, std::optional<int> y) override;
    void dismissModal() override;
    void callLater(int delayMs, std::function<void()> call) override;
    bool openUrl(std::string_view url) override;

    HWND window() const { return m_window; }
    // The control of a unit, for tests that drive the real controls.
    HWND control(uint32_t unitId) const;

private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    HWND createChild(const wchar_t* className, DWORD style, DWORD extendedStyle, const UnitDescription& unit);
    void applyDpi(int dpi, const RECT* suggested);
    int entryHeight() const;
    void setEntryHeight(HWND listBox) const;

    const WindowDescription& m_description;
    WindowViewEvents& m_events;
    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    int m_dpi = USER_DEFAULT_SCREEN_DPI;
    // Every control with its place in the form's 96-DPI pixels, to lay out again at a new DPI.
    std::vector<std::pair<HWND, Geometry>> m_layout;
    std::map<uint32_t, HWND> m_controls;
    std::vector<EditBoxModel*> m_editModels;
    std::map<HWND, uint32_t> m_textColours;
    std::vector<std::unique_ptr<Win32ListBox>> m_listBoxes;
    std::map<UINT_PTR, std::function<void()>> m_timers;
    UINT_PTR m_nextTimer = 1;
};

// The Win32 window system's view factory (console/WindowView.h's WindowViewFactory).
std::unique_ptr<WindowView> createWin32WindowView(const WindowDescription& description, WindowViewEvents& events);
