#!/usr/bin/env bash
# Sets up, builds and runs every test. SANITIZE=1 builds with ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
dir=build
opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${SANITIZE:-0}" = 1 ]; then dir=build-asan; opts=(-DCMAKE_BUILD_TYPE=Debug -DKLASSOMAT_SANITIZE=ON); fi
# The compiler cache lets readme_install's second build, in a clone of its own, reuse this one.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
opts+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -G Ninja "${opts[@]}"
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure -j2
