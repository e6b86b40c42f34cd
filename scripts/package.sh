#!/usr/bin/env bash
# Installs what is missing, builds the suite and makes the Debian package in the build folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/install-deps.sh"
"$here/build.sh"
build=${VELMARIC_BUILD_DIR:-$here/../build}
cd "$build"
cpack -G DEB
