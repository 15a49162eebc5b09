#!/usr/bin/env bash
# Makes a Wine prefix draw windows the way Windows does, for the tests that look at them:
#   - Wine manages the windows itself (Managed=N): under Xvfb no window manager runs, so a
#     title bar left to one is never drawn, and hiding a window waits two seconds for a window
#     manager's answer that never comes.
#   - Wine's own Marlett font, for the glyphs of the title bar's buttons. Debian's fonts-wine
#     ships it, but this Wine does not look in that package's folder on its own.
#   - SimSun, which Wine's font links name for Chinese text in the system's menu font, is
#     found as WenQuanYi Micro Hei (Debian's fonts-wqy-microhei): on a Windows of any language
#     those links reach a Chinese font, and in a fresh prefix under a non-Chinese locale they
#     reach none, so the pop-up menu would show empty boxes.
# The program's own controls need none of this: they ask for SimSun with the GB2312
# character set, which both Windows and Wine resolve to a Chinese font.
#
#   wine-display-settings.sh WINE_RUN PREFIX
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: wine-display-settings.sh WINE_RUN PREFIX" >&2; exit 2; }
wine_run=$1
prefix=$2
marlett=/usr/share/wine/fonts/marlett.ttf

"$wine_run" --prefix "$prefix" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
"$wine_run" --prefix "$prefix" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null
if [ -f "$marlett" ]; then
  cp "$marlett" "$prefix/drive_c/windows/Fonts/"
fi
