#!/usr/bin/env bash
# Builds the fuzz targets with clang (ASan, UBSan) and runs each for the given
# number of seconds (default 60), one after the other. New inputs go to
# build-fuzz/corpus/<target>, crashes to build-fuzz/artifacts/. Exits non-zero
# when a target found a crash.
#   fuzz/run.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(fuzz_ldif_tree fuzz_ldif_structure fuzz_names fuzz_class_list)
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKLASSOMAT_FUZZ=ON >/dev/null
cmake --build "$dir" --target "${targets[@]}"
mkdir -p "$dir/artifacts"
for t in "${targets[@]}"; do
  mkdir -p "$dir/corpus/$t"
  echo "== $t: ${seconds}s"
  nice "$dir/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    $([[ -f fuzz/$t.dict ]] && echo "-dict=fuzz/$t.dict") -artifact_prefix="$dir/artifacts/$t-" "$dir/corpus/$t" "fuzz/corpus/$t"
done
