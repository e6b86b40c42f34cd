#!/usr/bin/env bash
# Installs what is missing, builds the suite and starts it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/install-deps.sh"
"$here/build.sh" --target velmaric
build=${VELMARIC_BUILD_DIR:-$here/../build}
exec "$build/src/app/velmaric" "$@"
