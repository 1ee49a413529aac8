#!/bin/bash
# wayland-session.sh CMD...: runs CMD inside a headless Wayland desktop of its own (sway with
# XWayland, PipeWire, wireplumber, xdg-desktop-portal with its wlroots back end) under a private
# D-Bus session. Everything started here is stopped by its process id. Exits 77 (skipped) with
# the reason when the desktop cannot start.
# CMD gets WAYLAND_DISPLAY, DISPLAY, SWAYSOCK, XDG_CONFIG_HOME (settings of its own),
# PICKER_LOG (one line per picker shown), PICKER_DECLINE (while this file exists, the picker
# declines) and PORTAL_BACKEND_PID (xdg-desktop-portal-wlr as first started).
set -u
H=$(cd "$(dirname "$0")" && pwd)
skip() { echo "SKIPPED: the headless Wayland desktop cannot start: $*" >&2; exit 77; }
for tool in sway Xwayland pipewire wireplumber dbus-run-session dbus-update-activation-environment \
  gdbus cc setpriv; do
  command -v $tool >/dev/null 2>&1 || skip "$tool is not installed"
done
for f in /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-wlr; do
  [ -x $f ] || skip "$f is not installed"
done

trap 'rm -rf "${W:-}" "${S:-}"' EXIT
# One run of CMD in a desktop of its own; its exit status.
attempt() {
  W=$(mktemp -d) || skip "no temporary folder"
  S=$(mktemp -d); chmod 700 $W $S
  # sway refuses to run as root: then it runs as an unprivileged system user.
  SWAYUSER=
  if [ "$(id -u)" = 0 ]; then
    SWAYUSER=lumacast-wl
    id $SWAYUSER >/dev/null 2>&1 || useradd -r -M -d /nonexistent -s /usr/sbin/nologin $SWAYUSER ||
      skip "no user to run sway as"
    chown $SWAYUSER: $S
  fi
  cc -O2 -shared -fPIC -o $W/xdpw-shm-shim.so $H/xdpw-shm-shim.c -ldl || skip "the test shim does not build"
  mkdir -p $W/cfg/xdg-desktop-portal-wlr $W/data/dbus-1/services
  printf '[screencast]\nchooser_type=simple\nchooser_cmd=%s %s %s\nmax_fps=30\n' \
    $H/picker.sh $W/picker.log $W/picker.decline > $W/cfg/xdg-desktop-portal-wlr/config
  printf '[D-BUS Service]\nName=org.freedesktop.impl.portal.desktop.wlr\nExec=/usr/bin/env LD_PRELOAD=%s /usr/libexec/xdg-desktop-portal-wlr -l INFO\n' \
    $W/xdpw-shm-shim.so > $W/data/dbus-1/services/org.freedesktop.impl.portal.desktop.wlr.service

  passed=()
  for v in LUMACAST_SOURCE_DIR LUMACAST_BINARY_DIR QT_QPA_PLATFORM ASAN_OPTIONS UBSAN_OPTIONS \
    LSAN_OPTIONS TSAN_OPTIONS QT_LOGGING_RULES LUMACAST_TEST_NETNS LUMACAST_STUDIO_ADDRESS \
    LUMACAST_STUDIO_HOST LUMACAST_STUDIO_LOG LUMACAST_CLOUD CHROMIUM; do
    [ -n "${!v:-}" ] && passed+=("$v=${!v}")
  done
  setsid -w env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin HOME=${HOME:-/root} LANG=C.UTF-8 XDG_RUNTIME_DIR=$W \
    XDG_CONFIG_HOME=$W/cfg XDG_DATA_HOME=$W/data XDG_CURRENT_DESKTOP=sway SWAYRT=$S \
    SWAYUSER=$SWAYUSER H=$H PICKER_LOG=$W/picker.log PICKER_DECLINE=$W/picker.decline "${passed[@]}" \
    dbus-run-session -- $H/wayland-inner.sh "$@" 2> >(grep --line-buffered -v -e 'fd limit' -e fuse -e 'dbus-daemon\[' >&2)
  rc=$?
  SID=$(cat $W/sid 2>/dev/null)
  if [ -n "$SID" ]; then
    left=
    for i in $(seq 30); do
      left=$(ps -o pid=,stat=,comm= -s $SID | awk '$2 !~ /^Z/')
      [ -z "$left" ] && break
      sleep 0.1
    done
    [ -n "$left" ] && { echo "left over, ended: $left" >&2; kill $(echo "$left" | awk '{print $1}'); }
  fi
  # The portal's own log says its back end stopped answering: the desktop, not CMD, failed.
  backend_hung=0
  grep -q 'session implementation: Timeout was reached' $W/log/xdp 2>/dev/null && backend_hung=1
  rm -rf "$W" "$S"
  return $rc
}

# xdg-desktop-portal-wlr has been seen, once in many runs, to stop answering the portal
# (closing a session timed out, every later CreateSession got no reply). That is the harness's
# desktop, so then the desktop is started anew and CMD runs once more.
attempt "$@"; rc=$?
if [ $rc != 0 ] && [ $rc != 77 ] && [ $backend_hung = 1 ]; then
  echo "--- the portal back end stopped answering; a new desktop, and CMD once more" >&2
  attempt "$@"; rc=$?
fi
exit $rc
