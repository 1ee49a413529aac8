#!/bin/bash
# Runs under dbus-run-session (see wayland-session.sh): starts the desktop, runs the command,
# stops each process it started by its id, newest first.
set -u
R=$XDG_RUNTIME_DIR; L=$R/log; mkdir $L; P=(); ps -o sid= $$ | tr -d ' ' > $R/sid
stop_all() {
  for ((i=${#P[@]}-1; i>=0; i--)); do
    kill ${P[i]} 2>/dev/null
    for j in $(seq 30); do kill -0 ${P[i]} 2>/dev/null || break; sleep 0.1; done
    kill -9 ${P[i]} 2>/dev/null && echo "SIGKILLed ${P[i]}" >&2
  done
  wait
}
give_up() { echo "SKIPPED: the headless Wayland desktop cannot start: $*" >&2; tail -n 5 $L/* >&2; stop_all; exit 77; }
as_sway=()
[ -n "$SWAYUSER" ] && as_sway=(setpriv --reuid=$SWAYUSER --regid=$SWAYUSER --clear-groups)
"${as_sway[@]}" env -i PATH=/usr/bin:/bin HOME=/nonexistent XDG_RUNTIME_DIR=$SWAYRT \
  WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  sway -c $H/sway.conf > $L/sway 2>&1 & P+=($!)
for i in $(seq 100); do [ -s $SWAYRT/display ] && break; sleep 0.1; done
[ -s $SWAYRT/display ] || give_up "sway did not start"
export WAYLAND_DISPLAY=$(ls $SWAYRT/wayland-? | head -1) DISPLAY=$(cat $SWAYRT/display) \
  SWAYSOCK=$(ls $SWAYRT/sway-ipc.* | head -1)
pipewire > $L/pipewire 2>&1 & P+=($!)
for i in $(seq 50); do [ -S $R/pipewire-0 ] && break; sleep 0.1; done
[ -S $R/pipewire-0 ] || give_up "PipeWire did not start"
wireplumber > $L/wireplumber 2>&1 & P+=($!)
dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XDG_CURRENT_DESKTOP
LD_PRELOAD=$R/xdpw-shm-shim.so /usr/libexec/xdg-desktop-portal-wlr -l INFO > $L/xdpw 2>&1 & P+=($!)
# A test may end the portal's back end, as a desktop crash would; D-Bus starts it again.
export PORTAL_BACKEND_PID=$!
gdbus wait --session --timeout 10 org.freedesktop.impl.portal.desktop.wlr || give_up "no wlroots portal"
/usr/libexec/xdg-desktop-portal > $L/xdp 2>&1 & P+=($!)
gdbus wait --session --timeout 10 org.freedesktop.portal.Desktop || give_up "no desktop portal"
"$@"; rc=$?
stop_all
[ $rc = 0 ] || { echo "--- desktop logs" >&2; tail -n 8 $L/* >&2; echo "--- xdpw" >&2; tail -n 40 $L/xdpw >&2; }
exit $rc
