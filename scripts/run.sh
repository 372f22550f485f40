#!/usr/bin/env bash
# Sets up, builds and starts klassomat on the embedded demo tree.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
exec build/klassomat
