// A console window on Win32 (see Win32WindowView.h).
#include "platform/win32/Win32WindowView.h"
#include "platform/win32/Win32WindowProcedure.h"

#include "platform/win32/Win32ConsoleFont.h"
#include "platform/win32/Win32ListBox.h"

#include "console/EditBoxModel.h"
#include "platform/win32/CodePage936.h"
#include "runtime/FatalError.h"

#include <shellapi.h>
#include <windowsx.h>

namespace {

constexpr wchar_t kWindowClass[] = L"ChatroomConsole";
constexpr wchar_t kEditClass[] = L"EDIT";
constexpr wchar_t kListBoxClass[] = L"LISTBOX";
// Where the pop-up opens relative to the mouse pointer.
constexpr int kPopupOffset = 3;
// The system menu item of the window's own command: below 0xF000 (the system's commands) and
// with its low four bits clear, as WM_SYSCOMMAND uses those.
constexpr UINT kWindowCommandId = 0x0100;
constexpr WPARAM kSystemCommandMask = 0xFFF0;
// ShellExecute's results above this are success.
constexpr INT_PTR kShellExecuteFailureLimit = 32;
// Where a roster entry's text starts in its row (where the plain control puts it), and how far
// after it the entry's decoration (a member's name) starts, in the form's pixels.
constexpr int kEntryTextIndent = 1;
constexpr int kEntryDecorationGap = 6;

ATOM registerWindowClass(WNDPROC procedure)
{
    // One per process by nature: a window class is registered once for the process.
    static ATOM atom = [procedure] {
        WNDCLASSEXW windowClass {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.hIcon = LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(1));
        windowClass.lpszClassName = kWindowClass;
        return RegisterClassExW(&windowClass);
    }();
    return atom;
}

COLORREF colourOf(uint32_t rgb)
{
    if (rgb == kButtonFace)
        return GetSysColor(COLOR_BTNFACE);
    return RGB(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

DWORD alignmentStyle(EditAlignment alignment)
{
    switch (alignment) {
    case EditAlignment::Centred: return ES_CENTER;
    case EditAlignment::Right: return ES_RIGHT;
    case EditAlignment::Left: break;
    }
    return ES_LEFT;
}

} // namespace

bool isConsoleWindow(HWND window)
{
    wchar_t name[64] = {};
    return window && GetClassNameW(window, name, static_cast<int>(std::size(name))) > 0 && lstrcmpW(name, kWindowClass) == 0;
}

Win32WindowView::Win32WindowView(const WindowDescription& description, WindowViewEvents& events)
    : m_description(description)
    , m_events(events)
{
    registerWindowClass(&Win32WindowView::windowProcedure);
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN;
    if (description.systemMenu)
        style |= WS_SYSMENU;
    if (description.minimiseButton)
        style |= WS_MINIMIZEBOX;
    if (description.maximiseButton)
        style |= WS_MAXIMIZEBOX;
    // The stored size is the outer size, frame and caption included, as CreateWindow takes it,
    // in the form's 96-DPI pixels: once the window knows its monitor, it takes that monitor's scale.
    m_window = CreateWindowExW(0, kWindowClass, cp936ToWide(description.caption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
        description.outerWidth, description.outerHeight, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    // A room without its window would run on where the administrator can neither see it nor
    // close it (Wine without a display makes no windows at all).
    if (!m_window)
        fatalError(0, "载入启动窗口失败");
    if (HMENU systemMenu = GetSystemMenu(m_window, FALSE); systemMenu && !description.windowCommandCaption.empty()) {
        AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(systemMenu, MF_STRING, kWindowCommandId, cp936ToWide(description.windowCommandCaption).c_str());
    }
    m_dpi = windowDpi(m_window);
    m_font = createConsoleFont(m_dpi);
    if (m_dpi != kFormDpi) {
        SetWindowPos(m_window, nullptr, 0, 0, scaleToDpi(description.outerWidth, m_dpi), scaleToDpi(description.outerHeight, m_dpi),
            SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// A per-monitor aware window is told when it moves to a monitor of another scale (or the
// user changes the scale): the controls, their font and the roster's entries take the new
// one, and the window the rectangle Windows suggests for it. (Wine draws at one DPI for all.)
void Win32WindowView::applyDpi(int dpi, const RECT* suggested)
{
    m_dpi = dpi;
    HFONT previous = m_font;
    m_font = createConsoleFont(m_dpi);
    for (const auto& [control, geometry] : m_layout) {
        SetWindowPos(control, nullptr, scaleToDpi(geometry.left, m_dpi), scaleToDpi(geometry.top, m_dpi), scaleToDpi(geometry.width, m_dpi),
            scaleToDpi(geometry.height, m_dpi), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);
    }
    for (const auto& list : m_listBoxes)
        setEntryHeight(list->control());
    if (previous)
        DeleteObject(previous);
    if (suggested) {
        SetWindowPos(m_window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left, suggested->bottom - suggested->top,
            SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// Each entry is a line of the font tall and a form pixel more.
int Win32WindowView::entryHeight() const { return lineHeight(m_font) + scaleToDpi(kListEntryExtraHeight, m_dpi); }

void Win32WindowView::setEntryHeight(HWND listBox) const
{
    SendMessageW(listBox, LB_SETITEMHEIGHT, 0, MAKELPARAM(entryHeight(), 0));
}

Win32WindowView::~Win32WindowView()
{
    for (EditBoxModel* model : m_editModels)
        model->setChangeListener(nullptr);
    m_listBoxes.clear();
    for (const auto& [timer, call] : m_timers)
        KillTimer(m_window, timer);
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    if (m_font)
        DeleteObject(m_font);
}

HWND Win32WindowView::createChild(const wchar_t* className, DWORD style, DWORD extendedStyle, const UnitDescription& unit)
{
    if (unit.flags & kUnitShown)
        style |= WS_VISIBLE;
    if (unit.flags & kUnitTabStop)
        style |= WS_TABSTOP;
    if (unit.flags & kUnitDisabled)
        style |= WS_DISABLED;
    // Unit geometry is in client coordinates, in the form's 96-DPI pixels.
    const Geometry& at = unit.geometry;
    HWND control = CreateWindowExW(extendedStyle, className, L"", WS_CHILD | style, scaleToDpi(at.left, m_dpi), scaleToDpi(at.top, m_dpi),
        scaleToDpi(at.width, m_dpi), scaleToDpi(at.height, m_dpi), m_window, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(unit.unitId & 0xFFFF)),
        GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    m_controls[unit.unitId] = control;
    m_layout.emplace_back(control, at);
    return control;
}

void Win32WindowView::addEditBox(const UnitDescription& unit, EditBoxModel& model)
{
    const EditBoxProperties& properties = unit.editBox;
    DWORD style = alignmentStyle(properties.alignment) | ES_AUTOHSCROLL;
    if (properties.multiLine)
        style = (style & ~ES_AUTOHSCROLL) | ES_MULTILINE | ES_AUTOVSCROLL;
    if (properties.inputMode == EditInputMode::ReadOnly)
        style |= ES_READONLY;
    if (properties.inputMode == EditInputMode::Password)
        style |= ES_PASSWORD;
    if (hasVerticalScrollBar(properties.scrollBars))
        style |= WS_VSCROLL;
    if (hasHorizontalScrollBar(properties.scrollBars))
        style |= WS_HSCROLL;
    DWORD extended = properties.border == EditBorder::None ? 0 : WS_EX_CLIENTEDGE;
    HWND control = createChild(kEditClass, style, extended, unit);
    m_textColours[control] = colourOf(properties.textColour);
    // The control shows its model and follows every change of it.
    auto refresh = [control, &model] { SetWindowTextW(control, cp936ToWide(model.content()).c_str()); };
    model.setChangeListener(refresh);
    m_editModels.push_back(&model);
    refresh();
}

void Win32WindowView::addListBox(const UnitDescription& unit, ListBoxModel& model)
{
    // Unsorted, single selection, a vertical scroll bar when the entries need one, notifying;
    // drawn here, so that a member's name goes beside its address (Win32ListBox.h).
    HWND control = createChild(kListBoxClass, WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS, WS_EX_CLIENTEDGE, unit);
    setEntryHeight(control);
    uint32_t unitId = unit.unitId;
    m_listBoxes.push_back(std::make_unique<Win32ListBox>(control, model, [this, unitId] { m_events.onUserSelection(unitId); }));
    for (int32_t index = 0; index < model.count(); ++index)
        m_listBoxes.back()->afterInsert(index);
}

HWND Win32WindowView::control(uint32_t unitId) const
{
    auto found = m_controls.find(unitId);
    return found == m_controls.end() ? nullptr : found->second;
}

void Win32WindowView::show()
{
    if (m_description.centred) {
        RECT area {};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        RECT outer {};
        GetWindowRect(m_window, &outer);
        int left = area.left + (area.right - area.left - (outer.right - outer.left)) / 2;
        int top = area.top + (area.bottom - area.top - (outer.bottom - outer.top)) / 2;
        SetWindowPos(m_window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    ShowWindow(m_window, SW_SHOW);
    UpdateWindow(m_window);
}

void Win32WindowView::hide() { ShowWindow(m_window, SW_HIDE); }

std::optional<int> Win32WindowView::popupMenu(std::span<const PopupItem> items, std::optional<int> x, std::optional<int> y)
{
    HMENU menu = CreatePopupMenu();
    for (const PopupItem& item : items)
        AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(item.command), cp936ToWide(item.caption).c_str());
    POINT pointer {};
    GetCursorPos(&pointer);
    int left = x.value_or(pointer.x + kPopupOffset);
    int top = y.value_or(pointer.y + kPopupOffset);
    // The menu closes when the user clicks elsewhere only if its owner is in the foreground.
    SetForegroundWindow(m_window);
    // TPM_RIGHTBUTTON lets either mouse button choose an item (TPM_LEFTBUTTON: the left alone).
    UINT chosen = TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, left, top, 0, m_window, nullptr);
    DestroyMenu(menu);
    if (chosen == 0)
        return std::nullopt;
    return static_cast<int>(chosen);
}

void Win32WindowView::dismissModal()
{
    EndMenu();
    // A message box of this thread: a dialog window that is enabled while ours is not.
    EnumThreadWindows(GetCurrentThreadId(), [](HWND candidate, LPARAM) -> BOOL {
        wchar_t name[16] = {};
        if (GetClassNameW(candidate, name, static_cast<int>(std::size(name))) > 0 && lstrcmpW(name, L"#32770") == 0)
            PostMessageW(candidate, WM_CLOSE, 0, 0);
        return TRUE;
    }, 0);
}

bool Win32WindowView::openUrl(std::string_view url)
{
    std::wstring wide(url.begin(), url.end()); // ASCII
    auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(m_window, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > kShellExecuteFailureLimit;
}

void Win32WindowView::callLater(int delayMs, std::function<void()> call)
{
    UINT_PTR timer = m_nextTimer++;
    m_timers[timer] = std::move(call);
    SetTimer(m_window, timer, static_cast<UINT>(delayMs), nullptr);
}

LRESULT CALLBACK Win32WindowView::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return forwardToOwner<Win32WindowView, &Win32WindowView::m_window, &Win32WindowView::handle>(window, message, wParam, lParam);
}

// Every branch that reports an event returns at once afterwards: the report may have
// destroyed this view.
LRESULT Win32WindowView::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        m_events.onCloseRequest();
        return 0;
    case WM_QUERYENDSESSION:
        // Logoff or shutdown: the room is dissolved first, then the session may end.
        m_events.onCloseRequest();
        return TRUE;
    case WM_ENDSESSION:
        if (wParam)
            m_events.onCloseRequest();
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & kSystemCommandMask) == kWindowCommandId) {
            m_events.onWindowCommand();
            return 0;
        }
        break;
    case WM_COMMAND:
        if (HIWORD(wParam) == LBN_SELCHANGE) {
            for (const auto& list : m_listBoxes) {
                if (list->control() == reinterpret_cast<HWND>(lParam)) {
                    list->onSelectionNotified();
                    return 0;
                }
            }
        }
        if (HIWORD(wParam) == LBN_DBLCLK) {
            for (const auto& [unitId, control] : m_controls) {
                if (control == reinterpret_cast<HWND>(lParam)) {
                    m_events.onUserDoubleClick(unitId);
                    return 0;
                }
            }
        }
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT: {
        // Read-only edit boxes draw on the button face, as the window does.
        auto dc = reinterpret_cast<HDC>(wParam);
        auto found = m_textColours.find(reinterpret_cast<HWND>(lParam));
        if (found != m_textColours.end())
            SetTextColor(dc, found->second);
        if (message == WM_CTLCOLORSTATIC) {
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    }
    case WM_MEASUREITEM: {
        // Asked once, while the owner-drawn roster is made; LB_SETITEMHEIGHT follows every change
        // of scale.
        auto* measured = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (measured->CtlType != ODT_LISTBOX)
            break;
        measured->itemHeight = static_cast<UINT>(entryHeight());
        return TRUE;
    }
    case WM_DRAWITEM: {
        const auto* drawn = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        for (const auto& list : m_listBoxes) {
            if (list->control() != drawn->hwndItem)
                continue;
            HGDIOBJ previous = SelectObject(drawn->hDC, m_font);
            list->draw(*drawn, scaleToDpi(kEntryTextIndent, m_dpi), scaleToDpi(kEntryDecorationGap, m_dpi));
            SelectObject(drawn->hDC, previous);
            return TRUE;
        }
        break;
    }
    case WM_DPICHANGED:
        applyDpi(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_TIMER: {
        auto found = m_timers.find(wParam);
        if (found == m_timers.end())
            break;
        KillTimer(m_window, wParam);
        std::function<void()> call = std::move(found->second);
        m_timers.erase(found);
        call();
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

std::unique_ptr<WindowView> createWin32WindowView(const WindowDescription& description, WindowViewEvents& events)
{
    return std::make_unique<Win32WindowView>(description, events);
}
