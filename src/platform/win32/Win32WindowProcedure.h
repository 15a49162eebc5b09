// The window procedure of a window that a C++ object owns: the object's address comes with
// CreateWindowExW's last parameter, is kept in GWLP_USERDATA at WM_NCCREATE, and every message
// from then on goes to the object's handler. Messages before that go to the default procedure.
#pragma once

#include <windows.h>

template <typename Owner, HWND Owner::*windowMember, LRESULT (Owner::*handler)(UINT, WPARAM, LPARAM)>
LRESULT CALLBACK forwardToOwner(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<Owner*>(create->lpCreateParams)->*windowMember = window;
    }
    auto* owner = reinterpret_cast<Owner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!owner)
        return DefWindowProcW(window, message, wParam, lParam);
    return (owner->*handler)(message, wParam, lParam);
}
