#!/usr/bin/env bash
# Builds the Windows packages with cpack (ZIP and NSIS) and checks them under Wine, in a fresh
# Wine prefix of its own:
#   - the zip holds the program, reply.ini, README.md and LICENSE, and nothing else;
#   - the installer, run silently (/S), puts them in C:\Program Files\chatroom-server with an
#     uninstaller and a Start-menu shortcut 聊天室服务器;
#   - the installed program starts, listens on port 19730, records a client's vote in the
#     user's registry (HKCU\SOFTWARE\聊天室\机器人), and ends with status 0 when its window is
#     asked to close (taskkill without /F sends WM_CLOSE);
#   - the uninstaller, run silently, removes the files and the shortcut and leaves the poll.
# It runs in a network namespace of its own where it may make one (unshare), so that the fixed
# port is certainly free; elsewhere it skips the port and the vote and checks only that the
# program starts and closes.
#
# usage: check-windows-installer.sh BUILD_DIR WINE_RUN
set -uo pipefail

build_dir=$1
wine_run=$2

# Seconds that each wait below may take at most; Wine's first start in a new prefix is slow.
wait_limit=180
port=19730
install_dir_name=chatroom-server
poll_key='HKCU\SOFTWARE\聊天室\机器人'
# "@关闭" in code page 936: a vote to switch the robot off, as a client sends it.
close_vote=$'@\xb9\xd8\xb1\xd5'

if [ -z "${CHATROOM_INSTALLER_NETNS:-}" ]; then
  for unshare_args in "-n" "-rn"; do
    if unshare $unshare_args true 2>/dev/null; then
      exec unshare $unshare_args env CHATROOM_INSTALLER_NETNS=1 bash "$0" "$@"
    fi
  done
  CHATROOM_INSTALLER_NETNS=none
fi
own_network=false
if [ "$CHATROOM_INSTALLER_NETNS" = 1 ] && ip link set lo up 2>/dev/null; then
  own_network=true
fi

for tool in cpack "$wine_run"; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing"
    exit 77
  fi
done

work=$(mktemp -d)
prefix=$work/prefix
cleanup() {
  "$wine_run" --prefix "$prefix" --stop >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# Runs a command under the test's Wine; arguments in UTF-8, as Wine reads them in this locale.
wine() {
  LC_ALL=C.UTF-8 "$wine_run" --prefix "$prefix" "$@"
}
# Waits until the command succeeds, at most wait_limit seconds.
wait_for() {
  local deadline=$((SECONDS + wait_limit))
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.5
  done
}
# The program's windows are drawn on a virtual display of the test's own.
unset DISPLAY WAYLAND_DISPLAY

if ! cpack -G "ZIP;NSIS" --config "$build_dir/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
shopt -s nullglob
zips=("$work"/out/chatroom-server-*-win64.zip)
installers=("$work"/out/chatroom-server-*-win64.exe)
if [ ${#zips[@]} -ne 1 ] || [ ${#installers[@]} -ne 1 ]; then
  echo "FAIL: expected one zip and one installer, found: $(ls "$work/out")"
  exit 1
fi

# The zip: one folder named like the zip, with exactly the four files.
folder=$(basename "${zips[0]}" .zip)
listing=$(cmake -E tar tf "${zips[0]}" | sort)
expected=$(printf '%s\n' "$folder/LICENSE" "$folder/README.md" "$folder/chatroom-server.exe" "$folder/reply.ini")
[ "$listing" = "$expected" ] || fail "the zip holds:
$listing"

# A silent install.
if ! wine "${installers[0]}" /S >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "the installer failed"
fi
install_dir="$prefix/drive_c/Program Files/$install_dir_name"
for file in chatroom-server.exe reply.ini README.md LICENSE Uninstall.exe; do
  [ -f "$install_dir/$file" ] || fail "not installed: $file"
done
cmp -s "$install_dir/reply.ini" "$(dirname "$0")/../../data/reply.ini" || fail "the installed reply.ini differs from data/reply.ini"
shortcut=$(find "$prefix/drive_c" -name '聊天室服务器.lnk' -print -quit)
[ -n "$shortcut" ] && [[ "$shortcut" == *"/Start Menu/Programs/"* ]] || fail "no Start-menu shortcut 聊天室服务器"
wine reg query "$poll_key" >/dev/null 2>&1 && fail "a poll exists before the program ran"

# The installed program: it starts, takes a vote, and closes on WM_CLOSE with status 0.
wine "C:\\Program Files\\$install_dir_name\\chatroom-server.exe" >"$work/program.log" 2>&1 &
program=$!
if $own_network; then
  listening() { exec 3<>"/dev/tcp/127.0.0.1/$port"; } 2>/dev/null
  if wait_for listening; then
    printf '%s' "$close_vote" >&3
    wait_for wine reg query "$poll_key" /v 次数 >/dev/null 2>&1 || fail "the vote was not recorded in $poll_key"
    exec 3>&-
  else
    fail "the installed program did not listen on port $port"
  fi
fi
wait_for wine taskkill /IM chatroom-server.exe >/dev/null 2>&1 || fail "taskkill found no window of the program"
wait "$program"
status=$?
if [ $status -ne 0 ]; then
  cat "$work/program.log"
  fail "the program ended with status $status after WM_CLOSE"
fi

# A silent uninstall. The uninstaller runs from a copy of itself, so the test waits for its work.
wine "C:\\Program Files\\$install_dir_name\\Uninstall.exe" /S >"$work/uninstall.log" 2>&1 || fail "the uninstaller failed"
gone() { [ ! -e "$install_dir" ] && [ ! -e "$shortcut" ]; }
wait_for gone || fail "left after uninstalling: $(find "$install_dir" "$shortcut" 2>/dev/null | tr '\n' ' ')"
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\chatroom-server' >/dev/null 2>&1 &&
  fail "the uninstall entry is still registered"
if $own_network; then
  wine reg query "$poll_key" /v 次数 >/dev/null 2>&1 || fail "uninstalling removed the user's poll"
fi

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
$own_network || echo "note: no network namespace could be made; the port and the poll were not checked"
echo "ok: zip, silent install, program run, silent uninstall"
