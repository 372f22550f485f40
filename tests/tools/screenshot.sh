#!/usr/bin/env bash
# Pictures of every window under Xvfb with a window manager (frames and title
# bars as a user sees them): tests/tools/screenshot.sh BUILD_DIR OUT_DIR
# The tour shows the tree choice (three trees attached), the main window, the
# browser, both dialogs, and the main window during and after a run.
set -euo pipefail
build=${1:?build dir}; out=${2:?output dir}
mkdir -p "$out"
"$(dirname "$0")/with_window_manager.sh" "$build/tests/window_tour" "$out"
echo "pictures in $out"
