#!/usr/bin/env bash
# Builds the parser fuzz targets listed in `targets` with clang++ (libFuzzer, address and
# undefined-behaviour checks, every finding fatal) and runs each for a while over its seeds.
#   run-fuzzers.sh [--seconds N] [--build DIR] [NAME...]
# Exits 77 (skipped) when clang++ or libFuzzer is missing, 1 under VELMARIC_NO_SKIP (CI, where
# nothing may skip); findings are kept in DIR/findings.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
seconds=3
build=${TMPDIR:-/tmp}/velmaric-fuzz
while [[ $# -gt 0 ]]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    -*) echo "usage: run-fuzzers.sh [--seconds N] [--build DIR] [NAME...]" >&2; exit 2 ;;
    *) break ;;
  esac
done
cxx=${FUZZ_CXX:-clang++}
mkdir -p "$build/findings"
probe=$build/probe
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' >"$probe.cpp"
if ! "$cxx" -fsanitize=fuzzer "$probe.cpp" -o "$probe" 2>/dev/null; then
  echo "run-fuzzers: $cxx cannot build a libFuzzer target (packages clang, libclang-rt-14-dev)"
  [[ ${VELMARIC_NO_SKIP:-0} != 0 ]] && exit 1
  exit 77
fi

flags=(-std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
declare -a names=()
build_one() { # name sources-and-modules...
  local name=$1; shift
  local sources=() includes=() modules=()
  for item in "$@"; do
    if [[ $item == *.cpp ]]; then sources+=("$top/$item"); includes+=("-I$top/$(dirname "$item")")
    else modules+=("$item"); fi
  done
  local binary=$build/$name newest
  # Headers beside the parsers count too, so a changed declaration rebuilds the target.
  # shellcheck disable=SC2046
  newest=$(ls -t "$here/$name.cpp" "${sources[@]}" "$here/targets" $(printf '%s/*.h ' "${sources[@]%/*}") | head -n1)
  [[ -x $binary && $binary -nt $newest ]] && return 0
  local packages=()
  [[ ${#modules[@]} -eq 0 ]] || read -ra packages <<<"$(pkg-config --cflags --libs "${modules[@]}")"
  "$cxx" "${flags[@]}" "${includes[@]}" "$here/$name.cpp" "${sources[@]}" "${packages[@]}" -o "$binary"
}

# Builds in parallel, one compiler per core.
pids=()
while read -r name rest; do
  [[ -z $name || $name == \#* ]] && continue
  if [[ $# -gt 0 ]] && [[ " $* " != *" $name "* ]]; then continue; fi
  names+=("$name")
  # shellcheck disable=SC2086
  build_one "$name" $rest &
  pids+=($!)
  while [[ $(jobs -rp | wc -l) -ge $(nproc) ]]; do wait -n || true; done
done <"$here/targets"
failed=0
for p in "${pids[@]}"; do wait "$p" || failed=1; done
[[ $failed -eq 0 ]] || { echo "run-fuzzers: a target did not build" >&2; exit 1; }

for name in "${names[@]}"; do
  # New inputs go to a corpus in the build folder; the seeds stay as they are.
  mkdir -p "$build/corpus/$name"
  echo "== $name"
  log=$build/$name.log status=0
  "$build/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$name-" "$build/corpus/$name" "$here/corpus/$name" \
    >"$log" 2>&1 || status=$?
  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|SUMMARY|.*runtime error)' "$log" || true
  [[ $status -eq 0 ]] || { tail -n 40 "$log" >&2; echo "run-fuzzers: $name found a fault; input in $build/findings" >&2; failed=1; }
done
exit $failed
