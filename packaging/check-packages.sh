#!/usr/bin/env bash
# Usage: check-packages.sh [build dir]   (root; installs into and removes from this machine)
# Builds the Debian packages from a release build, checks them with lintian, installs them as
# a user would, validates the installed menu entry, metadata and service unit, runs the
# installed studio from the menu's working directory "/" with a fresh home under Xvfb and the
# installed relay service as its unit would, watches both in headless Chromium, then removes
# the packages again and checks that nothing stays behind. The relay package must depend on no
# desktop or media package, and must install and serve on a minimal Debian tree as well.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/packaging/service-listening.sh"
dir=$(realpath -m "${1:-$root/build-packages}")
cd "$root"

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DLUMACAST_WERROR=ON \
  -DLUMACAST_BUILD_TESTS=OFF -DLUMACAST_BUILD_BENCH=OFF
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB)
studio_deb=$(ls "$dir"/lumacast_*.deb)
cloud_deb=$(ls "$dir"/lumacast-cloud_*.deb)
packages=(lumacast lumacast-cloud)
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -y -q "$@"; }
purge_installed() {
  for package in "${packages[@]}"; do
    if dpkg-query -W "$package" >/dev/null 2>&1; then apt_get purge "$package"; fi
  done
}

echo "== lintian"
lintian --fail-on error "$studio_deb" "$cloud_deb"

echo "== the relay package brings no desktop or media stack"
cloud_depends=$(dpkg-deb -f "$cloud_deb" Depends)
echo "lumacast-cloud depends on: $cloud_depends"
if grep -oE '(libqt5(gui|widgets|dbus|sql)|libav|libsw|libx11|libxcb|libgl|libpulse|libasound|libpipewire)[^ ,]*' \
  <<<"$cloud_depends"; then
  echo "lumacast-cloud depends on the packages above, which a relay does not need"
  exit 1
fi

echo "== the relay package on a minimal Debian 12 tree"
bash packaging/check-minimal-install.sh "$cloud_deb"

work=$(mktemp -d)
chmod 700 "$work"
ns="lumacast-pkg-$$"
address=10.213.8.1
size=1280x720
cloud_ns="lumacast-pkg-cloud-$$"
xvfb_pid=""
studio_pid=""
cloud_pid=""
cleanup() {
  local status=$?
  [ -n "$studio_pid" ] && kill "$studio_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -n "$cloud_pid" ] && kill "$cloud_pid" 2>/dev/null || true
  ip netns delete "$ns" 2>/dev/null || true
  ip netns delete "$cloud_ns" 2>/dev/null || true
  rm -rf "$work"
  # A failed check leaves the machine as it found it all the same.
  if [ "$status" -ne 0 ]; then purge_installed >/dev/null; fi
}
trap cleanup EXIT

echo "== install"
# A package of an earlier run would make apt keep its files instead of this build's.
purge_installed
# What the service's maintainer scripts touch, to compare with after the purge.
machine_state() {
  find /etc/systemd /var/lib/systemd /etc/default -print 2>/dev/null | sort
  getent passwd
  getent group
}
machine_state >"$dir/state-before"
apt_get install "$studio_deb" "$cloud_deb"
unit=$(dpkg -L lumacast-cloud | grep '/systemd/system/lumacast-cloud\.service$')
studio_files=(
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
cloud_files=(
  /usr/bin/lumacast-cloud
  /lib/systemd/system/lumacast-cloud.service
  /etc/default/lumacast-cloud
  /usr/share/man/man1/lumacast-cloud.1.gz
  /usr/share/doc/lumacast-cloud/copyright
  /usr/share/doc/lumacast-cloud/changelog.gz
  /usr/share/lumacast-cloud/WEB/index.html
  /usr/share/lumacast-cloud/WEB/feedback_list.html
  /usr/share/lumacast-cloud/WEB/vote_result.html
  /usr/share/lumacast-cloud/WEB/jsmpeg-player.umd.min.js
)
for file in "${studio_files[@]}" "${cloud_files[@]}"; do
  [ -f "$file" ] || { echo "missing after install: $file"; exit 1; }
done
desktop-file-validate /usr/share/applications/com.quillfen.LumacastPRO.desktop
appstreamcli validate --no-net /usr/share/metainfo/com.quillfen.LumacastPRO.metainfo.xml
dpkg-query -W -f='${Conffiles}\n' lumacast-cloud | grep -q '^ /etc/default/lumacast-cloud ' ||
  { echo "/etc/default/lumacast-cloud is not a conffile"; exit 1; }
# Offline, without systemd running: checks the unit's syntax, its program and its man page.
systemd-analyze verify "$unit"
# The exposure stays where the unit's hardening put it (0 to 100; 18 when written).
systemd-analyze security --offline=yes --threshold=25 "$unit" | tail -n 1
# Enabled at install, as Debian's services are, even where systemd does not run.
[ -L /etc/systemd/system/multi-user.target.wants/lumacast-cloud.service ] ||
  { echo "the service was not enabled at install"; exit 1; }

echo "== the installed studio, started from the menu's working directory"

# The main window serves on a local interface address, never on loopback: a namespace of our
# own with one veth pair gives it one.
ip netns add "$ns"
ip -n "$ns" link set lo up
ip -n "$ns" link add studio0 type veth peer name studio1
ip -n "$ns" addr add "$address/24" dev studio0
ip -n "$ns" link set studio0 up
ip -n "$ns" link set studio1 up

# -noreset: a server that resets when its last client leaves drops one connecting meanwhile.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 "${size}x24" -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
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

# Removing each package alone shows that they share no file; the service then runs without
# the studio, on its own pages and dependencies.
echo "== remove the studio"
apt_get purge lumacast
gone() {
  for file in "$@"; do
    [ ! -e "$file" ] && [ ! -L "$file" ] || { echo "left after removal: $file"; exit 1; }
  done
}
gone "${studio_files[@]}"

echo "== the installed relay service, run as its unit runs it"
# Without systemd as PID 1 the unit cannot be started, so its command is run the way systemd
# would: the options of its EnvironmentFile split into words, an account of the dynamic range
# that no one owns, no other groups, no new privileges, only the capability the unit grants,
# working directory "/". A namespace of its own keeps the configured port free.
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
options=$(env -i sh -c '. /etc/default/lumacast-cloud && printf %s "$LUMACAST_CLOUD_OPTS"')
read -ra command <<<"${exec_start//\$LUMACAST_CLOUD_OPTS/$options}"
uid=61184
while getent passwd "$uid" >/dev/null || getent group "$uid" >/dev/null; do uid=$((uid + 1)); done
ip netns add "$cloud_ns"
ip -n "$cloud_ns" link set lo up
(cd / && exec ip netns exec "$cloud_ns" setpriv --reuid="$uid" --regid="$uid" --clear-groups \
  --no-new-privs --bounding-set=-all,+net_bind_service --inh-caps=-all,+net_bind_service \
  --ambient-caps=-all,+net_bind_service \
  env -i PATH=/usr/bin:/bin HOME=/ "${command[@]}") >"$work/cloud.log" 2>&1 &
cloud_pid=$!
listening=$(service_listening "$work/cloud.log" "$cloud_pid")
[ -n "$listening" ] || { cat "$work/cloud.log"; echo "the installed service did not listen"; exit 1; }
read -r listen_address port <<<"$listening"
[ "$listen_address" = 0.0.0.0 ] && listen_address=127.0.0.1
[ "$(ps -o uid= -p "$cloud_pid" | tr -d ' ')" = "$uid" ] ||
  { echo "the service does not run as its own account"; exit 1; }
echo "${command[*]} serves on $listen_address:$port as uid $uid"
if ! ip netns exec "$cloud_ns" node packaging/installed-cloud.js "$listen_address:$port"; then
  cat "$work/cloud.log"
  exit 1
fi
kill "$cloud_pid"
wait "$cloud_pid" 2>/dev/null || true
cloud_pid=""
dpkg --verify lumacast-cloud

echo "== remove the service"
apt_get purge lumacast-cloud
gone "${cloud_files[@]}" /etc/systemd/system/multi-user.target.wants/lumacast-cloud.service
machine_state | diff -u "$dir/state-before" - || { echo "the packages left traces behind"; exit 1; }
echo "packages built, installed, checked and removed"
