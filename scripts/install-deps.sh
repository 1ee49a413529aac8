#!/usr/bin/env bash
# Installs what Lumacast PRO needs to build, run and test on Debian 12.
# Idempotent: packages already present are skipped, so a second run is quick.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format
  qtbase5-dev qttools5-dev-tools libqt5websockets5-dev libqt5sql5-sqlite libqt5svg5-dev
  libqrcodegencpp-dev
  libavdevice-dev libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  ffmpeg xvfb x11-utils xdotool libx11-dev libxcb1-dev libxcb-damage0-dev libxcb-xfixes0-dev pulseaudio pulseaudio-utils
  chromium iproute2 zbar-tools
  lintian desktop-file-utils appstream help2man debootstrap
  nats-server libnats-dev libssl-dev
  sway swaybg xwayland pipewire pipewire-bin wireplumber xdg-desktop-portal xdg-desktop-portal-wlr
  dbus dbus-user-session libpipewire-0.3-dev qtwayland5 x11-xserver-utils
)
# Node.js may come from elsewhere (its own npm conflicts with Debian's); only add Debian's when absent.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

root=$(cd "$(dirname "$0")/.." && pwd)
if [ -f "$root/package-lock.json" ] && { [ ! -d "$root/node_modules" ] || [ "$root/package-lock.json" -nt "$root/node_modules" ]; }; then
  (cd "$root" && npm ci --no-audit --no-fund)
fi
