#!/bin/sh
# Runs every fuzz target for a bounded time on a copy of its seed corpus.
# Usage: run_fuzz.sh <fuzz build folder> <seconds per target>
set -eu
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
status=0
for target in dictionary po_catalogue translator directives sections resource_kinds resources; do
  bin="$build/fuzz/${target}_fuzz"
  [ -x "$bin" ] || continue
  work="$build/corpus-$target"
  mkdir -p "$work"
  cp "$here/corpus/$target/"* "$work/"
  echo "== ${target}_fuzz for ${seconds}s"
  if ! "$bin" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/$target-" \
      "$work" 2>"$build/$target.log"; then
    tail -60 "$build/$target.log"
    echo "FAILED: ${target}_fuzz"
    status=1
  else
    grep -E "stat::number_of_executed_units|Done" "$build/$target.log" | tail -2
  fi
done
exit $status
