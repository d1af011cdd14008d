#!/usr/bin/env bash
# The download-with-window benchmark (bench_window.py): the installer end to
# end on a 200 MB payload against the bare WinHTTP loop, under Wine on a
# private Xvfb, against the loopback download server on 127.0.0.1:8443.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target velnor-installer-frames winhttp-get peer >/dev/null
bin="$root/build/windows"
exec /usr/bin/python3 bench/bench_window.py \
  --installer "$bin/bench/velnor-installer-frames.exe" \
  --bare "$bin/bench/winhttp-get.exe" \
  --setup "$bin/tests/peer.exe" \
  --prefix "$bin/wineprefix-bench-window" "$@"
