#!/usr/bin/env bash
# The main job: build the installer for Windows and run it under Wine in a
# throwaway prefix under build/, then show what it left behind.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target velnor-installer

export VELNOR_WINEPREFIX="$PWD/build/windows/wineprefix-run"
cmake/wine-run.sh build/windows/velnor-installer.exe && code=0 || code=$?
WINEPREFIX="$VELNOR_WINEPREFIX" wineserver -w || true

list="$(ls -d "$VELNOR_WINEPREFIX"/drive_c/users/*/.velnor 2>/dev/null | grep -v /Public/ | head -n 1)"
echo "velnor-installer.exe exited with code $code"
if [ -n "$list" ] && [ -f "$list/config.toml" ]; then
  echo "software list $list/config.toml ($(stat -c %s "$list/config.toml") bytes):"
  cat "$list/config.toml"
else
  echo "no software list was written"
fi
