#!/usr/bin/env bash
# Runs the prompt tests of install_prompt_win32_test: an Xvfb display of its
# own, a Wine prefix of its own whose browser is a stand-in script that
# appends every URL it is handed to a log, and a fresh current directory.
# Usage: prompt_under_wine.sh <wine-run.sh> <install_prompt_win32_test.exe> <prefix>
set -euo pipefail
run="$1" exe="$2"
export VELNOR_WINEPREFIX="$3"
work="$(mktemp -d "${VELNOR_WINEPREFIX}.run.XXXXXX")"
cleanup() {
  WINEPREFIX="$VELNOR_WINEPREFIX" timeout 30 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

cat >"$work/browser" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$1" >>"$work/browser.log"
SCRIPT
chmod +x "$work/browser"
: >"$work/browser.log"

"$run" cmd /c exit 0 >/dev/null 2>&1 || true  # creates the prefix once
WINEPREFIX="$VELNOR_WINEPREFIX" WINEDEBUG=-all timeout 60 wine reg add \
  'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d "$work/browser" /f >/dev/null 2>&1
WINEPREFIX="$VELNOR_WINEPREFIX" timeout 60 wineserver -w || true

cd "$work"
log="$work/browser.log"
# -a: the first free display number, so parallel runs do not collide.
VELNOR_BROWSER_LOG="Z:${log//\//\\}" xvfb-run -a -s "-screen 0 1024x768x24" \
  timeout 240 "$run" "$exe"
