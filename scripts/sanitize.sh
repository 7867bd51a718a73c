#!/usr/bin/env bash
# Builds the core, the CLI and the tests that need no window with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/, and runs those tests.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=build-asan bash scripts/build.sh -DREVIZEVOZ_SANITIZE=ON -DREVIZEVOZ_GUI=OFF -DREVIZEVOZ_BENCH=OFF
# Mesa's drivers keep allocations for the life of the process: their leaks are not ours.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-asan && ctest --output-on-failure -j"$(nproc)" --timeout 900 -LE 'gui|install')
