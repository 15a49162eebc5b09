#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, only those missing,
# as root or through sudo, and says what it installs. Sourced by run.sh and test.sh.
# fonts-wqy-microhei gives the console a font with Chinese characters: Debian's default
# fonts have none, and the window's texts would show as empty boxes.
set -euo pipefail

chatroom_packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev libxcb1-dev
  libsqlite3-dev sqlite3
  nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev
  ncat
  fonts-wqy-microhei
)

chatroom_missing_packages() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  echo "${missing[@]:-}"
}

chatroom_install() {
  local missing
  missing=$(chatroom_missing_packages "$@")
  [ -z "$missing" ] && return 0
  echo "setup: installing missing packages: $missing"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}

chatroom_install "${chatroom_packages[@]}"
