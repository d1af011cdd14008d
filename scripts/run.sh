#!/usr/bin/env bash
# The main job, as a demonstration on this machine only: builds
# velnor-installer.exe with the loopback origins of the windows preset and a
# demonstration setup program, serves that program from a local TLS download
# server on 127.0.0.1:8443 (throttled, so the progress can be watched for
# about 12 s), and runs the installer under Wine in a throwaway prefix under
# build/ that trusts the test CA. It uses your display when DISPLAY is set,
# else a private Xvfb; frames and an animated GIF of the progress go to
# out/demo/. The demonstration setup program is signed by a throwaway
# publisher made for this run, and the installer is built (in build/demo)
# expecting exactly that publisher. Nothing outside loopback is contacted.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh
bin="$root/build/demo"
publisher_cn="Velnor 演示发行者 $(date +%Y%m%d%H%M%S)"
cmake --preset windows -B "$bin" \
  -DVELNOR_SETUP_PUBLISHER="CN=$publisher_cn, O=Velnor, C=CN" >/dev/null
cmake --build "$bin" -j2 --target velnor-installer velnor-demo-setup >/dev/null

VELNOR_BUILD="$bin" exec /usr/bin/python3 demo/demo.py \
  --demo-setup "$bin/demo/velnor-demo-setup.exe" \
  --publisher "$publisher_cn" \
  --prefix "$bin/wineprefix-demo" \
  --out "$root/out/demo"
