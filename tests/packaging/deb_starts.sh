#!/usr/bin/env bash
# Builds the .deb, checks it with lintian and hardening-check, unpacks it into a temporary
# root and starts klassomat from there under Xvfb: its main window must come up, and the
# program must stay alive until it is told to end.
#   deb_starts.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >/dev/null
deb=$(echo "$work"/pkg/klassomat_*.deb)
# Every tag counts, the informational and pedantic ones too; lintian's spell check knows no German.
lintian --info --pedantic --fail-on error,warning,info,pedantic --suppress-tags typo-in-manual-page "$deb"
dpkg-deb -x "$deb" "$work/root"
test -x "$work/root/usr/bin/klassomat"
# The linker marks a program as control-flow protected only when all its objects are, and the C
# library's start files on Debian 12 are not; every other line must pass.
hardening-check --nocfprotection "$work/root/usr/bin/klassomat"
"$work/root/usr/bin/klassomat" --version | grep -qx 'klassomat [0-9.]*'

mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
# The unpacked root stands where /usr would: the program finds its icons there.
export XDG_DATA_DIRS="$work/root/usr/share:/usr/share"
unset DIRCLIENT_CONFIG QT_QPA_PLATFORM
export PROGRAM="$work/root/usr/bin/klassomat" ICON="$work/icon.txt"
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
  "$PROGRAM" & pid=$!
  for _ in $(seq 100); do
    if window=$(xwininfo -root -tree | grep -m1 "klassomat - Klassenbezeichnung eintragen   19.02.03/Qu."); then
      kill -0 "$pid" || { echo "klassomat ended after showing its window"; exit 1; }
      read -r id _ <<<"$window"
      # The window is mapped before it takes its icon (the theme look-up comes after the first frame).
      for _ in $(seq 100); do
        xprop -notype -id "$id" -f _NET_WM_ICON 32c _NET_WM_ICON >"$ICON"
        grep -q "_NET_WM_ICON = " "$ICON" && break
        sleep 0.2
      done
      kill -TERM "$pid"; wait "$pid" || true
      echo "main window came up"; exit 0
    fi
    kill -0 "$pid" 2>/dev/null || { wait "$pid"; echo "klassomat ended without a window (status $?)"; exit 1; }
    sleep 0.2
  done
  kill -KILL "$pid"; echo "no main window within 20 s"; exit 1'

# The window's 16 px icon is the drawn one, not the SVG scaled down: _NET_WM_ICON holds width,
# height and ARGB pixels for each size, compared here as RGBA.
perl -0777 -ne 'my @v = /(\d+)/g; while (@v) { my ($w, $h) = splice(@v, 0, 2); my @px = splice(@v, 0, $w * $h);
  print pack("N*", map { (($_ & 0xffffff) << 8) | ($_ >> 24) } @px) if $w == 16 }' "$ICON" >"$work/icon16.rgba"
compare -metric AE -size 16x16 -depth 8 "rgba:$work/icon16.rgba" "$(dirname "$0")/../../resources/icons/klassomat-16.png" null: ||
  { echo " pixels of the window's 16 px icon differ from resources/icons/klassomat-16.png"; exit 1; }
echo "the window shows the drawn 16 px icon"
