#!/usr/bin/env bash
# Takes a screenshot of klassomat under Xvfb: tests/tools/screenshot.sh BUILD_DIR OUT.png [SECONDS]
# With DIRCLIENT_CONFIG set, the program attaches those trees instead of the demo tree.
set -euo pipefail
build=${1:?build dir}; out=${2:?output png}; wait=${3:-2}
xvfb-run -a -s "-screen 0 800x600x24" bash -c "
  '$build/klassomat' & pid=\$!
  sleep $wait
  import -window root '$out'
  kill \$pid
"
