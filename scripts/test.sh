#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test in the test environment.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/install-deps.sh"
"$here/build.sh"
build=${VELMARIC_BUILD_DIR:-$here/../build}
cd "$build"
"$here/test-env.sh" ctest --output-on-failure -j"$(nproc)" "$@"
