#!/usr/bin/env bash
# Builds the converter and starts its window: ./scripts/run.sh [FILE] (a .kzp FILE is opened).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
  echo "        Without one, try: xvfb-run -a ./scripts/run.sh ${*:-}, or build/bin/revizevoz-cli." >&2
  exit 1
fi
exec build/bin/revizevoz "$@"
