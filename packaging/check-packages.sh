#!/usr/bin/env bash
# Usage: check-packages.sh [build dir]   (root; installs into and removes from this machine)
# Builds the Debian packages from a release build, checks them with lintian, installs them as
# a user would, validates the installed menu entry and metadata, runs the installed studio
# from the menu's working directory "/" with a fresh home under Xvfb and watches its session
# in headless Chromium, then removes the packages again and checks that nothing stays behind.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(realpath -m "${1:-$root/build-packages}")
cd "$root"

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DLUMACAST_WERROR=ON \
  -DLUMACAST_BUILD_TESTS=OFF -DLUMACAST_BUILD_BENCH=OFF
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB)
studio_deb=$(ls "$dir"/lumacast_*.deb)

echo "== lintian"
lintian --fail-on error "$studio_deb"

echo "== install"
# A package of an earlier run would make apt keep its files instead of this build's.
dpkg-query -W lumacast >/dev/null 2>&1 && DEBIAN_FRONTEND=noninteractive apt-get purge -y -q lumacast
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$studio_deb"
expected=(
  /usr/bin/lumacast
  /usr/share/applications/com.quillfen.LumacastPRO.desktop
  /usr/share/metainfo/com.quillfen.LumacastPRO.metainfo.xml
  /usr/share/icons/hicolor/scalable/apps/lumacast.svg
  /usr/share/man/man1/lumacast.1.gz
  /usr/share/doc/lumacast/copyright
  /usr/share/doc/lumacast/changelog.gz
  /usr/share/lumacast/WEB/index.html
  /usr/share/lumacast/WEB/feedback_list.html
  /usr/share/lumacast/WEB/vote_result.html
  /usr/share/lumacast/WEB/jsmpeg-player.umd.min.js
)
for file in "${expected[@]}"; do
  [ -f "$file" ] || { echo "missing after install: $file"; exit 1; }
done
desktop-file-validate /usr/share/applications/com.quillfen.LumacastPRO.desktop
appstreamcli validate --no-net /usr/share/metainfo/com.quillfen.LumacastPRO.metainfo.xml

echo "== the installed studio, started from the menu's working directory"
work=$(mktemp -d)
chmod 700 "$work"
ns="lumacast-pkg-$$"
address=10.213.8.1
size=1280x720
xvfb_pid=""
studio_pid=""
cleanup() {
  [ -n "$studio_pid" ] && kill "$studio_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  ip netns delete "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The main window serves on a local interface address, never on loopback: a namespace of our
# own with one veth pair gives it one.
ip netns add "$ns"
ip -n "$ns" link set lo up
ip -n "$ns" link add studio0 type veth peer name studio1
ip -n "$ns" addr add "$address/24" dev studio0
ip -n "$ns" link set studio0 up
ip -n "$ns" link set studio1 up

exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 "${size}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 15 -u "$display_fd" display_number
display=":$display_number"

home="$work/home"
mkdir -p "$home/.config/Quillfen"
# The public server list is asked of a loopback port where nothing listens.
printf '[General]\nSERVER_LIST_HOST=http://127.0.0.1:9\n' >"$home/.config/Quillfen/LumacastPRO.ini"
before_root=$(ls -A /)
(cd / && exec ip netns exec "$ns" env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY="$display" \
  XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=xcb lumacast) >"$work/studio.log" 2>&1 &
studio_pid=$!

if ! ip netns exec "$ns" node packaging/installed-studio.js "$display" "$size" "http://$address:8080/"; then
  cat "$work/studio.log"
  exit 1
fi
kill "$studio_pid"
wait "$studio_pid" 2>/dev/null || true
studio_pid=""

grep -q "^IP=$address" "$home/.config/Quillfen/LumacastPRO.ini" ||
  { echo "the session's choices were not saved in the settings file"; exit 1; }
[ -f "$home/.local/share/lumacast/database.db" ] ||
  { echo "the questions database is not in the user's data folder"; exit 1; }
[ "$(ls -A /)" = "$before_root" ] || { echo "the studio wrote into its working directory /"; exit 1; }
dpkg --verify lumacast
strays=$(find /usr/share/lumacast -newer "$work/xvfb.log" -print -quit)
[ -z "$strays" ] || { echo "the studio wrote beside its installed files: $strays"; exit 1; }

echo "== remove"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -q lumacast
for file in "${expected[@]}"; do
  [ ! -e "$file" ] || { echo "left after removal: $file"; exit 1; }
done
echo "packages built, installed, checked and removed"
