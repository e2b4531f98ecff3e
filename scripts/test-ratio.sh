#!/usr/bin/env bash
# Prints the size of the test suite against the code it tests, in lines:
# every file under tests/ except the kept fuzz inputs, against every source
# file of the program, the library and the tools.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { find "$@" -type f -print0 | xargs -0 cat | wc -l; }
tests=$(count tests -not -path 'tests/fuzz-regressions/*')
code=$(count app audio platform player synth tools)
awk -v t="$tests" -v c="$code" 'BEGIN {
  printf "tests: %d lines\ncode:  %d lines (app audio platform player synth tools)\nratio: %.1f %%\n", t, c, 100 * t / c
}'
