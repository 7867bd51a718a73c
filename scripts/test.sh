#!/usr/bin/env bash
# Sets up, builds and runs every test, then the tests that need no window again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
(cd build && ctest --output-on-failure -j"$(nproc)" --timeout 600)
bash scripts/sanitize.sh
for target in $(ls fuzz/*_fuzz.cpp 2>/dev/null | xargs -n1 basename | sed 's/\.cpp$//'); do
  bash scripts/fuzz.sh "$target" "${FUZZ_SECONDS:-10}"
done
