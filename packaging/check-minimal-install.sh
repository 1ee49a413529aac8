#!/usr/bin/env bash
# Usage: check-minimal-install.sh <lumacast-cloud .deb>   (root; needs debootstrap, ip, node)
# Installs the relay package into a minimal Debian 12 tree (debootstrap --variant=minbase, from
# this machine's own apt sources) and prints how many packages and megabytes that adds; then
# runs the service from the tree as its unit would, with no display and no sound server, has it
# serve a room to a viewer (packaging/installed-cloud.js), and stops it, which it must survive
# with a clean exit. Then builds the relay library and the service from this source tree inside
# the same tree, with only the compiler and the relay's own development packages installed (no
# FFmpeg, sound server, X extension, PipeWire or QR development package), and checks what the
# result links. Removes the tree again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/packaging/service-listening.sh"
deb=$(realpath "$1")
work=$(mktemp -d /tmp/lumacast-minbase.XXXXXX)
tree=$work/tree
ns="lumacast-minbase-$$"
cloud_pid=""
cleanup() {
  [ -n "$cloud_pid" ] && kill "$cloud_pid" 2>/dev/null || true
  ip netns delete "$ns" 2>/dev/null || true
  umount "$tree/src" 2>/dev/null || true
  umount "$tree/proc" 2>/dev/null || true
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT

sources=/etc/apt/sources.list.d/debian.sources
mirror=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' "$sources" 2>/dev/null | head -1)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list)
echo "== a minimal Debian 12 tree"
debootstrap --variant=minbase bookworm "$tree" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -20 "$work/debootstrap.log"; echo "debootstrap failed"; exit 1; }
# The same sources as this machine (updates and security too), so the versions match the build's.
if [ -f "$sources" ]; then
  rm -f "$tree/etc/apt/sources.list"
  cp "$sources" "$tree/etc/apt/sources.list.d/"
fi
# No service of the tree is started while packages install.
printf '#!/bin/sh\nexit 101\n' >"$tree/usr/sbin/policy-rc.d"
chmod +x "$tree/usr/sbin/policy-rc.d"
mount -t proc proc "$tree/proc"
in_tree() { chroot "$tree" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
installed() { in_tree dpkg-query -W -f='${binary:Package} ${Installed-Size}\n' | sort; }

in_tree apt-get -q update >"$work/apt.log"
installed >"$work/before"
cp "$deb" "$tree/tmp/lumacast-cloud.deb"
in_tree apt-get -y -q install /tmp/lumacast-cloud.deb >>"$work/apt.log" 2>&1 ||
  { tail -30 "$work/apt.log"; echo "the package does not install on a minimal tree"; exit 1; }
installed >"$work/after"
added=$(comm -13 "$work/before" "$work/after")
count=$(wc -l <<<"$added")
kib=$(awk '{ sum += $2 } END { print sum }' <<<"$added")
echo "lumacast-cloud adds $count packages, $((kib / 1024)) MB installed, to a minimal tree:"
awk '{ print $1 }' <<<"$added" | tr '\n' ' '
echo

echo "== the service in the minimal tree, no display, no sound server"
unit=$(in_tree dpkg -L lumacast-cloud | grep '/systemd/system/lumacast-cloud\.service$')
exec_start=$(sed -n 's/^ExecStart=//p' "$tree$unit")
options=$(env -i sh -c ". '$tree/etc/default/lumacast-cloud' && printf %s \"\$LUMACAST_CLOUD_OPTS\"")
read -ra command <<<"${exec_start//\$LUMACAST_CLOUD_OPTS/$options}"
ip netns add "$ns"
ip -n "$ns" link set lo up
ip netns exec "$ns" chroot "$tree" env -i PATH=/usr/bin:/bin HOME=/ "${command[@]}" \
  >"$work/cloud.log" 2>&1 &
cloud_pid=$!
port=$(service_listening "$work/cloud.log" "$cloud_pid" | cut -d" " -f2)
[ -n "$port" ] || { cat "$work/cloud.log"; echo "the service did not listen"; exit 1; }
if ! ip netns exec "$ns" node "$root/packaging/installed-cloud.js" "127.0.0.1:$port"; then
  cat "$work/cloud.log"
  exit 1
fi
kill "$cloud_pid"
status=0
wait "$cloud_pid" || status=$?
cloud_pid=""
[ "$status" -eq 0 ] || { cat "$work/cloud.log"; echo "the service exited with $status"; exit 1; }
echo "the service served a room from the minimal tree and stopped cleanly"

echo "== the relay built in the minimal tree, without the desktop's media development packages"
# Debian ships every Qt module's headers in qtbase5-dev (Gui's and GL's with them); what the relay
# must build without is the media stack and the sound and screen libraries.
in_tree apt-get -y -q install --no-install-recommends g++ make cmake pkg-config dpkg-dev help2man \
  qtbase5-dev libqt5websockets5-dev libnats-dev libssl-dev >>"$work/apt.log" 2>&1 ||
  { tail -30 "$work/apt.log"; echo "the relay's build packages do not install"; exit 1; }
absent=(libavcodec-dev libavformat-dev libavdevice-dev libswscale-dev libswresample-dev
  libpulse-dev libasound2-dev libxcb-damage0-dev libxcb-xfixes0-dev libpipewire-0.3-dev
  libqrcodegencpp-dev libqt5sql5-sqlite)
for p in "${absent[@]}"; do
  if in_tree dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    echo "$p is installed in the tree, so the build would not show the relay can do without it"
    exit 1
  fi
done
mkdir "$tree/src"
mount --bind "$root" "$tree/src"
mount -o remount,bind,ro "$tree/src"
in_tree cmake -S /src -B /relay-build -DLUMACAST_WERROR=ON -DLUMACAST_RELAY_ONLY=ON \
  >"$work/relay-build.log" 2>&1 &&
  in_tree cmake --build /relay-build -j"$(nproc)" --target lumacast-cloud >>"$work/relay-build.log" 2>&1 ||
  { tail -40 "$work/relay-build.log"; echo "the relay does not build in the minimal tree"; exit 1; }
umount "$tree/src"
bash "$root/tests/cloud/linked-libraries.sh" "$tree/relay-build/bin/lumacast-cloud" \
  "$root/tests/cloud/relay-libraries.txt" 40
echo "the relay library and the service built in the minimal tree without ${absent[*]}"
