#!/usr/bin/env bash
# Makes docs/window.png, the README's picture of the window: builds the
# window's test build that shows a chosen progress (half-way through a
# download, with its speed) instead of installing, runs it under Wine on a
# private Xvfb display in a throwaway prefix under the build folder, and
# writes the window's pixels as they appear on the screen.
# Usage: scripts/screenshot.sh [build folder, default build/screenshot] [picture, default docs/window.png]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="${1:-$root/build/screenshot}"
picture="${2:-$root/docs/window.png}"

cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" -j2 --target app_shown_progress >/dev/null
mkdir -p "$(dirname "$picture")"
python3 app/window_under_wine.py "$root/cmake/wine-run.sh" "$build/app" \
  "$build/wineprefix-screenshot" --shot "$picture"
echo "wrote $picture"
