#!/usr/bin/env bash
# Sets up, builds and starts klassomat on the embedded demo tree. Builds only
# the program itself, not the tests and benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target klassomat
exec build/klassomat "$@"
