#!/usr/bin/env bash
# Runs the version test of install_win32_test once per Windows version that
# Wine can be told to report, in a prefix of its own (the setting is
# prefix-wide), and checks the answers against each version.
# Usage: version_under_wine.sh <wine-run.sh> <install_win32_test.exe> <prefix>
set -euo pipefail
run="$1" exe="$2"
export VELNOR_WINEPREFIX="$3"
"$run" cmd /c exit 0 >/dev/null 2>&1 || true  # creates the prefix once
for version in vista win7 win8 win10; do
  WINEPREFIX="$VELNOR_WINEPREFIX" WINEDEBUG=-all timeout 60 \
    wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$version" /f >/dev/null 2>&1
  WINEPREFIX="$VELNOR_WINEPREFIX" timeout 60 wineserver -w || true
  VELNOR_EXPECT_VERSION="$version" timeout 120 "$run" "$exe" --gtest_filter='VersionTest.*'
done
