#!/usr/bin/env bash
# Usage: build-and-test.sh <build dir> [cmake options...] [-- ctest options...]
# Configures, builds warning-free and runs the tests of one build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake_args=()
ctest_args=()
while (($#)); do
  if [ "$1" = "--" ]; then
    shift
    ctest_args=("$@")
    break
  fi
  cmake_args+=("$1")
  shift
done
cmake -S . -B "$dir" -DLUMACAST_WERROR=ON "${cmake_args[@]}"
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" "${ctest_args[@]}"
