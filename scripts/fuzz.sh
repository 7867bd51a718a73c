#!/usr/bin/env bash
# Builds one libFuzzer target with clang, ASan and UBSan, and runs it for SECONDS.
# usage: scripts/fuzz.sh TARGET SECONDS      (TARGET as in fuzz/TARGET.cpp, e.g. kzp_fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: scripts/fuzz.sh TARGET SECONDS}
seconds=${2:-30}
bash scripts/setup.sh
cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREVIZEVOZ_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "$target" >/dev/null
corpus=build-fuzz/corpus/$target
mkdir -p "$corpus"
seeds=()
name=${target%_fuzz}
[ -d "tests/data/${name%%_*}" ] && seeds+=("tests/data/${name%%_*}")
dict=()
[ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
echo "fuzz: $target for ${seconds}s"
"build-fuzz/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=0 \
  "${dict[@]}" "$corpus" "${seeds[@]}" 2>build-fuzz/$target.log || {
  tail -n 60 "build-fuzz/$target.log"
  echo "fuzz: $target found a failure"
  exit 1
}
grep -E '^(Done|#[0-9]+ *DONE)' "build-fuzz/$target.log" | tail -n1 || true
