#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test in the test environment.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/install-deps.sh"
"$here/build.sh"
build=${VELMARIC_BUILD_DIR:-$here/../build}
cd "$build"
# A test that fails is run once more and its first failure stays in the log: one rare start-up
# stall of the suite under full load has been seen and is not yet understood.
"$here/test-env.sh" ctest --output-on-failure -j"$(nproc)" --repeat until-pass:2 "$@"
