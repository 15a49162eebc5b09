#!/usr/bin/env bash
# Installs, only when missing, what the Windows cross build and its tests under Wine need.
# Sourced like scripts/setup.sh (which it sources first for chatroom_install and the tools
# every build needs).
#   g++-mingw-w64-x86-64-posix  the cross compiler; "posix" is the flavour with std::thread
#   wine64                      runs 64-bit Windows programs; on amd64 it needs no i386
#                               multiarch (wine32 is only for 32-bit programs, and the
#                               installer is built for amd64 too)
#   nsis                        makensis, for the installer (it ships amd64-unicode stubs)
#   xvfb, xauth                 a virtual X display for windows under Wine, and xvfb-run
#   fonts-wine                  Wine's own fonts (Marlett draws the title bar's buttons)
#   xdotool                     presses keys on the console from the virtual display
#   googletest                  its sources, built with the cross compiler for the tests
set -euo pipefail

if ! declare -F chatroom_install >/dev/null; then
  # shellcheck source=scripts/setup.sh
  source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
fi

chatroom_windows_packages=(
  g++-mingw-w64-x86-64-posix
  wine64
  nsis
  xvfb xauth
  fonts-wine
  xdotool
  googletest
)

chatroom_install "${chatroom_windows_packages[@]}"
