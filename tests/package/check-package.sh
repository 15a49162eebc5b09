#!/usr/bin/env bash
# Builds the Debian package with cpack -G DEB and checks it: the program and its word library in
# one directory, the link on the PATH, the desktop entry, icons, user unit and documentation; no
# file outside /opt/chatroom-server and /usr and no maintainer scripts (removal must leave the
# users' value stores alone); the word library kept as a configuration file; Depends naming the
# Qt 6 and SQLite libraries and no sanitizer runtime.
#
# usage: check-package.sh SOURCE_DIR BUILD_DIR [CMAKE_GENERATOR]
# BUILD_DIR is configured as a Release build first unless it already is one.
set -uo pipefail

source_dir=$1
build_dir=$2
generator=${3:-}

for tool in cmake cpack dpkg-deb dpkg; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed, no Debian package can be built here"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_logged() {
  local log=$work/log
  if ! "$@" >"$log" 2>&1; then
    cat "$log"
    echo "FAIL: $*"
    exit 1
  fi
}

# One compile job: ctest runs this beside another test on a two core machine.
if [ ! -f "$build_dir/CMakeCache.txt" ] || ! grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$build_dir/CMakeCache.txt"; then
  generator_args=()
  [ -n "$generator" ] && [ ! -f "$build_dir/CMakeCache.txt" ] && generator_args=(-G "$generator")
  run_logged cmake -S "$source_dir" -B "$build_dir" "${generator_args[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DCHATROOM_SANITIZE=OFF -DCHATROOM_TESTS=OFF -DCHATROOM_BENCH=OFF
fi
run_logged cmake --build "$build_dir" -j 1
run_logged cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/out"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

arch=$(dpkg --print-architecture)
shopt -s nullglob
debs=("$work"/out/chatroom-server_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "FAIL: expected one chatroom-server_*.deb, found: ${debs[*]:-none}"
  exit 1
fi
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "chatroom-server_${version}_${arch}.deb" ] ||
  fail "package file name $(basename "$deb") is not chatroom-server_${version}_${arch}.deb"

# The file list as "type path[ -> target]", type being the first letter of the mode.
dpkg-deb -c "$deb" >"$work/contents" || { echo "FAIL: dpkg-deb -c $deb"; exit 1; }
awk '{ line = substr($1, 1, 1) " " $6; for (i = 7; i <= NF; i++) line = line " " $i; print line }' \
  "$work/contents" >"$work/list"

expected_entries=(
  "- ./opt/chatroom-server/chatroom-server"
  "- ./opt/chatroom-server/reply.ini"
  "l ./usr/bin/chatroom-server -> /opt/chatroom-server/chatroom-server"
  "- ./usr/share/applications/chatroom-server.desktop"
  "- ./usr/share/icons/hicolor/scalable/apps/chatroom-server.svg"
  "- ./usr/share/icons/hicolor/64x64/apps/chatroom-server.png"
  "- ./usr/lib/systemd/user/chatroom-server.service"
  "- ./usr/share/doc/chatroom-server/LICENSE"
  "- ./usr/share/doc/chatroom-server/copyright"
  "- ./usr/share/doc/chatroom-server/README.md"
)
for entry in "${expected_entries[@]}"; do
  grep -qxF -- "$entry" "$work/list" || fail "package lacks \"$entry\""
done
grep -q '^-rwxr-xr-x .* \./opt/chatroom-server/chatroom-server$' "$work/contents" ||
  fail "the program is not installed executable (rwxr-xr-x)"

# Everything lives in the program directory or under /usr; in particular nothing in a home.
while read -r _ path _; do
  case "$path" in
    ./ | ./opt/ | ./opt/chatroom-server/* | ./usr/*) ;;
    *) fail "package installs $path outside /opt/chatroom-server and /usr" ;;
  esac
done <"$work/list"

# No maintainer scripts, so installing and removing the package never touches a user's files.
mkdir "$work/control"
dpkg-deb -e "$deb" "$work/control" || fail "dpkg-deb -e $deb"
for member in "$work"/control/*; do
  case "$(basename "$member")" in
    control | md5sums | conffiles) ;;
    *) fail "package has the maintainer script $(basename "$member")" ;;
  esac
done
grep -qxF /opt/chatroom-server/reply.ini "$work/control/conffiles" 2>/dev/null ||
  fail "reply.ini is not a configuration file (conffiles: $(cat "$work/control/conffiles" 2>/dev/null))"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = chatroom-server ] || fail "Package is '$(field Package)'"
[ "$(field Section)" = net ] || fail "Section is '$(field Section)'"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
[ -n "$(field Maintainer)" ] || fail "Maintainer is empty"
[ -n "$(field Description)" ] || fail "Description is empty"

# Depends as one package name a line, version constraints dropped.
field Depends | tr ',|' '\n' | sed -e 's/(.*)//' -e 's/[[:space:]]//g' -e '/^$/d' >"$work/depends"
for library in libqt6widgets6 libqt6gui6 libqt6core6 libsqlite3-0; do
  grep -qxF "$library" "$work/depends" || fail "Depends lacks $library: $(field Depends)"
done
if grep -qE '^lib(asan|ubsan)' "$work/depends"; then
  fail "Depends names a sanitizer runtime, so a sanitized build was packaged: $(field Depends)"
fi

# The user unit starts the link the package puts on the PATH.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/user/chatroom-server.service >"$work/unit" 2>/dev/null
grep -qx 'ExecStart=/usr/bin/chatroom-server' "$work/unit" ||
  fail "the user unit does not start /usr/bin/chatroom-server: $(grep ExecStart "$work/unit")"

if command -v desktop-file-validate >/dev/null; then
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/applications/chatroom-server.desktop >"$work/chatroom-server.desktop"
  desktop-file-validate "$work/chatroom-server.desktop" || fail "desktop-file-validate rejects the desktop entry"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed for $(basename "$deb")"
  exit 1
fi
echo "$(basename "$deb") passed: $(wc -l <"$work/list") entries, Depends: $(field Depends)"
