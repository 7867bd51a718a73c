#!/usr/bin/env bash
# Configures and builds into build/ (binaries in build/bin/), or into $BUILD_DIR; any arguments
# go to CMake as further options.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
launcher=()
# Rebuilds and other work trees of the same sources reuse objects when ccache is there.
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$PWD")}" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# CI treats warnings as errors; a developer's build only shows them.
werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S . -B "${BUILD_DIR:-build}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREVIZEVOZ_WERROR=$werror "${launcher[@]}" "$@" >/dev/null
cmake --build "${BUILD_DIR:-build}" -j"$(nproc)"
