#!/usr/bin/env bash
# Follows README's "Installing" in a fresh clone of the committed tree: each command as written,
# except that what it runs through sudo runs as this user into a temporary root, and apt only
# notes which package it was given. Then the temporary root and the package must hold the same
# files, all that klassomat installs, and the installed program must answer.
#   readme_install.sh SOURCE_DIR
set -euo pipefail
src=$(cd "${1:?source dir}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clone=$work/klassomat
root=$work/root
git clone --quiet "$src" "$clone"
cd "$clone"

if command -v ccache >/dev/null; then
  # Each run clones into a new folder: paths relative to the clone, and no working folder in
  # the hash, let a run reuse what an earlier one compiled.
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$clone CCACHE_NOHASHDIR=1
fi
sudo() { DESTDIR=$root "$@"; }
deb=
apt() { [ "$1" = install ] && deb=$(realpath "$2"); }

recipe=$(awk '/^## Installing/ { section = 1 } section && /^```/ { if (block) exit; block = 1; next } block' README.md)
[ -n "$recipe" ] || { echo "README.md has no commands under Installing"; exit 1; }
while IFS= read -r line; do
  echo "+ $line"
  eval "$line" || { echo "failed: $line"; exit 1; }
done <<<"$recipe"

[ -f "$deb" ] || { echo "the recipe installs no package that cpack made: $deb"; exit 1; }
installed=$(cd "$root" && find . ! -type d | sed 's|^\./|/|' | sort)
packaged=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|' | sort)
diff <(echo "$installed") <(echo "$packaged") || { echo "cmake --install and the package differ (< installed, > packaged)"; exit 1; }
for file in /usr/bin/klassomat /usr/share/man/man1/klassomat.1.gz \
            /usr/share/applications/klassomat.desktop /usr/share/metainfo/de.klassomat.klassomat.metainfo.xml \
            /usr/share/icons/hicolor/scalable/apps/klassomat.svg /usr/share/icons/hicolor/16x16/apps/klassomat.png \
            /usr/share/icons/hicolor/24x24/apps/klassomat.png /usr/share/doc/klassomat/Klassen.txt \
            /usr/share/doc/klassomat/copyright /usr/share/doc/klassomat/changelog.gz /usr/share/doc/klassomat/hauptfenster.png; do
  grep -qx "$file" <<<"$installed" || { echo "not installed: $file"; exit 1; }
done
"$root/usr/bin/klassomat" --version | grep -qx 'klassomat [0-9.]*'
echo "README's recipe installs $(wc -l <<<"$installed") files, the same as its package"
