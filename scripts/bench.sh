#!/usr/bin/env bash
# Runs the benchmarks and prints their figures. Nothing here can fail on a
# slow machine: the goals are printed beside the figures, not enforced.
#
# Usage: scripts/bench.sh [size] [startup] [download] [route] [window] [resume]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh >/dev/null
wanted="${*:-size startup download route window resume}"
want() { [[ " $wanted " == *" $1 "* ]]; }

windows_build() {
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j2 "$@" >/dev/null
}

if want size; then
  echo "== size of the release program"
  # The size does not depend on whose subject is checked; one stands in.
  VELNOR_SETUP_PUBLISHER="${VELNOR_SETUP_PUBLISHER:-CN=Velnor, O=Velnor, C=CN}" \
    cmake --workflow --preset release >/dev/null
  python3 bench/size_report.py dist/velnor-installer.exe build/release/velnor-installer.map
fi

if want startup; then
  echo "== start-up: process start to first painted frame"
  windows_build --target velnor-installer minimal-window startup-bench
  export VELNOR_WINEPREFIX="$root/build/windows/wineprefix-bench"
  bin="$root/build/windows"
  # Both programs start the same way, from a folder of their own, on a
  # private display; the installer's download fails there (nothing listens),
  # which happens after its first frame.
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cp "$bin/velnor-installer.exe" "$bin/bench/minimal-window.exe" "$work/"
  (cd "$work" && timeout 600 xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$root/cmake/wine-run.sh" "$bin/bench/startup-bench.exe" 7 velnor-installer.exe minimal-window.exe) ||
    echo "start-up benchmark: no figures (the benchmarks after it still run)"
  WINEPREFIX="$VELNOR_WINEPREFIX" timeout 60 wineserver -k 2>/dev/null || true
fi

if want download && [ -x scripts/bench-download.sh ]; then
  echo "== download: DownloadFile against a bare WinHTTP loop"
  scripts/bench-download.sh
fi

if want route; then
  echo "== route: what choosing the route adds before the first request"
  windows_build --target route-bench
  /usr/bin/python3 bench/route_bench.py build/windows
fi

if want window && [ -x bench/bench_window.sh ]; then
  echo "== download with the window: the installer end to end against a bare WinHTTP loop"
  bench/bench_window.sh
fi

if want resume; then
  echo "== resume: a download reset once at half its body against the same download uncut"
  windows_build --target download_check
  /usr/bin/python3 bench/resume_bench.py --build build/windows
fi
