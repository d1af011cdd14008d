#!/usr/bin/env bash
# Makes docs/window.png, the README's picture of the window: builds the test
# build of the window whose stand-in worker shows a chosen progress instead of
# installing (52.4 % of a 96 MB download at 3.4 MB/s), runs it under Wine on a
# private 1920 x 1080 Xvfb in a throwaway prefix under the build folder, and
# writes the centred 560 x 310 window's pixels as they appear on the screen.
# Usage: tools/screenshot.sh [build folder, default build/screenshot] [picture, default docs/window.png]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="$(realpath -m "${1:-$root/build/screenshot}")"
picture="$(realpath -m "${2:-$root/docs/window.png}")"

cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" -j2 --target app_shown_progress >/dev/null
mkdir -p "$(dirname "$picture")"

export VELNOR_WINEPREFIX="$build/wineprefix-screenshot"
export VELNOR_TEST_PROGRESS="52743372 100663296 3565158"  # received, total, bytes per second
export WINE_RUN="$root/cmake/wine-run.sh" PROGRAM="$build/tools/app_shown_progress.exe" PICTURE="$picture"
trap 'WINEPREFIX="$VELNOR_WINEPREFIX" wineserver -k 2>/dev/null || true' EXIT

# shellcheck disable=SC2016  # expanded by the inner shell
xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
  set -euo pipefail
  timeout 300 "$WINE_RUN" cmd /c exit 0 >/dev/null 2>&1  # makes the prefix the first time
  "$WINE_RUN" "$PROGRAM" >/dev/null 2>&1 &
  for _ in $(seq 120); do
    xdotool search --onlyvisible --name "^Velnor Installer$" >/dev/null 2>&1 && break
    sleep 0.5
  done
  xdotool search --onlyvisible --name "^Velnor Installer$" >/dev/null || {
    echo "the window did not open" >&2
    exit 1
  }
  sleep 2  # time for the stand-in worker to report and the window to repaint
  import -window root -crop 560x310+680+385 +repage -strip "$PICTURE"
  WINEPREFIX="$VELNOR_WINEPREFIX" wineserver -k
'
echo "wrote $picture"
