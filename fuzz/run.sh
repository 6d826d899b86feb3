#!/usr/bin/env bash
# Runs one fuzz target for a bounded time: run.sh TARGET_BINARY SECONDS
# The seed corpus in the repo is read, never written: new inputs go to a temporary folder.
# A crash, leak, timeout or sanitizer report fails the run and leaves the input in
# build/fuzz/artifacts/.
set -euo pipefail
binary=$1 seconds=$2
name=$(basename "$binary")
here=$(cd "$(dirname "$0")" && pwd)
artifacts=$(dirname "$binary")/artifacts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$artifacts"
options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
         -artifact_prefix="$artifacts/$name-")
[ -f "$here/$name.dict" ] && options+=(-dict="$here/$name.dict")
"$binary" "${options[@]}" "$work" "$here/corpus/$name" 2>&1 |
  grep -E '^(INFO: (Seed|Done)|#[0-9]+ +DONE|stat::(number_of_executed_units|new_units_added|peak_rss_mb)|==[0-9]+==|SUMMARY|artifact_prefix|Test unit written)' || true
exit "${PIPESTATUS[0]}"
