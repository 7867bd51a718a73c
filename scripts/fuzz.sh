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
limit=()
name=${target%_fuzz}
format=${name%%_*}
[ -d "tests/data/$format" ] && seeds+=("tests/data/$format")
# Real files of the format from the corpus beside the source tree, when it is there; the .x
# targets take only the files of their own kind (text, binary, compressed).
case $target in
  x_text_fuzz) kind='txt ' ;;
  x_binary_fuzz) kind='bin ' ;;
  x_compressed_fuzz) kind='zip' ;;
  *) kind='' ;;
esac
# Textures sit beside the models of every format, so image targets search the whole corpus.
case $target in
  dds_fuzz) where=../shared/corpus ;;
  *) where=../shared/corpus/$format ;;
esac
if [ -d "$where" ]; then
  real=build-fuzz/seeds/$target
  rm -rf "$real"
  mkdir -p "$real"
  while IFS= read -r -d '' file; do
    if [ -n "$kind" ] && [[ "$(head -c 12 "$file" | tail -c 4)" != *"$kind"* ]]; then
      continue
    fi
    cp "$file" "$real/$(echo "${file#"$where"/}" | tr / _)"
  done < <(case $format in
    gltf) find "$where" -type f \( -iname '*.gltf' -o -iname '*.glb' \) -print0 ;;
    *) find "$where" -type f -iname "*.$format" -print0 ;;
  esac)
  seeds+=("$real")
  # Real files run to megabytes: mutating whole ones would run a few inputs a second. Longer
  # files are cut to this length as they are loaded.
  limit=(-max_len=65536)
fi
dict=()
[ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
echo "fuzz: $target for ${seconds}s (seeds: ${seeds[*]:-none})"
"build-fuzz/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=0 \
  "${dict[@]}" "${limit[@]}" "$corpus" "${seeds[@]}" 2>build-fuzz/$target.log || {
  tail -n 60 "build-fuzz/$target.log"
  echo "fuzz: $target found a failure"
  exit 1
}
grep -E '^(Done|#[0-9]+ *DONE)' "build-fuzz/$target.log" | tail -n1 || true
