// A LISTBOX control showing a ListBoxModel, for the console's window on Win32: it tells the
// user's choices (a click on an entry, also on the selected one; a move with the keyboard)
// from the program's changes, which Windows does not report. The control is owner-drawn and
// keeps the entries' texts (LBS_OWNERDRAWFIXED | LBS_HASSTRINGS), so that it can draw an
// entry's decoration (a member's name) after its text while LB_GETTEXT and the keyboard's
// search still see the entry's own text.
//
// The control is not redrawn for each change: a burst of them (a crowd that joins at once, a
// churn of short visits) would redraw it and its scroll bar once per entry, which under Wine
// costs milliseconds each and paced how fast the room took clients in. The first change holds
// the redrawing and posts the control a message that resumes it: posted messages come before
// the user's input and the painting, so the user never meets the held control, and the
// changes made before that message comes are drawn at once.
#pragma once

#include "console/ConsoleForm.h"
#include "console/ListBoxModel.h"
#include "platform/win32/CodePage936.h"

#include <windows.h>

#include <functional>
#include <string>

class Win32ListBox final : public ListBoxObserver {
public:
    Win32ListBox(HWND control, ListBoxModel& model, std::function<void()> onUserSelection)
        : m_control(control)
        , m_model(&model)
        , m_onUserSelection(std::move(onUserSelection))
    {
        m_model->setObserver(this);
        SetWindowSubclassProcedure();
    }
    ~Win32ListBox()
    {
        if (m_model)
            m_model->setObserver(nullptr);
        if (IsWindow(m_control)) {
            resumeRedraw();
            SetWindowLongPtrW(m_control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_original));
            SetWindowLongPtrW(m_control, GWLP_USERDATA, 0);
        }
    }

    HWND control() const { return m_control; }

    void beforeInsert(int32_t) override { }
    void afterInsert(int32_t index) override
    {
        holdRedraw();
        SendMessageW(m_control, LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(cp936ToWide(m_model->text(index)).c_str()));
    }
    void beforeRemove(int32_t) override { }
    void afterRemove(int32_t index) override
    {
        holdRedraw();
        SendMessageW(m_control, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    }
    void selectionChanged(int32_t index) override { SendMessageW(m_control, LB_SETCURSEL, static_cast<WPARAM>(index), 0); }
    void decorationChanged(int32_t index) override
    {
        RECT entry {};
        if (SendMessageW(m_control, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&entry)) != LB_ERR)
            InvalidateRect(m_control, &entry, TRUE);
    }

    // WM_DRAWITEM, with the console's font selected into the item's DC: the entry's text as
    // the plain control draws it, `indent` pixels in, then its decoration `gap` pixels after
    // the text, muted (ConsoleForm.h) and cut short with an ellipsis where the row ends. Every
    // action draws the whole entry, so the focus rectangle is never toggled twice.
    void draw(const DRAWITEMSTRUCT& item, int indent, int gap) const
    {
        HDC dc = item.hDC;
        RECT area = item.rcItem;
        bool selected = (item.itemState & ODS_SELECTED) && item.itemID != static_cast<UINT>(-1);
        FillRect(dc, &area, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
        if (item.itemID != static_cast<UINT>(-1)) {
            auto index = static_cast<int32_t>(item.itemID);
            int previousMode = SetBkMode(dc, TRANSPARENT);
            COLORREF previousColour = SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
            std::wstring text = cp936ToWide(m_model->textView(index));
            RECT textArea = area;
            textArea.left += indent;
            drawLine(dc, text, textArea);
            if (std::string_view decoration = m_model->decoration(index); !decoration.empty()) {
                SIZE extent {};
                GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
                RECT nameArea = textArea;
                nameArea.left += extent.cx + gap;
                SetTextColor(dc, selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : mutedColour());
                if (nameArea.left < nameArea.right)
                    drawLine(dc, cp936ToWide(decoration), nameArea);
            }
            SetTextColor(dc, previousColour);
            SetBkMode(dc, previousMode);
        }
        if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT))
            DrawFocusRect(dc, &area);
    }

    // LBN_SELCHANGE: the user moved the selection. A change by the mouse is told when the
    // button goes up, as a click; one by the keyboard at once.
    void onSelectionNotified()
    {
        followSelection();
        if (m_buttonDown)
            m_clickChangedSelection = true;
        else
            m_onUserSelection();
    }

private:
    static COLORREF mutedColour()
    {
        COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
        COLORREF background = GetSysColor(COLOR_WINDOW);
        return RGB(mutedChannel(GetRValue(text), GetRValue(background)), mutedChannel(GetGValue(text), GetGValue(background)),
            mutedChannel(GetBValue(text), GetBValue(background)));
    }

    static void drawLine(HDC dc, const std::wstring& text, RECT area)
    {
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }

    // Private to this subclass: the control class's own messages are below WM_APP.
    static constexpr UINT kResumeRedraw = WM_APP + 0x42;

    // Held only once the message that resumes it is on its way: a full queue (Windows caps
    // it) leaves the control drawing each change.
    void holdRedraw()
    {
        if (m_redrawHeld || !PostMessageW(m_control, kResumeRedraw, 0, 0))
            return;
        SendMessageW(m_control, WM_SETREDRAW, FALSE, 0);
        m_redrawHeld = true;
    }

    void resumeRedraw()
    {
        if (!m_redrawHeld)
            return;
        m_redrawHeld = false;
        SendMessageW(m_control, WM_SETREDRAW, TRUE, 0);
        RedrawWindow(m_control, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
    }

    void followSelection()
    {
        LRESULT selected = SendMessageW(m_control, LB_GETCURSEL, 0, 0);
        m_model->select(selected == LB_ERR ? kNoEntry : static_cast<int32_t>(selected));
    }

    void SetWindowSubclassProcedure()
    {
        SetWindowLongPtrW(m_control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_original = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(m_control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&procedure)));
    }

    static LRESULT CALLBACK procedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<Win32ListBox*>(GetWindowLongPtrW(control, GWLP_USERDATA));
        if (!self)
            return DefWindowProcW(control, message, wParam, lParam);
        WNDPROC original = self->m_original;
        if (message == kResumeRedraw) {
            self->resumeRedraw();
            return 0;
        }
        if (message == WM_LBUTTONDOWN) {
            self->m_buttonDown = true;
            self->m_clickChangedSelection = false;
        }
        LRESULT result = CallWindowProcW(original, control, message, wParam, lParam);
        if (message == WM_LBUTTONUP && self->m_buttonDown) {
            self->m_buttonDown = false;
            // A click on an entry, whether or not it changed the selection, is the user's choice.
            LRESULT hit = SendMessageW(control, LB_ITEMFROMPOINT, 0, lParam);
            bool onEntry = HIWORD(hit) == 0 && LOWORD(hit) < self->m_model->count();
            if (onEntry || self->m_clickChangedSelection) {
                self->followSelection();
                self->m_onUserSelection();
            }
        }
        return result;
    }

    HWND m_control;
    ListBoxModel* m_model;
    std::function<void()> m_onUserSelection;
    WNDPROC m_original = nullptr;
    bool m_buttonDown = false;
    bool m_clickChangedSelection = false;
    bool m_redrawHeld = false;
};

