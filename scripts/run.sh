#!/usr/bin/env bash
# Builds the converter. The window comes with the GUI; until then this prints how to use the CLI.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
echo "Built build/bin/revizevoz-cli. The preview window is not built yet; convert with:"
echo "  build/bin/revizevoz-cli convert --to kzp|lwo|mx|x FILE..."
echo "  build/bin/revizevoz-cli info [--json] FILE..."
echo
build/bin/revizevoz-cli info "${@:-samples/cube.mqo}"
