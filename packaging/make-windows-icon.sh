#!/usr/bin/env bash
# Makes packaging/chatroom-server.ico, the Windows program's icon, from the Linux icon's
# artwork (chatroom-server.svg): the sizes Windows shows in the title bar, the taskbar and
# Explorer's views, each drawn from the vector artwork rather than scaled from one picture.
# The .ico is kept in the repository, so that a build needs neither tool; run this after a
# change of the artwork. Needs rsvg-convert (librsvg2-bin) and icotool (icoutils).
set -euo pipefail
cd "$(dirname "$0")"
sizes=(16 20 24 32 40 48 64 256)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
pictures=()
for size in "${sizes[@]}"; do
  rsvg-convert --width "$size" --height "$size" chatroom-server.svg -o "$work/$size.png"
  pictures+=("$work/$size.png")
done
# The large size stays PNG-compressed inside the .ico, as Windows Vista and later read it.
icotool --create --raw="$work/256.png" -o chatroom-server.ico "${pictures[@]:0:${#pictures[@]}-1}"
