#!/usr/bin/env bash
# Configures and builds into ./build (or $VELMARIC_BUILD_DIR); extra arguments go to cmake --build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMARIC_BUILD_DIR:-$top/build}
generator=()
command -v ninja >/dev/null && [[ ! -f $build/CMakeCache.txt ]] && generator=(-G Ninja)
cmake -S "$top" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" "$@"
