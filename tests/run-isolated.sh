#!/bin/sh
# Runs one test binary in a fresh working directory with private settings,
# so tests never touch the user's configuration or each other's files.
dir=$(mktemp -d "${TMPDIR:-/tmp}/velmaric-test.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT INT TERM
mkdir -p "$dir/config"
cd "$dir" || exit 1
XDG_CONFIG_HOME="$dir/config" "$@"
