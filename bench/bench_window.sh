#!/usr/bin/env bash
# The download-with-window benchmark (bench_window.py): the installer end to
# end on a 200 MB payload against the bare WinHTTP loop, under Wine on a
# private Xvfb, against the loopback download server on 127.0.0.1:8443.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target velnor-installer-frames winhttp-get e2e_setup e2e_probe \
  velnor_trust_ca >/dev/null
bin="$root/build/windows"
VELNOR_BENCH_BARE="$bin/bench/winhttp-get.exe" exec python3 bench/bench_window.py \
  --source "$root" \
  --wine-run "$root/cmake/wine-run.sh" \
  --installer "$bin/bench/velnor-installer-frames.exe" \
  --setup "$bin/tests/e2e/e2e_setup.exe" \
  --probe "$bin/tests/e2e/e2e_probe.exe" \
  --trust-ca "$bin/net/velnor_trust_ca.exe" \
  --prefix "$bin/wineprefix-bench-window" \
  --work "$bin/bench-window" \
  bench_window
