#!/usr/bin/env bash
# Runs a program on a fresh Xvfb screen of 800 × 600 under the Openbox window
# manager, so that title bars, frames and placement are real:
#   with_window_manager.sh PROGRAM [ARGS...]
set -euo pipefail
exec xvfb-run -a -s "-screen 0 800x600x24" bash -c '
  unset QT_QPA_PLATFORM
  openbox --sm-disable >/dev/null 2>&1 & wm=$!
  trap "kill $wm 2>/dev/null" EXIT
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.1
  done
  "$@"' with_window_manager "$@"
