#!/usr/bin/env bash
# Takes the metainfo's screenshot again: the main window after a run on the demo tree, at
# scale 2 so that it stays sharp in software centres, under Xvfb. The picture in packaging/
# must still show the window as it looks now, and the metainfo must give its size.
#   metainfo_screenshot.sh BUILD_DIR [--update]   (--update keeps the new picture and size)
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
shipped=$source_dir/packaging/hauptfenster.png
metainfo=$source_dir/packaging/de.klassomat.klassomat.metainfo.xml
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The tour's run leaves its run record in the data folder: a temporary one.
mkdir -p "$work/home" "$work/runtime" "$work/shots"
chmod 700 "$work/runtime"
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 1280x1024x24" \
  env -u QT_QPA_PLATFORM "$build/tests/window_tour" "$work/shots" >/dev/null
shot=$work/shots/8-after-run-client.png
size=$(identify -format '%w %h' "$shot")
read -r width height <<<"$size"

if [ "${2:-}" = --update ]; then
  cp "$shot" "$shipped"
  sed -i -E "s|(<image type=\"source\") width=\"[0-9]+\" height=\"[0-9]+\"|\1 width=\"$width\" height=\"$height\"|" "$metainfo"
  echo "kept the new screenshot ($width x $height) in packaging/"
  exit 0
fi
grep -q "<image type=\"source\" width=\"$width\" height=\"$height\">" "$metainfo" ||
  { echo "the metainfo does not give the screenshot's size $width x $height"; exit 1; }
# A few pixels of slack for anti-aliasing; a changed window differs in thousands.
differing=$(compare -metric AE -fuzz 5% "$shot" "$shipped" null: 2>&1 || true)
if ! [ "$differing" -le 20 ] 2>/dev/null; then
  cp "$shot" "$build/hauptfenster-now.png"
  echo "the window no longer looks like packaging/hauptfenster.png ($differing pixels differ; now: $build/hauptfenster-now.png)"
  echo "take the new one with: $0 $1 --update"
  exit 1
fi
echo "the screenshot still shows the window ($width x $height)"
