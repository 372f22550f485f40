#!/usr/bin/env bash
# Pictures of every window under Xvfb: tests/tools/screenshot.sh BUILD_DIR OUT_DIR
# The tour shows the tree choice (three trees attached), the main window, the
# browser, both dialogs, and the main window during and after a run.
set -euo pipefail
build=${1:?build dir}; out=${2:?output dir}
mkdir -p "$out"
xvfb-run -a -s "-screen 0 800x600x24" "$build/tests/window_tour" "$out"
echo "pictures in $out"
