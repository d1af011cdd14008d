#!/usr/bin/env bash
# Runs the benchmarks and prints their figures. Nothing here can fail on a
# slow machine: the goals are printed beside the figures, not enforced. A
# benchmark that cannot run is named at the end, after the others have run,
# and the exit code is 1.
#
# Usage: scripts/bench.sh [size] [startup] [download] [route] [window] [resume]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

all="size startup download route window resume"
wanted="${*:-$all}"
for name in $wanted; do
  [[ " $all " == *" $name "* ]] || { echo "bench.sh: no benchmark \"$name\" (there are: $all)" >&2; exit 2; }
done

scripts/setup.sh >/dev/null

windows_build() {
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j2 "$@" >/dev/null
}

bench_size() {
  echo "== size of the release program"
  # The size does not depend on whose subject is checked; one stands in.
  VELNOR_SETUP_PUBLISHER="${VELNOR_SETUP_PUBLISHER:-CN=Velnor, O=Velnor, C=CN}" \
    cmake --workflow --preset release >/dev/null
  python3 bench/size_report.py dist/velnor-installer.exe build/release/velnor-installer.map
}

bench_startup() {
  echo "== start-up: process start to first painted frame"
  windows_build --target velnor-installer minimal-window startup-bench
  local prefix="$root/build/windows/wineprefix-bench" bin="$root/build/windows" work code=0
  # Both programs start the same way, from a folder of their own, on a
  # private display; the installer's download fails there (nothing listens),
  # which happens after its first frame.
  work=$(mktemp -d)
  cp "$bin/velnor-installer.exe" "$bin/bench/minimal-window.exe" "$work/"
  (cd "$work" && VELNOR_WINEPREFIX="$prefix" timeout 600 xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$root/cmake/wine-run.sh" "$bin/bench/startup-bench.exe" 7 velnor-installer.exe minimal-window.exe) || code=$?
  WINEPREFIX="$prefix" timeout 60 wineserver -k 2>/dev/null || true
  rm -rf "$work"
  return $code
}

bench_download() {
  echo "== download: DownloadFile against a bare WinHTTP loop, from nginx"
  scripts/bench-download.sh
}

bench_route() {
  echo "== route: what choosing the route adds before the first request"
  windows_build --target route-bench
  /usr/bin/python3 bench/route_bench.py build/windows
}

bench_window() {
  echo "== download with the window: the installer end to end against a bare WinHTTP loop"
  bench/bench_window.sh
}

bench_resume() {
  echo "== resume: a download reset once at half its body against the same download uncut"
  windows_build --target download_check
  /usr/bin/python3 bench/resume_bench.py --build build/windows
}

export root
export -f windows_build bench_size bench_startup bench_download bench_route bench_window bench_resume
failed=()
for name in $all; do
  [[ " $wanted " == *" $name "* ]] || continue
  # In a shell of its own, so that a failing step ends this benchmark only
  # (a function whose status is tested with || runs without errexit).
  bash -euo pipefail -c '"bench_$0"' "$name" || failed+=("$name")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "bench.sh: no figures from: ${failed[*]}" >&2
  exit 1
fi
