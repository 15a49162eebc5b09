// The console's font and its scale on Win32: the form is laid out in 96-DPI pixels, which are
// scaled to the DPI of the monitor the window is on, and drawn in a face that really has the
// characters the console shows.
#pragma once

#include <windows.h>

constexpr int kFormDpi = USER_DEFAULT_SCREEN_DPI;

// The DPI of the window's monitor (Windows 10 1607 and later), else the system's.
int windowDpi(HWND window);
// A length of the form (96 DPI) at `dpi`.
int scaleToDpi(int formPixels, int dpi);

// The console's font at `dpi`; the caller deletes it.
HFONT createConsoleFont(int dpi);
// The height of a line of the font, in pixels.
int lineHeight(HFONT font);
